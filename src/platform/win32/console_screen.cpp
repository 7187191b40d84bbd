// The screen of the Win32 console: the drawing calls on the screen buffer, the text stream on the
// standard output, key input, and the conversion of Windows-1251 texts to the OEM code page 866.
//
// The program's texts and glyphs are code page 866 bytes. They reach the console as UTF-16,
// through fixed tables and the wide-character calls, so that the screens read the same whatever
// the system's ANSI and OEM code pages are (as they did with the console's own conversion on a
// Russian system).
//
// Runs on the main thread, with the clock and ticker threads writing as well. Every call that
// changes the console holds a TOutput, so that none lands once the hand-over (console.cpp) has
// begun to put the console back.
// Threads: main, clock, ticker.
#include <string>

#include "platform/screen/codepage.h"
#include "platform/win32/console_parts.h"

namespace plat {

using con::FromNative;
using con::Native;
using con::TOutput;

namespace {

// The record of the last read; a failed read leaves it as it was.
INPUT_RECORD LastRecord{};

// The characters the console holds for code page 866 bytes.
std::wstring Wide(std::string_view oem) {
    std::wstring wide(oem.size(), L' ');
    for (std::size_t i = 0; i < oem.size(); ++i)
        wide[i] = static_cast<wchar_t>(screen::OemToUtf16(static_cast<std::uint8_t>(oem[i])));
    return wide;
}

wchar_t Wide(char oem) { return static_cast<wchar_t>(screen::OemToUtf16(static_cast<std::uint8_t>(oem))); }

}  // namespace

ScreenBufferInfo GetScreenBufferInfo(Handle out) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(Native(out), &info);
    return ScreenBufferInfo{FromNative(info.dwSize), FromNative(info.dwCursorPosition), info.wAttributes};
}

Coord GetLargestWindowSize(Handle out) { return FromNative(GetLargestConsoleWindowSize(Native(out))); }

bool SetCursorPosition(Handle out, Coord pos) {
    const TOutput output;
    if (!output.Allowed()) return false;
    con::NoteCursorMove();
    return SetConsoleCursorPosition(Native(out), Native(pos)) != FALSE;
}

CursorInfo GetCursorInfo(Handle out) {
    CONSOLE_CURSOR_INFO info{};
    GetConsoleCursorInfo(Native(out), &info);
    return CursorInfo{info.dwSize, info.bVisible != FALSE};
}

void SetCursorInfo(Handle out, const CursorInfo& info) {
    const CONSOLE_CURSOR_INFO native{info.Size, info.Visible ? -1 : 0};
    const TOutput output;
    if (output.Allowed()) SetConsoleCursorInfo(Native(out), &native);
}

void SetTextAttribute(Handle out, std::uint16_t attribute) {
    const TOutput output;
    if (output.Allowed()) SetConsoleTextAttribute(Native(out), attribute);
}

void WriteStream(std::string_view bytes) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const TOutput output;
    if (!output.Allowed()) return;
    // On a screen not taken the stream goes on after the user's output, not where the size check
    // left the cursor.
    con::ReturnMovedCursor(out);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::wstring wide = Wide(bytes);
        std::wstring_view left = wide;
        while (!left.empty()) {
            DWORD written = 0;
            if (!WriteConsoleW(out, left.data(), static_cast<DWORD>(left.size()), &written, nullptr) || written == 0)
                return;
            left.remove_prefix(written);
        }
        return;
    }
    while (!bytes.empty()) {  // redirected: the bytes as they are
        DWORD written = 0;
        if (!WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

std::uint32_t FillCharacter(Handle out, char c, std::uint32_t count, Coord at) {
    const TOutput output;
    if (!output.Allowed()) return 0;
    con::TakeScreen();
    DWORD written = 0;
    FillConsoleOutputCharacterW(Native(out), Wide(c), count, Native(at), &written);
    return written;
}

std::uint32_t FillAttribute(Handle out, std::uint16_t attribute, std::uint32_t count, Coord at) {
    const TOutput output;
    if (!output.Allowed()) return 0;
    con::TakeScreen();
    DWORD written = 0;
    FillConsoleOutputAttribute(Native(out), attribute, count, Native(at), &written);
    return written;
}

std::uint32_t WriteCharacters(Handle out, std::string_view chars, Coord at) {
    const TOutput output;
    if (!output.Allowed()) return 0;
    con::TakeScreen();
    DWORD written = 0;
    const std::wstring wide = Wide(chars);
    WriteConsoleOutputCharacterW(Native(out), wide.data(), static_cast<DWORD>(wide.size()), Native(at), &written);
    return written;
}

void ScrollBuffer(Handle out, Rect scroll, Coord dest, char fill, std::uint16_t fillAttribute) {
    const SMALL_RECT rect{scroll.Left, scroll.Top, scroll.Right, scroll.Bottom};
    CHAR_INFO cell{};
    cell.Char.UnicodeChar = Wide(fill);
    cell.Attributes = fillAttribute;
    const TOutput output;
    if (!output.Allowed()) return;
    con::TakeScreen();
    ScrollConsoleScreenBufferW(Native(out), &rect, nullptr, Native(dest), &cell);
}

void WaitForInput(Handle in) { WaitForSingleObjectEx(Native(in), INFINITE, FALSE); }

InputRecord ReadInput(Handle in) {
    DWORD read = 0;
    ReadConsoleInputA(Native(in), &LastRecord, 1, &read);
    InputRecord record;
    record.EventType = LastRecord.EventType;
    if (LastRecord.EventType == KEY_EVENT) {
        const KEY_EVENT_RECORD& key = LastRecord.Event.KeyEvent;
        record.KeyDown = key.bKeyDown != FALSE;
        record.VirtualKeyCode = key.wVirtualKeyCode;
        record.AsciiChar = key.uChar.AsciiChar;
    }
    return record;
}

std::uint32_t PendingInputCount(Handle in) {
    DWORD count = 0;
    GetNumberOfConsoleInputEvents(Native(in), &count);
    return count;
}

void FlushInput(Handle in) { FlushConsoleInputBuffer(Native(in)); }

void AnsiToOem(std::string& text) {
    for (char& c : text) c = static_cast<char>(screen::AnsiToOemByte(static_cast<std::uint8_t>(c)));
}

}  // namespace plat
