// Win32 time, threads, priorities and the process. Called from the main thread and the
// background threads alike; the console control handlers of the unattended tasks and of a scan run
// on the thread the system starts for the event.
// Threads: main, clock, ticker, mouse nudge, signal handling.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "platform/exit_lines.h"
#include "platform/platform.h"
#include "platform/screen/codepage.h"
#include "platform/win32/console.h"

namespace plat {
namespace {

bool QueryNtPlatform() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The platform id, read once when the process starts.
const bool NtPlatform = QueryNtPlatform();

// Threads are created without a parameter: each gets an entry point of its own that runs the
// procedure stored in its slot. The program starts three background threads.
constexpr std::size_t ThreadSlots = 3;
std::array<void (*)(), ThreadSlots> ThreadProcedures{};
std::size_t ThreadsStarted = 0;

template <std::size_t Slot>
DWORD WINAPI ThreadEntry(LPVOID) {
    ThreadProcedures[Slot]();
    return 0;
}

constexpr std::array<LPTHREAD_START_ROUTINE, ThreadSlots> ThreadEntries = {ThreadEntry<0>, ThreadEntry<1>,
                                                                           ThreadEntry<2>};

}  // namespace

std::uint32_t TickCount() { return GetTickCount(); }

std::uint64_t PerformanceCounter() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart);
}

std::uint64_t PerformanceFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(frequency.QuadPart);
}

namespace {

using TTimeBeginPeriod = UINT(WINAPI*)(UINT);

// Sets the system's timer to 1 ms for the rest of the run, as timeBeginPeriod does (the process
// ending ends it); without it a Sleep of a few milliseconds lasts a whole scheduler tick of about
// 15.6 ms. winmm is loaded only for this, so the program does not import it. False where the
// system refuses.
bool FineTimer() {
    const HMODULE winmm = LoadLibraryA("winmm.dll");
    const FARPROC found = winmm != nullptr ? GetProcAddress(winmm, "timeBeginPeriod") : nullptr;
    // FARPROC is the generic procedure type; the detour through void(*)() states the cast is meant.
    return found != nullptr && reinterpret_cast<TTimeBeginPeriod>(reinterpret_cast<void (*)()>(found))(1) == 0;
}

// The code page 866 byte the console shows as `c`; "?" where there is none.
char OemOf(wchar_t c) {
    for (unsigned b = 0; b < 256; ++b)
        if (static_cast<wchar_t>(screen::OemToUtf16(static_cast<std::uint8_t>(b))) == c) return static_cast<char>(b);
    return '?';
}

}  // namespace

void SleepMs(std::uint32_t ms) {
    [[maybe_unused]] static const bool fine = FineTimer();
    Sleep(ms);
}

// In the user's own time format, as code page 866 bytes like every text on the screens.
std::string LocalTimeText() {
    std::array<wchar_t, 64> text{};
    const int length = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text.data(), text.size());
    std::string oem;
    for (int i = 0; i + 1 < length; ++i) oem += OemOf(text[static_cast<std::size_t>(i)]);
    return oem;
}

DateTime LocalDateTime() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    LONG bias = 0;
    switch (GetTimeZoneInformation(&zone)) {
        case TIME_ZONE_ID_STANDARD:
            bias = zone.Bias + zone.StandardBias;
            break;
        case TIME_ZONE_ID_DAYLIGHT:
            bias = zone.Bias + zone.DaylightBias;
            break;
        case TIME_ZONE_ID_UNKNOWN:
            bias = zone.Bias;
            break;
        default:
            break;
    }
    return DateTime{local.wYear,   local.wMonth,           local.wDay, local.wHour, local.wMinute,
                    local.wSecond, static_cast<int>(-bias)};
}

void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) { ::Beep(frequencyHz, durationMs); }

// Called from the main thread only. A procedure beyond the slots gets no thread, as when
// CreateThread fails.
void StartThread(void (*procedure)()) {
    if (ThreadsStarted == ThreadSlots) return;
    const std::size_t slot = ThreadsStarted++;
    ThreadProcedures[slot] = procedure;
    DWORD id = 0;
    CreateThread(nullptr, 0, ThreadEntries[slot], nullptr, 0, &id);
}

void RaisePriority() {
    const HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, GetCurrentProcessId());
    SetPriorityClass(process, HIGH_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

std::span<std::uint8_t> ReadBuffer(std::size_t bytes) {
    void* buffer = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!buffer) buffer = ::operator new (bytes, std::align_val_t{4096});
    return {static_cast<std::uint8_t*>(buffer), bytes};
}

void NudgeIdleTimers() { mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0); }

// The mouse nudge thread keeps the system awake.
std::string HoldAwake(std::string_view) { return {}; }
void ReleaseAwake() {}

bool IsNtPlatform() { return NtPlatform; }

std::string_view ScreenSizeHint() { return "make the console 80 x 25: mode con: cols=80 lines=25"; }

std::string ReadStdinLine() {
    std::string line;
    for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
        if (c != '\r') line += static_cast<char>(c);
    return line;
}

void ExitProcess(int code) {
    con::Restore();
    for (const TExitLine& line : ExitLines()) {
        const std::string text = line.Text + "\r\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(line.Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), text.data(),
                  static_cast<DWORD>(text.size()), &written, nullptr);
    }
    ::ExitProcess(static_cast<UINT>(code));
}

namespace {

std::atomic<bool> InterruptRaised{false};
std::atomic<bool> Deferring{false};  // the interactive scan runs: an end from outside waits for its report
std::atomic<bool> EndKept{false};

// The console window closing, the user logging off, the system shutting down: Windows ends the
// process once the handler returns, or when its few seconds of grace run out.
bool IsEndEvent(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

// Runs on a thread Windows starts. An end event raises the flag that stops the scan and keeps
// Windows waiting while the program writes its report and ends itself.
BOOL WINAPI OnInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !IsEndEvent(event)) return FALSE;
    InterruptRaised = true;
    if (IsEndEvent(event)) Sleep(INFINITE);
    return TRUE;
}

BOOL WINAPI OnEndDuringScan(DWORD event) {
    if (!IsEndEvent(event) || !Deferring) return FALSE;
    EndKept = true;
    InterruptRaised = true;
    Sleep(INFINITE);
    return TRUE;
}

// The exit code of a process that Windows ends from its console.
constexpr int ControlCExit = static_cast<int>(0xC000013A);

}  // namespace

// The C runtime's descriptors 0-2 and the process's standard handles: a closed one gets the
// null device, so that no file opened later becomes it.
void OpenStandardStreams() {
    constexpr DWORD Handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1) continue;
        const int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (null < 0) continue;
        if (null != fd) {
            _dup2(null, fd);
            _close(null);
        }
        const HANDLE handle = GetStdHandle(Handles[fd]);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
            SetStdHandle(Handles[fd], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    }
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

void CatchInterrupts() { SetConsoleCtrlHandler(OnInterrupt, TRUE); }

// A write to a closed pipe fails here anyway.
void IgnoreClosedPipes() {}

void DeferEnd(bool on) {
    static bool installed = false;
    if (on && !installed) installed = SetConsoleCtrlHandler(OnEndDuringScan, TRUE) != FALSE;
    Deferring = on;
    if (!on && EndKept) ExitProcess(ControlCExit);
}

bool Interrupted() { return InterruptRaised.load(std::memory_order_relaxed); }

}  // namespace plat
