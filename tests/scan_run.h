// Driving the scan settings dialog and the surface scan from the main menu.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "program.h"

// The pause after an accepted key in a framed box, and the wait before the drive is opened.
inline constexpr std::uint64_t KeyPauseMs = 70;
inline constexpr std::uint64_t OpenWaitMs = 1200;
inline constexpr std::int64_t Block = 255;

// The map glyphs (OEM code points).
inline constexpr std::uint8_t Light = 0xB0, Medium = 0xB1, Dark = 0xB2, Full = 0xDB;

struct TScanSetup {
    std::optional<std::int64_t> Start;
    std::optional<std::int64_t> End;
    bool Recheck = true;
};

inline TScanSetup Range(std::optional<std::int64_t> start, std::optional<std::int64_t> end, bool recheck = true) {
    return TScanSetup{start, end, recheck};
}
inline TScanSetup Recheck(bool on) { return Range(std::nullopt, std::nullopt, on); }

// In the dialog, on an LBA field: opens its editor, clears it, types `value` and presses ENTER.
inline void TypeLba(headless::Harness& h, std::int64_t value) {
    h.Send(Key::Enter);
    for (int i = 0; i < 20; ++i) h.Send(Key::Backspace);
    h.SendText(std::to_string(value));
    h.Send(Key::Enter);
}

// At the main menu on its first item: opens the dialog and applies `setup` (the end first, so that
// any start up to it is taken); field 0 is highlighted again afterwards. Clears the drive logs and
// returns the virtual time at which the scan, once F4 is pressed, drops pending keys and starts reading.
inline std::uint64_t OpenScan(headless::Harness& h, const TScanSetup& setup = {}) {
    h.Send(Key::Enter);
    if (setup.End) {
        h.Send(Key::Down);
        TypeLba(h, *setup.End);
        h.Send(Key::Up);
    }
    if (setup.Start) TypeLba(h, *setup.Start);
    if (!setup.Recheck) h.Send({Key::Up, Key::Space, Key::Down});
    sim::ClearLogs();
    return h.Now() + KeyPauseMs + OpenWaitMs;
}

// Runs a scan to its closing prompt; returns the time it started reading.
inline std::uint64_t RunScan(headless::Harness& h, const TScanSetup& setup = {}) {
    const std::uint64_t start = OpenScan(h, setup);
    h.Send(Key::F4);
    return start;
}

// Runs a scan that F10 ends at the first key check `ms` or more after reading started, and hands
// the screen as it was left to `check`.
inline void ScanEndedAt(const std::string& scenario, std::uint64_t ms,
                        const std::function<void(headless::Harness&)>& check, const TScanSetup& setup = {}) {
    TAtMenu p(scenario);
    p.H.SendThenPressAt(Key::F4, OpenScan(p.H, setup) + ms, Key::F10);
    ASSERT_TRUE(p.H.Exited());
    check(p.H);
}

// A slow zone of `ms` over block `k` of a scan from LBA 0.
inline std::string SlowBlock(std::int64_t k, std::uint32_t ms) {
    return "slow = " + std::to_string(k * Block) + "-" + std::to_string(k * Block + Block - 1) + " " +
           std::to_string(ms) + "\n";
}

// The reads of the drive as (byte offset, byte length).
inline std::vector<std::pair<std::uint64_t, std::uint32_t>> ReadSpans() {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> spans;
    for (const sim::TRead& r : sim::Reads()) spans.emplace_back(r.Offset, r.Length);
    return spans;
}

inline std::string Trimmed(std::string text) {
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}
