// Start-up (app/setup.h): the stored texts decoded, and the console set up for the 80 x 25 screen.
// Thread: main.
#include "app/setup.h"

#include <cstdint>

#include "app/state.h"
#include "console/output.h"

const std::string_view StoredTitle = "UXVpbHZleCBQbGF0ZW5oYXdrIHYwLjY=";
const std::string_view StoredForumUrl = "d3d3LnF1aWx2ZXguZXhhbXBsZS9iYnM=";
const std::string_view StoredBanner = "UGxhdGVuaGF3ayAoYykgMjAwMy0yMDI2IFF1aWx2ZXggU29mdHdhcmUsIGRpc2sgY2hlY2tzLg==";

namespace {

constexpr int PadMark = 64;

// The value of a Base64 character, PadMark for "=", -1 for a character outside the alphabet.
int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return PadMark;
    return -1;
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
    std::string result;
    int group[4];
    int collected = 0;
    for (char c : text) {
        const int v = Base64Value(c);
        if (v < 0) continue;
        group[collected++] = v;
        if (collected < 4) continue;
        collected = 0;
        const int a = group[0] & 63, b = group[1] & 63, cc = group[2], d = group[3];
        result += static_cast<char>(((a << 2) | (b >> 4)) & 0xFF);
        if (cc != PadMark) result += static_cast<char>(((b << 4) | (cc >> 2)) & 0xFF);
        if (cc != PadMark && d != PadMark) result += static_cast<char>(((cc << 6) | d) & 0xFF);
        if (cc == PadMark || d == PadMark) break;
    }
    return result;
}

void SetBufferSize80x25() { plat::SetScreenBufferSize(App.OutputHandle, plat::Coord{80, 25}); }

bool Is80x25() {
    SetCursor(79, 24);
    const int x1 = plat::GetScreenBufferInfo(App.OutputHandle).CursorPosition.X;
    SetCursor(80, 24);
    const int x2 = plat::GetScreenBufferInfo(App.OutputHandle).CursorPosition.X;
    SetCursor(0, 0);
    return x1 == 79 && x2 < 80;
}

void Fail80x25() {
    const plat::Coord size = plat::GetScreenBufferInfo(App.OutputHandle).Size;
    plat::SayAtExit(std::string(plat::ProgramName()) + ": the terminal is " + std::to_string(size.X) + " x " +
                        std::to_string(size.Y) + "; the screen needs 80 x 25 (columns x rows)",
                    true);
    plat::SayAtExit(std::string(plat::ProgramName()) + ": " + std::string(plat::ScreenSizeHint()), true);
    const std::string rule(27, '\xCD');
    SetColor(clLightRed);
    WriteRawLine({'\xC9', std::string_view(rule), '\xBB'});
    WriteRawLine({'\xBA', " Unable to set 80x25 mode! ", '\xBA'});
    WriteRaw({'\xC8', std::string_view(rule), '\xBC'});
    plat::ExitProcess(0);
}

void SetFullScreen() { plat::SetFullScreen(plat::GetStandardHandle(plat::StdHandle::Output)); }

void SetUpConsole() {
    App.BannerText = DecodeBase64(StoredBanner);
    plat::SetTitle(App.TitleText);
    if (!plat::IsNtPlatform()) {
        WriteRawLine({"This program must be run under Windows NT platform."});
        WriteRaw({"Press [ENTER] to exit..."});
        plat::ReadStdinLine();
        plat::ExitProcess(0);
    }
    App.OutputHandle = plat::GetStandardHandle(plat::StdHandle::Output);
    App.InputHandle = plat::GetStandardHandle(plat::StdHandle::Input);
    ShowCursor(false);
    plat::SetInputModeRaw(App.InputHandle);
    SetBufferSize80x25();
    if (!Is80x25()) Fail80x25();
    ClearScreen();
    SetFullScreen();
}
