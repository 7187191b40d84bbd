#include "platform/linux/terminal.h"

#include <langinfo.h>
#include <linux/kd.h>
#include <poll.h>
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
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/keys.h"
#include "platform/screen/codepage.h"

namespace plat::term {
namespace {

using Clock = std::chrono::steady_clock;
using screen::TheScreen;

constexpr int In = STDIN_FILENO;
constexpr int Out = STDOUT_FILENO;

// A lone ESC byte is the ESC key once nothing has followed it for this long.
constexpr auto EscapeWait = std::chrono::milliseconds(30);
// While the screen changes the presenter sends a frame every 16 to 40 ms, spacing big frames so
// that the terminal gets about OutputBudget bytes a second at most. Idle, it looks every IdleWake
// whether the terminal needs drawing in full (after a resize or a stop).
constexpr auto FrameInterval = std::chrono::milliseconds(16);
constexpr auto LongestFrameInterval = std::chrono::milliseconds(40);
constexpr std::size_t OutputBudget = 40'000;
constexpr auto IdleWake = std::chrono::milliseconds(100);

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

// Every write of the running program goes through here, so that none lands while the terminal is
// handed back or after the restore.
void Send(std::string_view bytes) {
    ++g_writers;
    if (g_phase == Running) WriteAll(bytes);
    --g_writers;
}

// Waits up to 200 ms for the writes under way to end.
void WaitForWriters() {
    const timespec pause{0, 1'000'000};
    for (int i = 0; i < 200 && g_writers != 0; ++i) nanosleep(&pause, nullptr);
}

// Columns and rows of the terminal; {0, 0} when it does not say.
Coord TerminalSize() {
    winsize ws{};
    if (ioctl(Out, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return Coord{};
    return Coord{static_cast<std::int16_t>(std::min<int>(ws.ws_col, INT16_MAX)),
                 static_cast<std::int16_t>(std::min<int>(ws.ws_row, INT16_MAX))};
}

// ---------------------------------------------------------------- signals

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

// ---------------------------------------------------------------- presenter

int AnsiColor(int consoleColor) { return ((consoleColor & 1) << 2) | (consoleColor & 2) | ((consoleColor & 4) >> 2); }

void AppendNumber(std::string& out, int n) { out += std::to_string(n); }

// The SGR parameters of the sixteen console colours, as foreground and as background. A terminal
// with sixteen colours takes the bright ones as 90-97 and 100-107. The Linux text console makes a
// foreground bright with bold but has no bright backgrounds: each shows as its dark twin, but dark
// grey, as far from black as from light grey, shows as light grey, so that black text on it stays
// readable.
struct TPalette {
    std::array<std::string, 16> Foreground;
    std::array<std::string, 16> Background;
    std::array<std::string, 256> Both;  // "ESC [ fg ; bg m"
};

TPalette MakePalette(bool linuxConsole) {
    TPalette p;
    for (int c = 0; c < 16; ++c) {
        const int hue = AnsiColor(c & 7);
        const bool bright = (c & 8) != 0;
        p.Foreground[static_cast<std::size_t>(c)] = linuxConsole
                                                        ? std::string(bright ? "1;" : "22;") + std::to_string(30 + hue)
                                                        : std::to_string((bright ? 90 : 30) + hue);
        const int background = linuxConsole ? (c == 8 ? 7 : hue) : hue;
        p.Background[static_cast<std::size_t>(c)] = std::to_string((bright && !linuxConsole ? 100 : 40) + background);
    }
    for (int a = 0; a < 256; ++a)
        p.Both[static_cast<std::size_t>(a)] = "\x1b[" + p.Foreground[static_cast<std::size_t>(a & 15)] + ';' +
                                              p.Background[static_cast<std::size_t>(a >> 4)] + 'm';
    return p;
}

const TPalette SixteenColours = MakePalette(false);
const TPalette LinuxConsoleColours = MakePalette(true);
std::atomic<const TPalette*> g_palette{&SixteenColours};

// Sets the colours the terminal draws in to `attribute`, sending only the half that changed.
void SetColours(std::string& out, int& sgr, std::uint8_t attribute) {
    if (attribute == sgr) return;
    const TPalette& palette = *g_palette.load(std::memory_order_relaxed);
    if (sgr >= 0 && ((sgr ^ attribute) & 0xF0) == 0) {
        out += "\x1b[";
        out += palette.Foreground[attribute & 15];
        out += 'm';
    } else if (sgr >= 0 && ((sgr ^ attribute) & 0x0F) == 0) {
        out += "\x1b[";
        out += palette.Background[attribute >> 4];
        out += 'm';
    } else {
        out += SgrFor(attribute);
    }
    sgr = attribute;
}

// Glyphs of control codes may be drawn at another width by the terminal; after one the cursor
// is placed again.
bool PlainWidth(std::uint8_t c) { return c >= 0x20 || c == 0; }

// Moves the terminal cursor from (cx, cy) (-1: not known) to (x, y).
void MoveTo(std::string& out, int x, int y, int& cx, int& cy) {
    if (cy == y && cx == x) return;
    if (cy == y && cx >= 0 && x > cx) {
        out += "\x1b[";
        if (x - cx > 1) AppendNumber(out, x - cx);
        out += 'C';
    } else {
        out += "\x1b[";
        AppendNumber(out, y + 1);
        out += ';';
        AppendNumber(out, x + 1);
        out += 'H';
    }
    cx = x;
    cy = y;
}

// Moves on along row y to column x over unchanged cells: writes them again when that is shorter
// than a cursor movement and needs no colour change, else moves.
void AdvanceTo(std::string& out, const screen::Snapshot& s, int x, int y, int sgr, int& cx, int& cy) {
    if (cy == y && cx >= 0 && x > cx && x - cx <= 3) {
        std::size_t length = 0;
        bool fits = true;
        for (int k = cx; k < x && fits; ++k) {
            const screen::Cell c = s.At(k, y);
            fits = c.Attr == sgr && PlainWidth(c.Char);
            length += screen::OemGlyph(c.Char).size();
        }
        if (fits && length <= (x - cx == 1 ? 3u : 4u)) {
            for (int k = cx; k < x; ++k) out += screen::OemGlyph(s.At(k, y).Char);
            cx = x;
            return;
        }
    }
    MoveTo(out, x, y, cx, cy);
}

[[noreturn]] void Present() {
    auto& screen = TheScreen();
    FrameState state;
    std::string out;
    Coord terminal = TerminalSize();
    std::uint64_t seen = screen.Generation() - 1;
    auto next = Clock::now();
    for (;;) {
        const std::uint64_t generation = screen.WaitForChange(seen, Clock::now() + IdleWake);
        if (g_repaint.exchange(false)) {
            terminal = TerminalSize();
            state.Full = true;
        } else if (generation == seen) {
            continue;
        }
        std::this_thread::sleep_until(next);  // changes meanwhile join this frame
        const screen::Snapshot snapshot = screen.Take();
        seen = snapshot.Generation;
        out.clear();
        RenderFrame(snapshot, terminal.X ? terminal : snapshot.Size, state, out);
        if (!out.empty()) Send(out);
        const auto spacing = std::chrono::microseconds(out.size() * 1'000'000 / OutputBudget);
        next = Clock::now() + std::clamp<Clock::duration>(spacing, FrameInterval, LongestFrameInterval);
    }
}

}  // namespace

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
    StartHelper(Present);
}

// ---------------------------------------------------------------- input

// Bytes the terminal sent and when they arrived.
struct Arrival {
    Clock::time_point At;
    std::string Bytes;
};

// A watcher thread reads the terminal as soon as it has input, so that the arrival time of every
// byte is known however long the main thread is busy, and keeps what it read here until the main
// thread takes it. It stops reading while MaxArrived bytes wait; the terminal holds the rest.
constexpr std::size_t MaxArrived = std::size_t{1} << 16;
struct ArrivedInput {
    std::mutex Lock;
    std::condition_variable Filled;   // bytes came: the main thread may be waiting for them
    std::condition_variable Emptied;  // the main thread took them: the watcher may be waiting for room
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
    if (!KeepEnd(SIGHUP)) kill(getpid(), SIGHUP);
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

// ---------------------------------------------------------------- the module's own calls

void Bell() { Send("\a"); }

void DeliverStreamText(bool ending) {
    static int row = 0, column = 0;  // how far the stream's text has been delivered
    if (g_undo & ScreenMode) return;
    const screen::Snapshot s = TheScreen().Take();
    if (s.Cursor.Y < row || (s.Cursor.Y == row && s.Cursor.X < column)) return;
    std::string out;
    int sgr = -1;
    for (int y = row; y <= s.Cursor.Y; ++y) {
        const int start = y == row ? column : 0;
        int end = y == s.Cursor.Y ? s.Cursor.X : s.Size.X;
        if (y < s.Cursor.Y)  // blanks on black at the end of a finished line need not be sent
            while (end > start && (s.At(end - 1, y).Char == ' ' || s.At(end - 1, y).Char == 0) &&
                   (s.At(end - 1, y).Attr & 0x70) == 0)
                --end;
        for (int x = start; x < end; ++x) {
            const screen::Cell c = s.At(x, y);
            if (c.Attr != sgr) {
                out += SgrFor(c.Attr);
                sgr = c.Attr;
            }
            out += screen::OemGlyph(c.Char);
        }
        if (sgr >= 0) out += "\x1b[0m";
        sgr = -1;
        if (y < s.Cursor.Y) out += "\r\n";
    }
    row = s.Cursor.Y;
    column = s.Cursor.X;
    if (ending && column > 0) {
        out += "\r\n";
        column = 0;
        ++row;
    }
    Send(out);
}

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

std::uint32_t ToneRequest(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    if (frequencyHz < LowestTone || frequencyHz > HighestTone || durationMs == 0) return 0;
    return std::min<std::uint32_t>(durationMs, 0xFFFF) << 16 | TimerClock / frequencyHz;
}

bool ConsoleTone(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    static const bool virtualConsole = [] {
        char type = 0;
        return ioctl(Out, KDGKBTYPE, &type) == 0;
    }();
    if (!virtualConsole) return false;
    if (const std::uint32_t request = ToneRequest(frequencyHz, durationMs))
        if (ioctl(Out, KDMKTONE, static_cast<unsigned long>(request)) != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(durationMs));
    return true;
}

namespace {

// Whether the terminal decodes UTF-8: after a two-byte letter it reports its cursor one column on.
bool TerminalDecodesUtf8() {
    termios saved{};
    if (tcgetattr(In, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    tcsetattr(In, TCSANOW, &quiet);
    WriteAll("\r\xC3\xA9\x1b[6n");  // an e with an acute accent, then: where is the cursor?
    std::string reply;
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (reply.find('R') == std::string::npos && Clock::now() < deadline) {
        pollfd p{In, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left, 1))) <= 0) continue;
        char bytes[64];
        const ssize_t n = read(In, bytes, sizeof bytes);
        if (n > 0) reply.append(bytes, static_cast<std::size_t>(n));
    }
    WriteAll("\r\x1b[K");
    tcsetattr(In, TCSANOW, &saved);
    const std::size_t semicolon = reply.rfind(';'), end = reply.find('R', semicolon);
    return semicolon != std::string::npos && end != std::string::npos &&
           reply.substr(semicolon + 1, end - semicolon - 1) == "2";
}

}  // namespace

std::string WhyUnfit() {
    const char* type = std::getenv("TERM");
    if (!type || !*type || std::strcmp(type, "dumb") == 0)
        return std::string("the terminal (TERM=") + (type ? type : "") +
               ") cannot show the screen: it needs one that moves the cursor and shows colours";
    std::setlocale(LC_CTYPE, "");
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || TerminalDecodesUtf8()) return {};
    return "the locale's character set is " + codeset +
           ", not UTF-8, and the terminal did not show that it takes UTF-8: run it in a UTF-8 locale "
           "(LANG=C.UTF-8, for instance)";
}

std::string_view SgrFor(std::uint8_t attribute) { return g_palette.load(std::memory_order_relaxed)->Both[attribute]; }

void UseLinuxConsoleColours(bool linuxConsole) { g_palette = linuxConsole ? &LinuxConsoleColours : &SixteenColours; }

void RenderFrame(const screen::Snapshot& s, Coord terminal, FrameState& state, std::string& out) {
    if (!(s.Size == state.Size)) state.Full = true;
    if (state.Full) {
        out += "\x1b[0m\x1b[H\x1b[2J";
        state.Shown.assign(s.Cells.size(), screen::Cell{});
        state.Size = s.Size;
        state.Sgr = -1;
    }
    const int width = std::min(s.Size.X, terminal.X), height = std::min(s.Size.Y, terminal.Y);
    int cx = -1, cy = -1;
    bool drew = false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto i = static_cast<std::size_t>(y * s.Size.X + x);
            const screen::Cell c = s.Cells[i];
            if (!state.Full && c == state.Shown[i]) continue;
            AdvanceTo(out, s, x, y, state.Sgr, cx, cy);
            SetColours(out, state.Sgr, c.Attr);
            out += screen::OemGlyph(c.Char);
            state.Shown[i] = c;
            drew = true;
            // At the right edge the terminal waits to wrap: the next cell is reached by position.
            cx = PlainWidth(c.Char) && x + 1 < terminal.X ? x + 1 : -1;
        }
    const bool visible = s.CursorVisible && s.Cursor.X < width && s.Cursor.Y < height;
    if (visible) {
        if (drew || !state.CursorShown || !(s.Cursor == state.Cursor)) MoveTo(out, s.Cursor.X, s.Cursor.Y, cx, cy);
        if (!state.CursorShown) out += "\x1b[?25h";
    } else if (state.CursorShown || state.Full) {
        out += "\x1b[?25l";
    }
    state.CursorShown = visible;
    state.Cursor = s.Cursor;
    state.Full = false;
}

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
