// The headless harness: runs the real program on the in-memory screen with scripted keys and a
// virtual clock. The program runs on a thread of its own, which plays main (app/threads.h); the
// test types keys, lets it run until it waits for a key with nothing queued, and reads the screen.
//
// The virtual clock: the program's sleeps (and simulated drive latencies) return at once and
// advance the tick count; the background threads sleep until the clock reaches their time and
// run, one at a time, while the thread that advanced the clock waits for them.
// Threads: main, test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exit_lines.h"
#include "platform/platform.h"
#include "platform/screen/screen_buffer.h"

namespace headless {

enum class Key { Enter, Escape, Space, Up, Down, Left, Right, F1, F4, F10, Backspace, Tab, CtrlC };

plat::InputRecord KeyRecord(Key key, bool down);

struct TBeep {
    std::uint32_t Frequency;
    std::uint32_t DurationMs;
    std::uint64_t AtMs;  // virtual time the tone started
};

struct TOptions {
    plat::Coord WindowSize{80, 25};
    bool SizeLocked = false;                                     // the buffer refuses to change its size
    std::function<void()> Prepare;                               // runs before the program starts (drives, say)
    std::uint64_t StartTimeOfDayMs = 9 * 3600'000 + 5 * 60'000;  // 09:05:00
    std::string TimeFormat = "%H:%M:%S";                         // strftime format of the clock text
    plat::DateTime StartDate{2026, 12, 7, 0, 0, 0, 60};          // the day (and UTC offset) of the start
    bool NotNt = false;                                          // the platform check fails
    bool RealClock = false;                                      // real sleeps and ticks (checks against real devices)
    bool StartProgram = true;  // false: the test calls the program's procedures itself
};

class Harness {
public:
    explicit Harness(TOptions options = {});
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // Keys: a press queues a key-down and a key-up record, as the console does.
    void Press(Key key);
    void Press(std::initializer_list<Key> keys);
    void Type(std::string_view chars);  // digits, letters, blanks
    void Push(const plat::InputRecord& record);
    // Queues the press so that it becomes visible once the virtual clock reaches `atMs`.
    void PressAt(std::uint64_t atMs, Key key);
    void PushAt(std::uint64_t atMs, const plat::InputRecord& record);
    // Presses `key` now and queues `later` for `atMs` in one step (queued on its own while the
    // program waits, `later` would be handed over at once), then runs until idle.
    void SendThenPressAt(Key key, std::uint64_t atMs, Key later);
    // Queues the press right after the program next drops its pending keys: a key that arrives
    // between that flush and the next read.
    void PressAfterNextFlush(Key key);

    // Lets the program run until it waits for a key with an empty queue, or ends. False when it
    // did neither within `realTimeoutMs` of real time.
    bool RunUntilIdle(std::uint32_t realTimeoutMs = 20000);
    // Each key pressed once the program waits for it (every key wait first drops what was typed
    // ahead), then run until idle.
    void Send(Key key);
    void Send(std::initializer_list<Key> keys);
    void SendText(std::string_view chars);
    // Moves the virtual clock on while the program waits; background threads run as it passes.
    void Advance(std::uint64_t ms);

    bool Exited() const;
    int ExitCode() const;
    std::uint64_t Now() const;

    // The screen.
    std::string Row(int y) const;                      // UTF-8, all columns
    std::string Text(int x, int y, int length) const;  // UTF-8
    std::uint8_t Attr(int x, int y) const;
    std::uint8_t Char(int x, int y) const;  // the OEM byte
    plat::Coord Cursor() const;
    bool CursorVisible() const;
    std::uint16_t CurrentAttribute() const;
    std::string Title() const;
    std::string Dump() const;  // the whole screen, for failure messages

    std::vector<TBeep> Beeps() const;
    // What the program said for the end of the process (SayAtExit), in order.
    std::vector<plat::TExitLine> ExitLines() const;
    std::string StdinLinesRead() const;

private:
    static constexpr std::uint64_t Immediately = ~std::uint64_t{0};
    void PushPair(const plat::InputRecord& down, const plat::InputRecord& up, std::uint64_t atMs = Immediately);
    void WaitStopped();
};

}  // namespace headless
