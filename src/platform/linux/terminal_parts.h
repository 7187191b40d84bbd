// What the three parts of the Linux terminal ask of each other: the hand-over (terminal.cpp) owns
// the terminal's modes and decides when the program may write; the presenter (terminal_output.cpp)
// draws the screen; the key watcher (terminal_input.cpp) reads the keys. Nothing else includes
// this.
// Threads: main, presenter, key watcher.
#pragma once

#include <unistd.h>

#include <string_view>

#include "platform/platform.h"

namespace plat::term {

inline constexpr int In = STDIN_FILENO;
inline constexpr int Out = STDOUT_FILENO;

// ---- the hand-over's

// Writes to the terminal while the program has it; drops the bytes while the terminal is handed
// back to the shell or restored for good. Any thread.
void Send(std::string_view bytes);

// Columns and rows of the terminal; {0, 0} when it does not say. Any thread.
Coord TerminalSize();

// Whether the terminal was resized or taken back since the last call, so that everything must be
// drawn again. Clears the request. The presenter's.
bool TakeRepaintRequest();

// Whether the alternate screen was entered (the presenter draws from then on). Any thread.
bool ScreenModeEntered();

// The terminal has hung up: taken as SIGHUP, on the main thread, or kept while end requests are
// kept (see KeepEndRequests). Any thread.
void HangUp();

// ---- the presenter's

// Starts the presenter thread, which draws the screen on the terminal from then on. Once.
void StartPresenter();

}  // namespace plat::term
