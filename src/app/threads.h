// The program's threads, one table, by the names every opening comment uses; and the three
// background threads the program starts itself (clock, ticker, mouse nudge), declared below.
//
// main             Started by the process: main() of platform/linux/main.cpp,
//                  platform/win32/main.cpp, platform/sim/demo_main.cpp. Every backend. Runs the
//                  program: the command line, the start-up, the screens and keys, every drive
//                  request, the surface scan itself with its re-check and its reports, and the
//                  unattended tasks, which start no other thread. The only thread that changes the
//                  state (App), moves the cursor, sets the current colour, writes the text stream
//                  or reads keys.
// clock            Started by Main (app/main.cpp) through plat::StartThread once the console is set
//                  up; the interactive program only, on every backend. Draws the time at the right
//                  of row 0 every second, with cell writes only (FillAttributes, PutTextAt).
// ticker           Started by Main with the clock; the interactive program only, on every backend.
//                  Draws row 24 in turn: the forum line, the ESC hint while a scan runs, the
//                  banner; cell writes only. Reads App.ScanRunning (atomic) and the start-up texts
//                  App.BannerText and App.ForumUrl, which never change once it runs.
// mouse nudge      Started by Main first of all; the interactive program only, on every backend.
//                  A zero mouse move every 50 s (plat::NudgeIdleTimers) keeps Windows from idling
//                  into sleep; on the other backends the move is nothing and the thread only
//                  sleeps. Touches nothing else.
// presenter        Started by the Linux terminal (platform/linux/terminal_output.cpp) when the
//                  program first sizes the screen and the alternate screen is entered; the Linux
//                  terminal only. Draws the in-memory screen on the terminal: snapshots of the
//                  screen buffer (under its lock), written through the hand-over's Send.
// key watcher      Started by the Linux terminal (platform/linux/terminal_input.cpp) at the
//                  program's first key wait, key poll or flush; the Linux terminal only. Reads the
//                  terminal's bytes as they come and stamps their arrival, under the lock of its
//                  queue; hands a hang-up to the hand-over. Decoding the keys is main's.
// signal handling  No thread of the program's own: the handlers run on whatever thread the signal
//                  or event lands on. Linux: the terminal's handlers (platform/linux/terminal.cpp)
//                  of signals from outside on main only, since every thread the program starts
//                  blocks them (plat::term::StartHelper); a fault's (SIGSEGV, SIGABRT, ...) on the
//                  thread that faulted; the interrupt handler of the unattended tasks
//                  (platform/linux/system.cpp) on main, their only thread. Windows: the console
//                  control handlers (Ctrl+C, Ctrl+Break, close, log-off, shut-down;
//                  platform/win32/console.cpp, system.cpp) on a thread the system starts for each
//                  event; the console's restore after a crash (unhandled exception, std::terminate,
//                  SIGABRT) on the thread that crashed. Touches only lock-free atomics and the
//                  hand-over of the terminal or console (its restore; on Linux also the hand-back
//                  for a stop); on Linux it calls only what is async-signal-safe.
//
// The headless harness (platform/headless/) has no presenter, no key watcher and no signal
// handling. The program thread it starts plays main; the clock, ticker and mouse nudge threads
// sleep on the harness's clock (on the virtual one they run one at a time, while the thread that
// moved it on waits). It adds one thread:
// test             The test's own thread (a test of tests/, tests/vm/vmcheck.cpp): starts the
//                  harness, queues keys, waits until the program waits for a key, moves the virtual
//                  clock. Whatever else of the program it calls (the simulated drives set up and
//                  their logs, the screen, a drive request, the exit lines), it calls while the
//                  program thread has not started (or never does: TOptions::StartProgram false),
//                  waits for a key, or has ended: it plays main then.
//
// The background threads never end. The clock and the ticker draw only with cell writes, never
// touching the cursor or the current colour of the main thread.
// Threads: clock, ticker, mouse nudge.
#pragma once

void MouseNudgeThread();
void ClockThread();
void TickerThread();
