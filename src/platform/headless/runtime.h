// The shared state of the headless backend: the input queue, the virtual clock and the threads
// of the program under test.
// Threads: main, clock, ticker, mouse nudge, test.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless/harness.h"

namespace headless {

// Thrown inside the program's threads: the program ended (ExitProcess) or the harness stops it.
struct TExit {
    int Code;
};
struct TStop {};

struct TScheduledKey {
    std::uint64_t AtMs;
    plat::InputRecord Record;
};

struct TRuntime {
    std::mutex Mutex;
    std::condition_variable Changed;
    TOptions Options;

    // input
    std::deque<plat::InputRecord> Queue;
    std::vector<TScheduledKey> Scheduled;
    std::vector<plat::InputRecord> AfterFlush;  // queued when the program next flushes
    bool ProgramWaiting = false;                // blocked in an input wait with nothing queued

    // the program
    std::thread Program;
    std::vector<std::thread> Background;
    bool Stopping = false;
    bool Exited = false;
    int ExitCode = 0;

    // the virtual clock
    std::uint64_t Now = 0;
    struct TSleeper {
        std::uint64_t Until;
        bool Woken;
    };
    std::vector<TSleeper*> Sleepers;
    int RunningBackground = 0;  // background threads between two of their sleeps
    bool Advancing = false;

    std::vector<TBeep> Beeps;
    std::string StdinReads;
    std::chrono::steady_clock::time_point RealStart;
};

TRuntime& Runtime();
// Moves the virtual clock `ms` on; background threads whose time comes run one at a time.
// Called with the lock held; returns with it held.
void AdvanceLocked(std::unique_lock<std::mutex>& lock, std::uint64_t ms);
// Makes the scheduled keys whose time has come visible.
void PromoteDueKeys(TRuntime& rt);
std::uint64_t RealMs(const TRuntime& rt);

}  // namespace headless
