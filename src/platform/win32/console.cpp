// The hand-over of the Win32 console: the console the program borrows (that of the cmd.exe that
// started it, where AllocConsole fails) is kept as found, its modes are set for the program, and it
// is put back on every way out (console.h): the buffer's size, window and cells, the cursor, the
// text attribute, the title and the input mode, the way the Linux front end returns to the
// terminal's main screen. Until the program resizes the buffer or draws on it, the console is
// still the user's screen: what the text stream writes then (the failure box, the refusal of a
// non-NT system) is ordinary output that stays.
//
// Runs on the main thread; the restore runs on whichever thread comes first: the main one, the
// thread the system starts for a console event, or one that crashed. The drawing calls of
// console_screen.cpp, on the main, clock and ticker threads, reach it only through
// console_parts.h.
// Threads: main, clock, ticker, signal handling.
#include "platform/win32/console.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "platform/win32/console_parts.h"

namespace plat {

using con::Native;
using con::TOutput;

namespace {

// Ctrl+C reaches the program as a key record once the input mode is 0; answering the signal
// keeps consoles that raise it anyway (Wine's) from ending the process.
BOOL WINAPI KeepCtrlC(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }

using TSetConsoleDisplayMode = BOOL(WINAPI*)(HANDLE, DWORD, PCOORD);
using TGetConsoleDisplayMode = BOOL(WINAPI*)(LPDWORD);

// A kernel32 procedure that older systems lack, looked up at run time; null where it is missing.
template <class TProcedure>
TProcedure KernelProcedure(const char* name) {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const FARPROC found = kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
    // FARPROC is the generic procedure type; the detour through void(*)() states the cast is meant.
    return found != nullptr ? reinterpret_cast<TProcedure>(reinterpret_cast<void (*)()>(found)) : nullptr;
}

// ---------------------------------------------------------------- the borrowed console

// The console as the program found it; kept only when the program did not allocate it.
struct TFoundConsole {
    bool Borrowed = false;
    HANDLE In = INVALID_HANDLE_VALUE;
    HANDLE Out = INVALID_HANDLE_VALUE;
    bool HasInputMode = false;
    DWORD InputMode = 0;
    bool HasScreen = false;
    CONSOLE_SCREEN_BUFFER_INFO Screen{};
    CONSOLE_CURSOR_INFO Cursor{};
    std::vector<CHAR_INFO> Cells;  // the whole buffer, row after row; empty when it could not be read
    bool HasTitle = false;
    std::wstring Title;
    bool FullScreen = false;
};
TFoundConsole Found;

// The program has resized the buffer or written cells: the restore puts the buffer back.
std::atomic<bool> ScreenTaken{false};
// The size check moved the cursor of a screen not taken.
std::atomic<bool> CursorMoved{false};
// The procedure that switched the display to full screen, which the restore switches back.
std::atomic<TSetConsoleDisplayMode> FullScreenSetBy{nullptr};
std::atomic<bool> Closing{false};
std::atomic<int> Writers{0};
std::atomic<bool> RestoreStarted{false};
std::atomic<bool> RestoreDone{false};

// A console call moves at most 64 KB of cells: the buffer is read and written in bands of rows.
constexpr int BandCells = 8192;

template <class TCall>
bool ForEachBand(std::vector<CHAR_INFO>& cells, COORD size, TCall call) {
    const int rows = std::max(1, BandCells / std::max<int>(size.X, 1));
    for (int top = 0; top < size.Y; top += rows) {
        const auto height = static_cast<SHORT>(std::min(rows, size.Y - top));
        SMALL_RECT region{0, static_cast<SHORT>(top), static_cast<SHORT>(size.X - 1),
                          static_cast<SHORT>(top + height - 1)};
        if (!call(&cells[static_cast<std::size_t>(top) * static_cast<std::size_t>(size.X)], COORD{size.X, height},
                  region))
            return false;
    }
    return true;
}

void KeepFoundConsole() {
    Found.In = GetStdHandle(STD_INPUT_HANDLE);
    Found.Out = GetStdHandle(STD_OUTPUT_HANDLE);
    Found.HasInputMode = GetConsoleMode(Found.In, &Found.InputMode) != FALSE;
    Found.HasScreen = GetConsoleScreenBufferInfo(Found.Out, &Found.Screen) != FALSE &&
                      GetConsoleCursorInfo(Found.Out, &Found.Cursor) != FALSE;
    if (Found.HasScreen) {
        const COORD size = Found.Screen.dwSize;
        Found.Cells.resize(static_cast<std::size_t>(size.X) * static_cast<std::size_t>(size.Y));
        const bool read = ForEachBand(Found.Cells, size, [](CHAR_INFO* at, COORD band, SMALL_RECT& region) {
            return ReadConsoleOutputW(Found.Out, at, band, COORD{0, 0}, &region) != FALSE;
        });
        if (!read) Found.Cells.clear();
    }
    std::wstring title(4096, L'\0');
    SetLastError(ERROR_SUCCESS);  // an empty title also gives length 0
    Found.HasTitle =
        GetConsoleTitleW(title.data(), static_cast<DWORD>(title.size())) > 0 || GetLastError() == ERROR_SUCCESS;
    Found.Title = title.c_str();
    const auto getDisplayMode = KernelProcedure<TGetConsoleDisplayMode>("GetConsoleDisplayMode");
    DWORD flags = 0;
    Found.FullScreen = getDisplayMode != nullptr && getDisplayMode(&flags) && (flags & CONSOLE_FULLSCREEN) != 0;
    Found.Borrowed = true;
}

// The buffer as it was: its size (the window always fitting inside it), its cells, the cursor
// and the window, which ends where it was whatever scrolling the cursor caused.
void RestoreScreen() {
    const CONSOLE_SCREEN_BUFFER_INFO& was = Found.Screen;
    CONSOLE_SCREEN_BUFFER_INFO now{};
    if (GetConsoleScreenBufferInfo(Found.Out, &now) && (now.dwSize.X != was.dwSize.X || now.dwSize.Y != was.dwSize.Y)) {
        const SMALL_RECT fitting{
            0, 0, static_cast<SHORT>(std::min(now.srWindow.Right - now.srWindow.Left, was.dwSize.X - 1)),
            static_cast<SHORT>(std::min(now.srWindow.Bottom - now.srWindow.Top, was.dwSize.Y - 1))};
        SetConsoleWindowInfo(Found.Out, TRUE, &fitting);
        SetConsoleScreenBufferSize(Found.Out, was.dwSize);
    }
    if (!Found.Cells.empty())
        ForEachBand(Found.Cells, was.dwSize, [](CHAR_INFO* at, COORD band, SMALL_RECT& region) {
            return WriteConsoleOutputW(Found.Out, at, band, COORD{0, 0}, &region) != FALSE;
        });
    SetConsoleCursorPosition(Found.Out, was.dwCursorPosition);
    SetConsoleWindowInfo(Found.Out, TRUE, &was.srWindow);
}

// On a screen not taken the program's output stays. What comes after it (the lines said at exit,
// a crash report, cmd.exe's prompt) starts on a line of its own, or where the user's output ended
// when the size check moved the cursor and nothing was written since.
void EndOutputLine() {
    CONSOLE_SCREEN_BUFFER_INFO now{};
    if (CursorMoved) {
        SetConsoleCursorPosition(Found.Out, Found.Screen.dwCursorPosition);
    } else if (GetConsoleScreenBufferInfo(Found.Out, &now) && now.dwCursorPosition.X != 0) {
        DWORD written = 0;
        WriteFile(Found.Out, "\r\n", 2, &written, nullptr);
    }
}

BOOL WINAPI RestoreOnEvent(DWORD) {
    con::Restore();
    return FALSE;  // the process ends as the event says
}

LPTOP_LEVEL_EXCEPTION_FILTER PreviousFilter = nullptr;

LONG WINAPI RestoreOnCrash(EXCEPTION_POINTERS* exception) {
    const LONG action = PreviousFilter != nullptr ? PreviousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
    if (action != EXCEPTION_CONTINUE_EXECUTION) con::Restore();
    return action;
}

std::terminate_handler PreviousTerminate = nullptr;

// The runtime's own handler then tells what was not caught, on the console as the user left it.
[[noreturn]] void RestoreOnTerminate() {
    con::Restore();
    if (PreviousTerminate != nullptr) PreviousTerminate();
    std::abort();
}

void RestoreOnAbort(int) { con::Restore(); }

}  // namespace

namespace con {

TOutput::TOutput() { ++Writers; }

TOutput::~TOutput() { --Writers; }

bool TOutput::Allowed() const { return !Closing; }

void TakeScreen() {
    if (!ScreenTaken.load(std::memory_order_relaxed)) ScreenTaken = true;
}

void NoteCursorMove() {
    if (!ScreenTaken) CursorMoved = true;
}

void ReturnMovedCursor(HANDLE out) {
    if (Found.HasScreen && !ScreenTaken && CursorMoved.exchange(false))
        SetConsoleCursorPosition(out, Found.Screen.dwCursorPosition);
}

void Restore() {
    if (!Found.Borrowed) return;
    if (RestoreStarted.exchange(true)) {  // another thread restores: the process ends after it
        for (int i = 0; i < 1000 && !RestoreDone; ++i) Sleep(1);
        return;
    }
    Closing = true;
    for (int i = 0; i < 200 && Writers != 0; ++i) Sleep(1);
    if (const TSetConsoleDisplayMode setDisplayMode = FullScreenSetBy) {
        COORD size{};
        setDisplayMode(Found.Out, CONSOLE_WINDOWED_MODE, &size);
    }
    if (Found.HasScreen) {
        SetConsoleTextAttribute(Found.Out, Found.Screen.wAttributes);
        if (ScreenTaken)
            RestoreScreen();
        else
            EndOutputLine();
        SetConsoleCursorInfo(Found.Out, &Found.Cursor);
    }
    if (Found.HasTitle) SetConsoleTitleW(Found.Title.c_str());
    if (Found.HasInputMode) {
        FlushConsoleInputBuffer(Found.In);  // keys typed for the program are not cmd.exe's
        SetConsoleMode(Found.In, Found.InputMode);
    }
    RestoreDone = true;
}

}  // namespace con

bool AllocateConsole() {
    if (AllocConsole()) return true;
    KeepFoundConsole();
    SetConsoleCtrlHandler(RestoreOnEvent, TRUE);
    PreviousFilter = SetUnhandledExceptionFilter(RestoreOnCrash);
    PreviousTerminate = std::set_terminate(RestoreOnTerminate);
    std::signal(SIGABRT, RestoreOnAbort);
    return false;
}

Handle GetStandardHandle(StdHandle which) {
    return reinterpret_cast<Handle>(GetStdHandle(which == StdHandle::Input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE));
}

void SetTitle(const std::string& title) {
    const TOutput output;
    if (output.Allowed()) SetConsoleTitleA(title.c_str());
}

bool SetInputModeRaw(Handle in) {
    const TOutput output;
    if (!output.Allowed()) return false;
    const bool set = SetConsoleMode(Native(in), 0) != FALSE;
    SetConsoleCtrlHandler(KeepCtrlC, TRUE);
    return set;
}

bool SetScreenBufferSize(Handle out, Coord size) {
    const TOutput output;
    if (!output.Allowed() || !SetConsoleScreenBufferSize(Native(out), Native(size))) return false;
    ScreenTaken = true;
    return true;
}

void SetFullScreen(Handle out) {
    const auto setDisplayMode = KernelProcedure<TSetConsoleDisplayMode>("SetConsoleDisplayMode");
    const TOutput output;
    if (setDisplayMode == nullptr || !output.Allowed()) return;
    COORD newSize{};
    if (setDisplayMode(Native(out), CONSOLE_FULLSCREEN_MODE, &newSize) && !Found.FullScreen)
        FullScreenSetBy = setDisplayMode;
}

}  // namespace plat
