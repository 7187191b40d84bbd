// The hand-over of the Linux terminal: taking it at start-up (standard input and output must be a
// terminal that can show the screen, see terminal_fitness.cpp), raw mode, the alternate screen and
// the title; handing it back to the shell for a stop and taking it back after; the restore on every
// way out of the process, the signals that end it included; and the requests to end that are kept
// while a scan's report is due.
//
// Runs on the main thread: the console calls, and the handlers of signals from outside, which every
// other thread blocks (StartHelper); a fault's handler runs on the thread that faulted. The
// presenter and the key watcher reach it only through the calls of terminal_parts.h, which may run
// on any thread.
//
// Rules: whatever a signal handler reaches is async-signal-safe only: lock-free atomics, write,
// tcsetattr, nanosleep, raise, kill; no allocation, no lock, no stdio. Every write of the running
// program goes through Send, so that none lands while the terminal is handed back or restored.
// Threads: main, presenter, key watcher, signal handling.
#include "platform/linux/terminal.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/linux/terminal_parts.h"
#include "platform/screen/codepage.h"

namespace plat::term {
namespace {

// What the restore has to undo, besides the terminal modes.
enum : int { TitlePushed = 1, ScreenMode = 2 };

// The restore bytes for each combination of the flags above.
constexpr std::array<std::string_view, 4> RestoreTexts = {
    "\x1b[0m\x1b[?25h",
    "\x1b[0m\x1b[?25h\x1b[23;0t",
    "\x1b[0m\x1b[?25h\x1b[?1049l",
    "\x1b[0m\x1b[?25h\x1b[?1049l\x1b[23;0t",
};
constexpr std::string_view EnterScreenText = "\x1b[?1049h\x1b[0m\x1b[?25l\x1b[H\x1b[2J";
constexpr std::string_view PushTitleText = "\x1b[22;0t";

// Who has the terminal: the program, the shell while the program is stopped (the terminal was
// handed back as it was found), the program taking it back, or nobody any more (restored for good).
enum : int { Running, Stopped, Resuming, Restored };

termios g_savedModes;  // written once, before a signal handler is installed
termios g_rawModes;    // written before g_raw is set
std::atomic<bool> g_raw{false};
std::atomic<int> g_undo{0};
std::atomic<int> g_phase{Running};
std::atomic<int> g_writers{0};       // writes under way
std::atomic<bool> g_repaint{false};  // the terminal was resized or taken back: draw everything again

// The title sequence last sent, for taking the terminal back after a stop. Written by the main
// thread only, where the signal handlers run too: while it changes its length is 0.
std::array<char, 512> g_titleText;
std::atomic<std::size_t> g_titleLength{0};

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<std::size_t>::is_always_lock_free);

void WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(Out, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Waits up to 200 ms for the writes under way to end.
void WaitForWriters() {
    const timespec pause{0, 1'000'000};
    for (int i = 0; i < 200 && g_writers != 0; ++i) nanosleep(&pause, nullptr);
}

}  // namespace

void Send(std::string_view bytes) {
    ++g_writers;
    if (g_phase == Running) WriteAll(bytes);
    --g_writers;
}

Coord TerminalSize() {
    winsize ws{};
    if (ioctl(Out, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return Coord{};
    return Coord{static_cast<std::int16_t>(std::min<int>(ws.ws_col, INT16_MAX)),
                 static_cast<std::int16_t>(std::min<int>(ws.ws_row, INT16_MAX))};
}

bool TakeRepaintRequest() { return g_repaint.exchange(false); }

bool ScreenModeEntered() { return (g_undo & ScreenMode) != 0; }

// ---------------------------------------------------------------- signals

namespace {

// Hands the terminal back as it was found, for a stop. False when the program does not have it.
// Async-signal-safe.
bool Suspend() {
    int expected = Running;
    if (!g_phase.compare_exchange_strong(expected, Stopped)) return false;
    WaitForWriters();
    WriteAll(RestoreTexts[static_cast<std::size_t>(g_undo.load())]);
    if (g_raw) tcsetattr(In, TCSAFLUSH, &g_savedModes);
    return true;
}

// Takes the terminal back after a stop: raw modes, the alternate screen and the title again, and
// the presenter draws everything. False when the terminal was not handed back. Async-signal-safe.
bool Resume() {
    ++g_writers;  // a restore on another thread waits for this
    int expected = Stopped;
    const bool resuming = g_phase.compare_exchange_strong(expected, Resuming);
    if (resuming) {
        if (g_raw) tcsetattr(In, TCSAFLUSH, &g_rawModes);
        const int undo = g_undo;
        if (undo & ScreenMode) WriteAll(EnterScreenText);
        if (undo & TitlePushed) {
            WriteAll(PushTitleText);
            WriteAll(std::string_view(g_titleText.data(), g_titleLength));
        }
        g_repaint = true;
        expected = Resuming;
        g_phase.compare_exchange_strong(expected, Running);  // fails only when restored meanwhile
    }
    --g_writers;
    return resuming;
}

void RaiseDefault(int sig) {
    signal(sig, SIG_DFL);
    raise(sig);
}

// While a scan's report is to be written, the first request to end the process is kept for later.
std::atomic<bool> g_keepEnd{false};
std::atomic<int> g_keptEnd{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Whether the request `sig` is kept rather than obeyed now: the first one is, and the same one
// again (a closing terminal both hangs up and sends SIGHUP, perhaps more than once). Async-signal-safe.
bool KeepEnd(int sig) {
    if (!g_keepEnd) return false;
    int kept = 0;
    return g_keptEnd.compare_exchange_strong(kept, sig) || kept == sig;
}

void OnTerminate(int sig) {
    const int savedErrno = errno;
    if (KeepEnd(sig)) {
        errno = savedErrno;
        return;
    }
    if (g_phase != Restored) {  // otherwise the process is already on its way out
        Restore();
        RaiseDefault(sig);
    }
    errno = savedErrno;
}

void OnCrash(int sig) {
    Restore();
    RaiseDefault(sig);
}

// A stop request: the terminal is handed back, the process stops (with SIGSTOP, which stops it
// even where the system would drop a SIGTSTP, in a process group no shell controls) and takes
// the terminal back when it continues.
void OnStop(int) {
    const int savedErrno = errno;
    const bool handedBack = Suspend();
    raise(SIGSTOP);
    if (handedBack) Resume();
    errno = savedErrno;
}

// Continued after a stop that gave no chance to hand the terminal back (SIGSTOP from outside): a
// shell may have set its own modes meanwhile, so raw mode is set again and everything redrawn.
void OnContinue(int) {
    const int savedErrno = errno;
    if (!Resume() && g_phase == Running) {
        if (g_raw) tcsetattr(In, TCSANOW, &g_rawModes);
        g_repaint = true;
    }
    errno = savedErrno;
}

void OnResize(int) { g_repaint = true; }

// Signals from outside whose default action ends the process (the realtime ones as well), and
// faults of the process itself. On each the terminal is put back, then the signal does what it
// would have done.
constexpr std::array TerminateSignals = {SIGTERM,   SIGHUP,  SIGINT,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,  SIGPIPE,
                                         SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,   SIGPWR,  SIGSTKFLT};
constexpr std::array CrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

// The signals from outside that the program handles. Their handlers run on the main thread only
// (every other thread blocks them) and one at a time.
sigset_t OutsideSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : TerminateSignals) sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
    for (int sig : {SIGTSTP, SIGCONT, SIGWINCH}) sigaddset(&set, sig);
    return set;
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_mask = OutsideSignals();
    action.sa_flags = SA_RESTART;
    const auto install = [&](int sig, void (*handler)(int)) {
        action.sa_handler = handler;
        sigaction(sig, &action, nullptr);
    };
    for (int sig : TerminateSignals) install(sig, OnTerminate);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig, OnTerminate);
    for (int sig : CrashSignals) install(sig, OnCrash);
    install(SIGTSTP, OnStop);
    install(SIGCONT, OnContinue);
    install(SIGWINCH, OnResize);
}

}  // namespace

void HangUp() {
    if (!KeepEnd(SIGHUP)) kill(getpid(), SIGHUP);
}

void StartHelper(void (*procedure)()) {
    const sigset_t blocked = OutsideSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);  // the new thread inherits the mask
    std::thread(procedure).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

namespace {

void EnterScreenMode() {
    if (g_undo & ScreenMode) return;
    g_undo |= ScreenMode;
    Send(EnterScreenText);
    StartPresenter();
}

}  // namespace

void Restore() {
    const int was = g_phase.exchange(Restored);
    if (was == Restored) return;
    WaitForWriters();
    if (was == Stopped) return;  // handed back already
    WriteAll(RestoreTexts[static_cast<std::size_t>(g_undo.load())]);
    if (g_raw) tcsetattr(In, TCSAFLUSH, &g_savedModes);
}

void KeepEndRequests(bool on) { g_keepEnd = on; }

int KeptEndRequest() { return g_keptEnd; }

}  // namespace plat::term

