// Time, threads and the process on Linux: the real monotonic clock, detached threads, and an exit
// that puts the terminal back first.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <clocale>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "platform/linux/terminal.h"
#include "platform/platform.h"

namespace plat {

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
    return static_cast<std::uint32_t>(ms);
}

void SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string LocalTimeText() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::setlocale(LC_TIME, "");
        tzset();
    });
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%X", &local);
    return std::string(text, n);
}

// The terminal has a bell, not a tone generator: it rings once and the call lasts as the tone would.
void Beep(std::uint32_t, std::uint32_t durationMs) {
    term::Bell();
    SleepMs(durationMs);
}

void StartThread(void (*procedure)()) { std::thread(procedure).detach(); }

// On Linux the nice value belongs to the calling thread, and threads it starts later inherit it.
// Raising priority needs privileges; without them the program runs at its normal priority.
void RaisePriority() { setpriority(PRIO_PROCESS, 0, -10); }

void NudgeIdleTimers() {}

bool IsNtPlatform() { return true; }

std::string ReadStdinLine() {
    term::DeliverStreamText(false);
    std::string line;
    std::getline(std::cin, line);
    return line;
}

// Other threads are still running: no static destructors, no atexit handlers.
void ExitProcess(int code) {
    term::DeliverStreamText(true);
    term::Restore();
    _exit(code);
}

}  // namespace plat
