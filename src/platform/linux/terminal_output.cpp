// The presenter of the Linux terminal: the in-memory screen drawn on the terminal, frame by frame
// (only the cells that changed, in the colours of the terminal's palette, paced to an output
// budget); before the alternate screen, the text stream's lines; the bell and the console's tones.
//
// The presenter thread draws the frames (Present, RenderFrame). The main thread picks the palette
// before the presenter starts, delivers the text stream and sounds the bell and the tones.
//
// Rules: every byte goes out through the hand-over's Send, which drops it while the terminal is
// handed back; the terminal's modes are the hand-over's, and whether to draw everything again
// (after a resize or a stop) is its answer to TakeRepaintRequest.
// Threads: main, presenter.
#include <linux/kd.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/linux/terminal.h"
#include "platform/linux/terminal_parts.h"
#include "platform/screen/codepage.h"

namespace plat::term {
namespace {

using Clock = std::chrono::steady_clock;
using screen::TheScreen;

// While the screen changes the presenter sends a frame every 16 to 40 ms, spacing big frames so
// that the terminal gets about OutputBudget bytes a second at most. Idle, it looks every IdleWake
// whether the terminal needs drawing in full (after a resize or a stop).
constexpr auto FrameInterval = std::chrono::milliseconds(16);
constexpr auto LongestFrameInterval = std::chrono::milliseconds(40);
constexpr std::size_t OutputBudget = 40'000;
constexpr auto IdleWake = std::chrono::milliseconds(100);

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
        if (TakeRepaintRequest()) {
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

void StartPresenter() { StartHelper(Present); }

void Bell() { Send("\a"); }

void DeliverStreamText(bool ending) {
    static int row = 0, column = 0;  // how far the stream's text has been delivered
    if (ScreenModeEntered()) return;
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