// ---------------------------------------------------------------- the console calls of the seam

namespace plat {

using screen::TheScreen;

bool AllocateConsole() {
    static bool allocated = false;
    if (allocated) return true;
    if (!isatty(term::In) || !isatty(term::Out)) {
        constexpr std::string_view message =
            "Platenhawk runs in a terminal: its standard input and output must both be a terminal.\n";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message.data(), message.size());
        _exit(1);
    }
    if (const std::string unfit = term::WhyUnfit(); !unfit.empty()) {
        const std::string message = std::string(ProgramName()) + ": " + unfit + "\n";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message.data(), message.size());
        _exit(1);
    }
    const char* type = std::getenv("TERM");
    term::UseLinuxConsoleColours(std::strcmp(type, "linux") == 0);
    tcgetattr(term::In, &term::g_savedModes);
    const Coord size = term::TerminalSize();
    if (size.X) TheScreen().SetSize(size);
    TheScreen().SetSizeLocked(true);
    term::InstallSignalHandlers();
    allocated = true;
    return true;
}

Handle GetStandardHandle(StdHandle which) { return which == StdHandle::Input ? term::In : term::Out; }

void SetTitle(const std::string& title) {
    TheScreen().SetTitle(title);
    std::string out;
    if (!(term::g_undo & term::TitlePushed)) {
        term::g_undo |= term::TitlePushed;
        out += "\x1b[22;0t";
    }
    std::string sequence = "\x1b]2;";
    for (char c : title)
        if (static_cast<std::uint8_t>(c) >= 0x20)
            sequence += screen::OemGlyph(screen::AnsiToOemByte(static_cast<std::uint8_t>(c)));
    // Kept for taking the terminal back after a stop; a title too long for the copy is cut there
    // before a whole character.
    std::size_t kept = std::min(sequence.size(), term::g_titleText.size() - 1);
    while (kept < sequence.size() && (static_cast<std::uint8_t>(sequence[kept]) & 0xC0) == 0x80) --kept;
    term::g_titleLength = 0;
    std::memcpy(term::g_titleText.data(), sequence.data(), kept);
    term::g_titleText[kept] = '\a';
    term::g_titleLength = kept + 1;
    out += sequence;
    out += '\a';
    term::Send(out);
}

