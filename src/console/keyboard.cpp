// Keyboard reads (console/keyboard.h): the key waits, the menu keys, ESC polled during a scan and
// the LBA field's editor.
// Thread: main.
#include "console/keyboard.h"

#include <algorithm>
#include <string>

#include "app/state.h"
#include "console/output.h"

namespace {

plat::InputRecord NextRecord() {
    plat::WaitForInput(App.InputHandle);
    return plat::ReadInput(App.InputHandle);
}

bool IsKeyPress(const plat::InputRecord& r) { return r.EventType == plat::KeyEvent && r.KeyDown; }

void PutEditChar(plat::Coord& pos, char c) { plat::WriteCharacters(App.OutputHandle, std::string_view(&c, 1), pos); }

}  // namespace

int LbaFieldDigits() {
    const std::int64_t lastLba = App.DriveSectors[static_cast<std::size_t>(App.CurrentDrive + 1)] - 1;
    return std::max<int>(10, static_cast<int>(std::to_string(std::max<std::int64_t>(lastLba, 0)).size()));
}

void EndOnF10(std::uint16_t virtualKey) {
    if (virtualKey == vkF10) plat::ExitProcess(0);
}

void ErrorBeep() { plat::Beep(120, 30); }

bool IsDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

void WaitForEnter() {
    plat::FlushInput(App.InputHandle);
    for (;;) {
        const plat::InputRecord r = NextRecord();
        EndOnF10(r.VirtualKeyCode);
        if (r.VirtualKeyCode == vkReturn) return;
    }
}

std::uint16_t WaitMenuKey() {
    plat::FlushInput(App.InputHandle);
    for (;;) {
        const plat::InputRecord r = NextRecord();
        if (IsKeyPress(r)) {
            switch (r.VirtualKeyCode) {
                case vkDown:
                case vkUp:
                case vkF4:
                case vkReturn:
                case vkSpace:
                case vkEscape:
                    return r.VirtualKeyCode;
                default:
                    break;
            }
        }
        EndOnF10(r.VirtualKeyCode);
    }
}

bool PollEscape() {
    if (plat::PendingInputCount(App.InputHandle) == 0) return false;
    const plat::InputRecord r = plat::ReadInput(App.InputHandle);
    EndOnF10(r.VirtualKeyCode);
    return r.VirtualKeyCode == vkEscape;
}

bool EditLba(std::int64_t& value, bool isStart) {
    plat::FlushInput(App.InputHandle);
    plat::Coord pos = plat::GetScreenBufferInfo(App.OutputHandle).CursorPosition;
    const int start = pos.X;
    const int last = start + LbaFieldDigits() - 1;
    std::string text = std::to_string(value);
    for (char c : text) {
        PutEditChar(pos, c);
        ++pos.X;
        GotoColumn(pos.X);
    }
    for (;;) {
        const plat::InputRecord r = NextRecord();
        if (IsKeyPress(r)) {
            if (r.VirtualKeyCode == vkEscape) return false;
            const char c = r.AsciiChar;
            if (c >= '0' && c <= '9' && pos.X <= last) {
                text += c;
                PutEditChar(pos, c);
                ++pos.X;
                GotoColumn(pos.X);
            } else if (c == vkBack && pos.X >= start + 1) {
                --pos.X;
                text.pop_back();
                PutEditChar(pos, '\0');
                GotoColumn(pos.X);
            } else if (c == vkReturn && IsDigits(text)) {
                const std::int64_t sectors = App.DriveSectors[static_cast<std::size_t>(App.CurrentDrive + 1)];
                // At most 19 digits fit a signed 64-bit value; a longer text is out of range.
                const bool fits = text.size() <= 18 || (text.size() == 19 && text <= "9223372036854775807");
                const std::int64_t v = fits ? std::stoll(text) : -1;
                const bool outOfRange =
                    v < 0 || v >= sectors || (isStart && v > App.ScanEndLba) || (!isStart && v < App.ScanStartLba);
                if (!outOfRange) {
                    value = v;
                    return true;
                }
                ErrorBeep();
            }
        }
        EndOnF10(r.VirtualKeyCode);
    }
}
