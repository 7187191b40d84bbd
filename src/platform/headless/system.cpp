// Time, threads and the process, on the virtual clock of the headless harness (or the real one,
// for checks against real devices).
// Threads: main, clock, ticker, mouse nudge, test.
#include <ctime>
#include <new>

#include "platform/headless/runtime.h"
#include "platform/platform.h"

namespace headless {

std::uint64_t RealMs(const TRuntime& rt) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - rt.RealStart).count());
}

void AdvanceLocked(std::unique_lock<std::mutex>& lock, std::uint64_t ms) {
    TRuntime& rt = Runtime();
    const std::uint64_t target = rt.Now + ms;
    for (;;) {
        if (rt.Stopping) throw TStop{};
        TRuntime::TSleeper* next = nullptr;
        for (TRuntime::TSleeper* s : rt.Sleepers)
            if (s->Until <= target && (!next || s->Until < next->Until)) next = s;
        if (!next) break;
        rt.Now = std::max(rt.Now, next->Until);
        std::erase(rt.Sleepers, next);
        next->Woken = true;
        ++rt.RunningBackground;
        rt.Changed.notify_all();
        rt.Changed.wait(lock, [&] { return rt.RunningBackground == 0 || rt.Stopping; });
    }
    rt.Now = target;
    rt.Changed.notify_all();
}

namespace {

thread_local bool IsBackgroundThread = false;

void BackgroundSleep(std::unique_lock<std::mutex>& lock, std::uint32_t ms) {
    TRuntime& rt = Runtime();
    TRuntime::TSleeper me{rt.Now + ms, false};
    rt.Sleepers.push_back(&me);
    --rt.RunningBackground;
    rt.Changed.notify_all();
    rt.Changed.wait(lock, [&] { return me.Woken || rt.Stopping; });
    if (!me.Woken) {
        std::erase(rt.Sleepers, &me);
        throw TStop{};
    }
}

}  // namespace

}  // namespace headless

namespace plat {

using headless::Runtime;

std::uint32_t TickCount() {
    auto& rt = Runtime();
    if (rt.Options.RealClock) return static_cast<std::uint32_t>(headless::RealMs(rt));
    std::lock_guard lock(rt.Mutex);
    return static_cast<std::uint32_t>(rt.Now);
}

// Microseconds: virtual time moves in whole milliseconds.
std::uint64_t PerformanceCounter() {
    auto& rt = Runtime();
    if (rt.Options.RealClock)
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - rt.RealStart)
                .count());
    std::lock_guard lock(rt.Mutex);
    return rt.Now * 1000;
}

std::uint64_t PerformanceFrequency() { return 1'000'000; }

void SleepMs(std::uint32_t ms) {
    auto& rt = Runtime();
    std::unique_lock lock(rt.Mutex);
    if (rt.Options.RealClock) {
        if (rt.Changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return rt.Stopping; }))
            throw headless::TStop{};
        return;
    }
    if (headless::IsBackgroundThread)
        headless::BackgroundSleep(lock, ms);
    else
        headless::AdvanceLocked(lock, ms);
}

std::string LocalTimeText() {
    auto& rt = Runtime();
    std::uint64_t now;
    {
        std::lock_guard lock(rt.Mutex);
        now = rt.Options.RealClock ? headless::RealMs(rt) : rt.Now;
    }
    const std::uint64_t seconds = (rt.Options.StartTimeOfDayMs + now) / 1000;
    std::tm tm{};
    tm.tm_hour = static_cast<int>(seconds / 3600 % 24);
    tm.tm_min = static_cast<int>(seconds / 60 % 60);
    tm.tm_sec = static_cast<int>(seconds % 60);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, rt.Options.TimeFormat.c_str(), &tm);
    return std::string(text, n);
}

DateTime LocalDateTime() {
    auto& rt = Runtime();
    std::uint64_t now;
    {
        std::lock_guard lock(rt.Mutex);
        now = rt.Options.RealClock ? headless::RealMs(rt) : rt.Now;
    }
    const std::uint64_t seconds = (rt.Options.StartTimeOfDayMs + now) / 1000;
    DateTime t = rt.Options.StartDate;
    t.Hour = static_cast<int>(seconds / 3600 % 24);
    t.Minute = static_cast<int>(seconds / 60 % 60);
    t.Second = static_cast<int>(seconds % 60);
    return t;
}

void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    {
        auto& rt = Runtime();
        std::lock_guard lock(rt.Mutex);
        rt.Beeps.push_back(
            headless::TBeep{frequencyHz, durationMs, rt.Options.RealClock ? headless::RealMs(rt) : rt.Now});
    }
    SleepMs(durationMs);
}

void StartThread(void (*procedure)()) {
    auto& rt = Runtime();
    std::unique_lock lock(rt.Mutex);
    ++rt.RunningBackground;
    rt.Background.emplace_back([procedure] {
        headless::IsBackgroundThread = true;
        try {
            procedure();
        } catch (const headless::TStop&) {
        }
        auto& r = Runtime();
        std::lock_guard l(r.Mutex);
        --r.RunningBackground;
        r.Changed.notify_all();
    });
    // The new thread runs up to its first sleep before the program goes on.
    if (!rt.Options.RealClock) rt.Changed.wait(lock, [&] { return rt.RunningBackground == 0 || rt.Stopping; });
}

void RaisePriority() {}

std::span<std::uint8_t> ReadBuffer(std::size_t bytes) {
    return {static_cast<std::uint8_t*>(::operator new (bytes, std::align_val_t{4096})), bytes};
}

void NudgeIdleTimers() {}

std::string HoldAwake(std::string_view) { return {}; }
void ReleaseAwake() {}

bool IsNtPlatform() { return !Runtime().Options.NotNt; }

std::string_view ScreenSizeHint() { return "make the screen 80 x 25"; }

std::string ReadStdinLine() {
    auto& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    rt.StdinReads += "\n";
    return {};
}

void ExitProcess(int code) { throw headless::TExit{code}; }

bool StandardErrorIsTerminal() { return false; }

void CatchInterrupts() {}

bool Interrupted() { return false; }

void IgnoreClosedPipes() {}

void DeferEnd(bool) {}

}  // namespace plat
