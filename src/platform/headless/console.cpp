// The console set-up and input calls of the headless harness: the screen is the in-memory
// buffer, the keys come from the test's queue.
// Thread: main.
#include "platform/headless/runtime.h"
#include "platform/platform.h"
#include "platform/screen/screen_buffer.h"

namespace headless {

void PromoteDueKeys(TRuntime& rt) {
    const std::uint64_t now = rt.Options.RealClock ? RealMs(rt) : rt.Now;
    for (auto it = rt.Scheduled.begin(); it != rt.Scheduled.end();) {
        if (it->AtMs <= now) {
            rt.Queue.push_back(it->Record);
            it = rt.Scheduled.erase(it);
        } else {
            ++it;
        }
    }
}

namespace {

// Blocks the program until a record is queued. While only keys for later are left, the clock
// moves on to the first of them.
void WaitLocked(std::unique_lock<std::mutex>& lock) {
    TRuntime& rt = Runtime();
    for (;;) {
        if (rt.Stopping) throw TStop{};
        PromoteDueKeys(rt);
        if (!rt.Queue.empty()) return;
        if (!rt.Scheduled.empty() && !rt.Options.RealClock) {
            std::uint64_t next = rt.Scheduled.front().AtMs;
            for (const TScheduledKey& k : rt.Scheduled) next = std::min(next, k.AtMs);
            AdvanceLocked(lock, next - rt.Now);
            continue;
        }
        rt.ProgramWaiting = true;
        rt.Changed.notify_all();
        rt.Changed.wait(lock,
                        [&] { return rt.Stopping || (!rt.Advancing && (!rt.Queue.empty() || !rt.Scheduled.empty())); });
        rt.ProgramWaiting = false;
    }
}

}  // namespace

}  // namespace headless

namespace plat {

using headless::Runtime;

bool AllocateConsole() { return true; }

Handle GetStandardHandle(StdHandle which) { return which == StdHandle::Input ? 1 : 2; }

void SetTitle(const std::string& title) { screen::TheScreen().SetTitle(title); }

bool SetInputModeRaw(Handle) { return true; }

bool SetScreenBufferSize(Handle, Coord size) { return screen::TheScreen().SetSize(size); }

Coord GetLargestWindowSize(Handle) { return Runtime().Options.WindowSize; }

void SetFullScreen(Handle) {}

void WaitForInput(Handle) {
    auto& rt = Runtime();
    std::unique_lock lock(rt.Mutex);
    headless::WaitLocked(lock);
}

InputRecord ReadInput(Handle) {
    auto& rt = Runtime();
    std::unique_lock lock(rt.Mutex);
    headless::WaitLocked(lock);
    const InputRecord record = rt.Queue.front();
    rt.Queue.pop_front();
    rt.Changed.notify_all();
    return record;
}

std::uint32_t PendingInputCount(Handle) {
    auto& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    headless::PromoteDueKeys(rt);
    return static_cast<std::uint32_t>(rt.Queue.size());
}

void FlushInput(Handle) {
    auto& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    headless::PromoteDueKeys(rt);
    rt.Queue.assign(rt.AfterFlush.begin(), rt.AfterFlush.end());
    rt.AfterFlush.clear();
    rt.Changed.notify_all();
}

}  // namespace plat
