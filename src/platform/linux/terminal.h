// The Linux terminal behind the console calls: the in-memory screen shown on the terminal by a
// presenter thread (terminal_output.cpp), keys read from the terminal (terminal_input.cpp), and
// the terminal taken, handed back for a stop and put back on every way out of the process
// (terminal.cpp, with the start-up check of terminal_fitness.cpp).
// Threads: main, presenter, signal handling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/screen/screen_buffer.h"

namespace plat::term {

// Rings the terminal bell.
void Bell();

// Before the screen is shown on the terminal's alternate screen, what the text stream writes
// goes to the normal screen as well: this delivers what it wrote since the last call. With
// `ending` the line is ended, so that what follows the process starts on a line of its own.
void DeliverStreamText(bool ending);

// Puts the terminal back as it was found: terminal modes, colours, cursor, normal screen, title.
// Runs once; later calls return at once. Async-signal-safe.
void Restore();

// While on, the first request from outside to end the process (a signal whose default action ends
// it, the terminal hanging up, which counts as SIGHUP) is kept instead of obeyed, and so is the same
// one again; a request by another signal is obeyed at once.
void KeepEndRequests(bool on);
// The signal of the request kept (SIGHUP for a hang-up); 0 for none.
int KeptEndRequest();

// Starts a thread that leaves the signals from outside to the main thread, where the terminal's
// handlers run.
void StartHelper(void (*procedure)());

// The tone generator of the Linux virtual console: the timer it divides and the tones it is asked
// for (the range Windows sounds).
inline constexpr std::uint32_t TimerClock = 1'193'180;
inline constexpr std::uint32_t LowestTone = 37, HighestTone = 32'767;

// The argument of the console's tone request (KDMKTONE): the timer's divisor for `frequencyHz` in
// the low 16 bits, the duration in milliseconds (at most 65535) in the high ones. 0, no tone, for
// a frequency out of range or no duration.
std::uint32_t ToneRequest(std::uint32_t frequencyHz, std::uint32_t durationMs);

// On a Linux virtual console: sounds the tone (silence for a frequency out of range) and returns
// when it has ended. Elsewhere, or when the console refuses, returns false at once.
bool ConsoleTone(std::uint32_t frequencyHz, std::uint32_t durationMs);

// What the terminal shows of the screen, as the presenter last drew it.
struct FrameState {
    std::vector<screen::Cell> Shown;  // the cells of a screen of size `Size`, row by row
    Coord Size;
    bool Full = true;  // the next frame repaints everything
    int Sgr = -1;      // the attribute the terminal draws in; -1 not known
    bool CursorShown = false;
    Coord Cursor;
};

// Appends to `out` the bytes that bring a terminal of size `terminal` from `state` to the
// snapshot: the changed cells (everything when `state.Full`), then the cursor. Updates `state`.
void RenderFrame(const screen::Snapshot& snapshot, Coord terminal, FrameState& state, std::string& out);

// The SGR sequence that sets a console attribute's foreground and background colours.
std::string_view SgrFor(std::uint8_t attribute);
// Why this terminal cannot show the screen: TERM says it cannot (dumb, or not set), or the locale's
// character set is not UTF-8 and the terminal does not show that it decodes UTF-8 (asked by
// writing a two-byte letter and the cursor position it reports). Empty when it can.
std::string WhyUnfit();

// The colours of the Linux text console (TERM=linux), which has no bright backgrounds; otherwise
// those of a terminal with sixteen colours.
void UseLinuxConsoleColours(bool linuxConsole);

}  // namespace plat::term
