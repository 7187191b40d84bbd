// The Win32 console: the screen buffer, the text stream on the standard output, key input and
// the conversion of Windows-1251 texts to the console's OEM code page.
#include <windows.h>
// winuser.h names CharToOemA AnsiToOem as well; the seam's AnsiToOem is defined here.
#undef AnsiToOem

#include "platform/platform.h"

namespace plat {
namespace {

HANDLE Native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

COORD Native(Coord c) { return COORD{c.X, c.Y}; }

Coord FromNative(COORD c) { return Coord{c.X, c.Y}; }

// Ctrl+C reaches the program as a key record once the input mode is 0; answering the signal
// keeps consoles that raise it anyway (Wine's) from ending the process.
BOOL WINAPI KeepCtrlC(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }

// The record of the last read; a failed read leaves it as it was.
INPUT_RECORD LastRecord{};

}  // namespace

bool AllocateConsole() { return AllocConsole() != FALSE; }

Handle GetStandardHandle(StdHandle which) {
    return reinterpret_cast<Handle>(GetStdHandle(which == StdHandle::Input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE));
}

void SetTitle(const std::string& title) { SetConsoleTitleA(title.c_str()); }

bool SetInputModeRaw(Handle in) {
    const bool set = SetConsoleMode(Native(in), 0) != FALSE;
    SetConsoleCtrlHandler(KeepCtrlC, TRUE);
    return set;
}

bool SetScreenBufferSize(Handle out, Coord size) {
    return SetConsoleScreenBufferSize(Native(out), Native(size)) != FALSE;
}

ScreenBufferInfo GetScreenBufferInfo(Handle out) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(Native(out), &info);
    return ScreenBufferInfo{FromNative(info.dwSize), FromNative(info.dwCursorPosition), info.wAttributes};
}

Coord GetLargestWindowSize(Handle out) { return FromNative(GetLargestConsoleWindowSize(Native(out))); }

void SetFullScreen(Handle out) {
    using TSetConsoleDisplayMode = BOOL(WINAPI*)(HANDLE, DWORD, PCOORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    const FARPROC found = GetProcAddress(kernel, "SetConsoleDisplayMode");
    if (found == nullptr) return;
    // FARPROC is the generic procedure type; the detour through void(*)() states the cast is meant.
    const auto setDisplayMode = reinterpret_cast<TSetConsoleDisplayMode>(reinterpret_cast<void (*)()>(found));
    COORD newSize{};
    setDisplayMode(Native(out), CONSOLE_FULLSCREEN_MODE, &newSize);
}

bool SetCursorPosition(Handle out, Coord pos) { return SetConsoleCursorPosition(Native(out), Native(pos)) != FALSE; }

CursorInfo GetCursorInfo(Handle out) {
    CONSOLE_CURSOR_INFO info{};
    GetConsoleCursorInfo(Native(out), &info);
    return CursorInfo{info.dwSize, info.bVisible != FALSE};
}

void SetCursorInfo(Handle out, const CursorInfo& info) {
    const CONSOLE_CURSOR_INFO native{info.Size, info.Visible ? -1 : 0};
    SetConsoleCursorInfo(Native(out), &native);
}

void SetTextAttribute(Handle out, std::uint16_t attribute) { SetConsoleTextAttribute(Native(out), attribute); }

void WriteStream(std::string_view bytes) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

std::uint32_t FillCharacter(Handle out, char c, std::uint32_t count, Coord at) {
    DWORD written = 0;
    FillConsoleOutputCharacterA(Native(out), c, count, Native(at), &written);
    return written;
}

std::uint32_t FillAttribute(Handle out, std::uint16_t attribute, std::uint32_t count, Coord at) {
    DWORD written = 0;
    FillConsoleOutputAttribute(Native(out), attribute, count, Native(at), &written);
    return written;
}

std::uint32_t WriteCharacters(Handle out, std::string_view chars, Coord at) {
    DWORD written = 0;
    WriteConsoleOutputCharacterA(Native(out), chars.data(), static_cast<DWORD>(chars.size()), Native(at), &written);
    return written;
}

void ScrollBuffer(Handle out, Rect scroll, Coord dest, char fill, std::uint16_t fillAttribute) {
    const SMALL_RECT rect{scroll.Left, scroll.Top, scroll.Right, scroll.Bottom};
    CHAR_INFO cell{};
    cell.Char.AsciiChar = fill;
    cell.Attributes = fillAttribute;
    ScrollConsoleScreenBufferA(Native(out), &rect, nullptr, Native(dest), &cell);
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

void AnsiToOem(std::string& text) { CharToOemA(text.c_str(), text.data()); }

}  // namespace plat
