// The keys of the Linux terminal: the key watcher thread reads the terminal as soon as it has input
// and notes when each byte arrived; the main thread decodes the bytes into key records (keys.cpp),
// telling a lone ESC from the start of a sequence by those arrival times, and drops them on a flush.
//
// The key watcher only reads and stamps, under the lock of g_arrived; decoding and the queue of key
// records are the main thread's, which runs the console calls at the end of this file. A hang-up
// the key watcher sees is handed to the hand-over (HangUp), which ends the process on the main
// thread.
// Threads: main, key watcher.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/keys.h"
#include "platform/linux/terminal.h"
#include "platform/linux/terminal_parts.h"

namespace plat::term {
namespace {

using Clock = std::chrono::steady_clock;

// A lone ESC byte is the ESC key once nothing has followed it for this long.
constexpr auto EscapeWait = std::chrono::milliseconds(30);

// Bytes the terminal sent and when they arrived.
struct Arrival {
    Clock::time_point At;
    std::string Bytes;
};

// The key watcher reads the terminal as soon as it has input, so that the arrival time of every
// byte is known however long the main thread is busy, and keeps what it read here until the main
// thread takes it. It stops reading while MaxArrived bytes wait; the terminal holds the rest.
constexpr std::size_t MaxArrived = std::size_t{1} << 16;
struct ArrivedInput {
    std::mutex Lock;
    std::condition_variable Filled;   // bytes came: the main thread may be waiting for them
    std::condition_variable Emptied;  // the main thread took them: the key watcher may be waiting for room
    std::vector<Arrival> Chunks;
    std::size_t Bytes = 0;
};
ArrivedInput g_arrived;

// Up while bytes wait in g_arrived. The scan asks for pending keys once per block; this flag makes
// asking cost no system call and no lock.
std::atomic<bool> g_inputArrived{false};

// Decoding is the main thread's.
struct InputState {
    KeyDecoder Decoder;
    std::deque<InputRecord> Queue;
    Clock::time_point LastArrival;  // of the last byte decoded
};
InputState g_input;

// The terminal is gone: a hang-up, which the main thread takes as SIGHUP, after the scan's report
// while one is due and never while a report file is half-written. This thread reads no more.
[[noreturn]] void EndOnHangUp() {
    HangUp();
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Moves what the terminal holds into g_arrived, as arrived at `at`; never blocks. With the lock.
void ReadTerminal(Clock::time_point at) {
    int available = 0;
    if (ioctl(In, FIONREAD, &available) != 0 || available <= 0) return;
    std::string bytes(static_cast<std::size_t>(available), '\0');
    const ssize_t n = read(In, bytes.data(), bytes.size());
    if (n <= 0) return;
    bytes.resize(static_cast<std::size_t>(n));
    g_arrived.Bytes += bytes.size();
    g_arrived.Chunks.push_back(Arrival{at, std::move(bytes)});
    g_inputArrived = true;
}

[[noreturn]] void WatchInput() {
    for (;;) {
        {
            std::unique_lock lock(g_arrived.Lock);
            g_arrived.Emptied.wait(lock, [] { return g_arrived.Bytes < MaxArrived; });
        }
        pollfd p{In, POLLIN, 0};
        if (poll(&p, 1, -1) < 0) continue;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) EndOnHangUp();
        const Clock::time_point at = Clock::now();
        std::lock_guard lock(g_arrived.Lock);
        ReadTerminal(at);  // nothing when a flush took the bytes first
        g_arrived.Filled.notify_one();
    }
}

void StartWatching() { [[maybe_unused]] static const bool started = (StartHelper(WatchInput), true); }

// Decodes what has arrived, in order: a sequence under way that the next bytes followed only
// EscapeWait or more later ended before them. With `drain` also what the terminal holds yet.
void TakeArrived(bool drain) {
    std::vector<Arrival> chunks;
    bool wasFull;
    {
        std::lock_guard lock(g_arrived.Lock);
        if (drain) ReadTerminal(Clock::now());
        chunks.swap(g_arrived.Chunks);
        wasFull = g_arrived.Bytes >= MaxArrived;
        g_arrived.Bytes = 0;
        g_inputArrived = false;
    }
    if (wasFull) g_arrived.Emptied.notify_one();
    for (const Arrival& a : chunks) {
        if (Waiting(g_input.Decoder) && a.At - g_input.LastArrival >= EscapeWait)
            EndSequence(g_input.Decoder, g_input.Queue);
        DecodeKeys(g_input.Decoder, a.Bytes, g_input.Queue);
        g_input.LastArrival = a.At;
    }
}

// A sequence under way that nothing has followed for EscapeWait stands as it is: a lone ESC that
// arrived that long ago is the ESC key at once.
void EndOverdueSequence() {
    if (Waiting(g_input.Decoder) && Clock::now() - g_input.LastArrival >= EscapeWait)
        EndSequence(g_input.Decoder, g_input.Queue);
}

}  // namespace
}  // namespace plat::term

// ---------------------------------------------------------------- the console calls of the seam

namespace plat {

void WaitForInput(Handle) {
    auto& input = term::g_input;
    auto& arrived = term::g_arrived;
    term::DeliverStreamText(false);
    term::StartWatching();
    for (;;) {
        term::TakeArrived(false);
        term::EndOverdueSequence();
        if (!input.Queue.empty()) return;
        std::unique_lock lock(arrived.Lock);
        const auto came = [&] { return !arrived.Chunks.empty(); };
        if (term::Waiting(input.Decoder))
            arrived.Filled.wait_until(lock, input.LastArrival + term::EscapeWait, came);
        else
            arrived.Filled.wait(lock, came);
    }
}

InputRecord ReadInput(Handle in) {
    WaitForInput(in);
    const InputRecord record = term::g_input.Queue.front();
    term::g_input.Queue.pop_front();
    return record;
}

std::uint32_t PendingInputCount(Handle) {
    term::StartWatching();
    if (term::g_inputArrived.load(std::memory_order_relaxed)) term::TakeArrived(false);
    term::EndOverdueSequence();
    return static_cast<std::uint32_t>(term::g_input.Queue.size());
}

// Drops every key typed so far: what was decoded, what waits to be, what the terminal still holds,
// and the rest of a sequence that is still arriving.
void FlushInput(Handle) {
    term::StartWatching();
    term::TakeArrived(true);
    term::EndOverdueSequence();
    term::g_input.Queue.clear();
    term::MuteSequence(term::g_input.Decoder);
}

}  // namespace plat
