// platenhawk-exit-check.exe WAY: takes the console it was started from as the program does, then
// ends in a way the program has no key for, so that scripts/check-wine can see the console come
// back as it was. A second thread keeps drawing meanwhile, as the program's clock does.
//   crash       an access violation nobody handles
//   terminate   an exception nobody catches
// Ctrl+Break is not among them: Wine does not pass it to a program's console handlers.
// Threads: main, clock.
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "platform/platform.h"

namespace {

plat::Handle Out() { return plat::GetStandardHandle(plat::StdHandle::Output); }

void KeepDrawing() {
    for (char c = 'A';; c = c == 'Z' ? 'A' : static_cast<char>(c + 1)) {
        plat::FillCharacter(Out(), c, 80, plat::Coord{0, 0});
        plat::SleepMs(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view way = argc == 2 ? argv[1] : "";
    if (way != "crash" && way != "terminate") {
        std::fputs("usage: platenhawk-exit-check crash | terminate\n", stderr);
        return 2;
    }
    plat::AllocateConsole();
    plat::SetTitle("Platenhawk exit check");
    plat::SetInputModeRaw(plat::GetStandardHandle(plat::StdHandle::Input));
    plat::SetScreenBufferSize(Out(), plat::Coord{80, 25});
    plat::SetCursorInfo(Out(), plat::CursorInfo{100, false});
    plat::FillAttribute(Out(), 0x1F, 80 * 25, plat::Coord{0, 0});
    plat::FillCharacter(Out(), '#', 80 * 25, plat::Coord{0, 0});
    plat::SetTextAttribute(Out(), 0x4E);
    plat::SetCursorPosition(Out(), plat::Coord{40, 12});
    plat::StartThread(KeepDrawing);
    plat::SleepMs(500);
    if (way == "crash") RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    throw std::runtime_error("nobody catches this");
}