bool SetInputModeRaw(Handle) {
    if (term::g_raw) return true;
    termios raw = term::g_savedModes;
    raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    raw.c_cflag |= CS8;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
    raw.c_cc[VMIN] = 0;  // reads return what is there; waits are made with poll()
    raw.c_cc[VTIME] = 0;
    term::g_rawModes = raw;
    term::g_raw = true;  // before the change, so that a signal arriving during it undoes it
    if (tcsetattr(term::In, TCSAFLUSH, &raw) == 0) return true;
    term::g_raw = false;
    return false;
}

bool SetScreenBufferSize(Handle, Coord size) {
    if (size.X <= 0 || size.Y <= 0) return false;
    Coord terminal = term::TerminalSize();
    if (!terminal.X) terminal = size;  // a terminal that does not tell its size is taken to fit
    if (terminal.X < size.X || terminal.Y < size.Y) return false;
    TheScreen().SetSizeLocked(false);
    TheScreen().SetSize(size);
    term::EnterScreenMode();
    return true;
}

Coord GetLargestWindowSize(Handle) {
    const Coord terminal = term::TerminalSize(), model = TheScreen().Size();
    return Coord{std::max(terminal.X, model.X), std::max(terminal.Y, model.Y)};
}

void SetFullScreen(Handle) {}

}  // namespace plat
