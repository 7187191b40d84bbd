// Time, threads and the process on Linux: the real monotonic clock, detached threads, and an exit
// that puts the terminal back first, also one a signal asked for while a scan's report was due.
// Threads: main, clock, ticker, mouse nudge, signal handling.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <ctime>
#include <iostream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/exit_lines.h"
#include "platform/linux/terminal.h"
#include "platform/platform.h"

namespace plat {

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
    return static_cast<std::uint32_t>(ms);
}

std::uint64_t PerformanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t PerformanceFrequency() { return 1'000'000'000; }

DateTime LocalDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return DateTime{local.tm_year + 1900,
                    local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    local.tm_sec,
                    static_cast<int>(local.tm_gmtoff / 60)};
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

// A Linux virtual console sounds the tone. Other terminals have a bell, not a tone generator: it
// rings once and the call lasts as the tone would.
void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    if (term::ConsoleTone(frequencyHz, durationMs)) return;
    term::Bell();
    SleepMs(durationMs);
}

void StartThread(void (*procedure)()) { term::StartHelper(procedure); }

// On Linux the nice value belongs to the calling thread, and threads it starts later inherit it.
// Raising priority needs privileges; without them the program runs at its normal priority.
void RaisePriority() { setpriority(PRIO_PROCESS, 0, -10); }

// A read into physically contiguous memory reaches a virtual disk as one scatter-gather segment
// instead of one per page; under some hypervisors every segment costs the read time. A huge page
// is such memory, so the buffer sits in one where the system gives it; otherwise it is ordinary
// pages.
std::span<std::uint8_t> ReadBuffer(std::size_t bytes) {
    constexpr std::size_t HugePage = std::size_t{2} << 20;
    const std::size_t length = (bytes + HugePage - 1) / HugePage * HugePage;
    void* mapped = mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return {static_cast<std::uint8_t*>(::operator new (bytes, std::align_val_t{4096})), bytes};
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + HugePage - 1) & ~(std::uintptr_t{HugePage} - 1);
    const std::size_t head = aligned - start;
    if (head) munmap(mapped, head);
    munmap(reinterpret_cast<void*>(aligned + length), HugePage - head);
    auto* buffer = reinterpret_cast<std::uint8_t*>(aligned);
    madvise(buffer, length, MADV_HUGEPAGE);
    return {buffer, bytes};
}

void NudgeIdleTimers() {}

bool IsNtPlatform() { return true; }

std::string_view ScreenSizeHint() { return "make the window at least 80 x 25; in tmux: tmux set status off"; }

std::string ReadStdinLine() {
    term::DeliverStreamText(false);
    std::string line;
    std::getline(std::cin, line);
    return line;
}

namespace {

void WriteExitLines() {
    for (const TExitLine& line : ExitLines()) {
        const std::string ended = line.Text + '\n';
        std::string_view text = ended;
        const int fd = line.Error ? STDERR_FILENO : STDOUT_FILENO;
        while (!text.empty()) {
            const ssize_t n = write(fd, text.data(), text.size());
            if (n <= 0) break;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }
}

}  // namespace

// Other threads are still running: no static destructors, no atexit handlers.
void ExitProcess(int code) {
    term::DeliverStreamText(true);
    term::Restore();
    WriteExitLines();
    _exit(code);
}

void DeferEnd(bool on) {
    term::KeepEndRequests(on);
    if (on) return;
    const int sig = term::KeptEndRequest();
    if (sig == 0) return;
    term::DeliverStreamText(true);
    term::Restore();
    WriteExitLines();
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

namespace {

std::atomic<bool> InterruptRaised{false};

void OnInterrupt(int) { InterruptRaised = true; }

}  // namespace

void OpenStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free descriptor is the closed one.
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void CatchInterrupts() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

bool Interrupted() { return InterruptRaised.load(std::memory_order_relaxed) || term::KeptEndRequest() != 0; }

void IgnoreClosedPipes() { signal(SIGPIPE, SIG_IGN); }

}  // namespace plat
