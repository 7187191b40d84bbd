// The Linux terminal backend: key decoding, the frames the presenter sends (played back on a
// small terminal model to check that the terminal ends up showing the screen), and the tone
// request of the Linux console.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/linux/keys.h"
#include "platform/linux/terminal.h"
#include "platform/screen/codepage.h"

namespace {

using plat::InputRecord;
using plat::term::Key;

struct Decoded {
    std::deque<InputRecord> Records;
    plat::term::KeyDecoder Decoder;
};

// Feeds the chunks one after the other, as separate reads, without the ESC time-out passing.
Decoded Feed(std::initializer_list<std::string_view> chunks) {
    Decoded d;
    for (std::string_view chunk : chunks) plat::term::DecodeKeys(d.Decoder, chunk, d.Records);
    return d;
}

// The keys of key-down records, checking that each is followed by its key-up.
std::vector<Key> Keys(const std::deque<InputRecord>& records) {
    std::vector<Key> keys;
    EXPECT_EQ(records.size() % 2, 0u);
    for (std::size_t i = 0; i + 1 < records.size(); i += 2) {
        const InputRecord& down = records[i];
        const InputRecord& up = records[i + 1];
        EXPECT_EQ(down.EventType, plat::KeyEvent);
        EXPECT_EQ(up.EventType, plat::KeyEvent);
        EXPECT_TRUE(down.KeyDown);
        EXPECT_FALSE(up.KeyDown);
        EXPECT_EQ(down.VirtualKeyCode, up.VirtualKeyCode);
        EXPECT_EQ(down.AsciiChar, up.AsciiChar);
        keys.push_back(Key{down.VirtualKeyCode, down.AsciiChar});
    }
    return keys;
}

std::vector<Key> KeysOf(std::string_view bytes) {
    Decoded d = Feed({bytes});
    plat::term::EndSequence(d.Decoder, d.Records);
    EXPECT_FALSE(plat::term::Waiting(d.Decoder));
    return Keys(d.Records);
}

constexpr Key Escape{27, 27}, Enter{13, 13}, Backspace{8, 8}, Up{38, 0}, Down{40, 0}, Left{37, 0}, Right{39, 0};
constexpr Key F(int n) { return Key{static_cast<std::uint16_t>(111 + n), 0}; }
constexpr Key Unknown{0, 0};

TEST(LinuxKeys, OrdinaryBytes) {
    EXPECT_EQ(KeysOf("\r\n"), (std::vector<Key>{Enter, Enter}));
    EXPECT_EQ(KeysOf("\x7f\x08"), (std::vector<Key>{Backspace, Backspace}));
    EXPECT_EQ(KeysOf("\x03"), (std::vector<Key>{{67, 3}}));  // Ctrl+C is a key, not a signal
    EXPECT_EQ(KeysOf("\t "), (std::vector<Key>{{9, '\t'}, {32, ' '}}));
    EXPECT_EQ(KeysOf("09"), (std::vector<Key>{{48, '0'}, {57, '9'}}));
    EXPECT_EQ(KeysOf("aZ"), (std::vector<Key>{{'A', 'a'}, {'Z', 'Z'}}));
    EXPECT_EQ(KeysOf("#\xe0"), (std::vector<Key>{{0, '#'}, {0, '\xe0'}}));
}

TEST(LinuxKeys, CursorAndFunctionKeys) {
    EXPECT_EQ(KeysOf("\x1b[A\x1b[B\x1b[D\x1b[C"), (std::vector<Key>{Up, Down, Left, Right}));
    EXPECT_EQ(KeysOf("\x1bOA\x1bOB"), (std::vector<Key>{Up, Down}));
    EXPECT_EQ(KeysOf("\x1b[1;5A\x1b[1;2B"), (std::vector<Key>{Up, Down}));
    EXPECT_EQ(KeysOf("\x1bOP\x1bOQ\x1bOR\x1bOS"), (std::vector<Key>{F(1), F(2), F(3), F(4)}));
    EXPECT_EQ(KeysOf("\x1b[11~\x1b[14~\x1b[15~"), (std::vector<Key>{F(1), F(4), F(5)}));
    EXPECT_EQ(KeysOf("\x1b[17~\x1b[21~\x1b[23~\x1b[24~"), (std::vector<Key>{F(6), F(10), F(11), F(12)}));
    EXPECT_EQ(KeysOf("\x1b[1;2S\x1b[21;5~"), (std::vector<Key>{F(4), F(10)}));
    EXPECT_EQ(KeysOf("\x1b[[A\x1b[[D\x1b[[E"), (std::vector<Key>{F(1), F(4), F(5)}));  // Linux console
    EXPECT_EQ(F(4).VirtualKey, 115);
    EXPECT_EQ(F(10).VirtualKey, 121);
}

TEST(LinuxKeys, SequenceSplitAcrossReads) {
    Decoded d = Feed({"\x1b"});
    EXPECT_TRUE(d.Records.empty());
    EXPECT_TRUE(plat::term::Waiting(d.Decoder));
    plat::term::DecodeKeys(d.Decoder, "[2", d.Records);
    EXPECT_TRUE(d.Records.empty());
    plat::term::DecodeKeys(d.Decoder, "1~5", d.Records);
    EXPECT_EQ(Keys(d.Records), (std::vector<Key>{F(10), {53, '5'}}));
    EXPECT_FALSE(plat::term::Waiting(d.Decoder));

    EXPECT_EQ(Keys(Feed({"\x1bO", "S"}).Records), (std::vector<Key>{F(4)}));
    EXPECT_EQ(Keys(Feed({"\x1b[", "[", "B"}).Records), (std::vector<Key>{F(2)}));
}

TEST(LinuxKeys, LoneEscapeAgainstSequence) {
    // Nothing followed the ESC in time: it is the ESC key.
    Decoded lone = Feed({"\x1b"});
    plat::term::EndSequence(lone.Decoder, lone.Records);
    EXPECT_EQ(Keys(lone.Records), (std::vector<Key>{Escape}));

    // A complete sequence is one key even when the time-out has passed.
    EXPECT_EQ(KeysOf("\x1b[B"), (std::vector<Key>{Down}));

    // ESC followed by an ordinary key, and two ESCs: separate keys.
    EXPECT_EQ(KeysOf("\x1b"
                     "1"),
              (std::vector<Key>{Escape, {49, '1'}}));
    EXPECT_EQ(KeysOf("\x1b\x1b"), (std::vector<Key>{Escape, Escape}));
    EXPECT_EQ(KeysOf("\x1b\x1b[A"), (std::vector<Key>{Escape, Up}));
}

TEST(LinuxKeys, UnknownSequences) {
    EXPECT_EQ(KeysOf("\x1b[99~x"), (std::vector<Key>{Unknown, {'X', 'x'}}));
    EXPECT_EQ(KeysOf("\x1b[Z"), (std::vector<Key>{Unknown}));
    EXPECT_EQ(KeysOf("\x1b[[Z"), (std::vector<Key>{Unknown}));
    EXPECT_EQ(KeysOf("\x1bOz"), (std::vector<Key>{Unknown}));
    // A sequence broken off by another ESC: what came so far is unknown, the next key stands.
    EXPECT_EQ(KeysOf("\x1b[1\x1b[A"), (std::vector<Key>{Unknown, Up}));
    // An unfinished sequence waits; once nothing more comes it is unknown, not ESC plus letters.
    Decoded cut = Feed({"\x1b[1;"});
    EXPECT_TRUE(cut.Records.empty());
    plat::term::EndSequence(cut.Decoder, cut.Records);
    EXPECT_EQ(Keys(cut.Records), (std::vector<Key>{Unknown}));
}

// A sequence longer than any key's is taken whole, up to its final byte, as one unknown key:
// neither its parameters nor its final byte come out as keys, and it holds no memory of its own.
TEST(LinuxKeys, OverlongSequenceIsOneKey) {
    const std::string digits(plat::term::MaxSequence, '1');
    EXPECT_EQ(KeysOf("\x1b[" + digits + "~5"), (std::vector<Key>{Unknown, {53, '5'}}));
    EXPECT_EQ(KeysOf("\x1b[" + digits + ";21A\r"), (std::vector<Key>{Unknown, Enter}));
    EXPECT_EQ(KeysOf("\x1bO" + digits + "P"), (std::vector<Key>{Unknown}));
    // The longest sequence a key may send is still that key; one byte more and it is not.
    EXPECT_EQ(KeysOf("\x1b[21" + std::string(plat::term::MaxSequence - 5, ';') + "~"), (std::vector<Key>{F(10)}));
    EXPECT_EQ(KeysOf("\x1b[21" + std::string(plat::term::MaxSequence - 4, ';') + "~"), (std::vector<Key>{Unknown}));

    Decoded d;
    const std::string block(4096, '7');
    plat::term::DecodeKeys(d.Decoder, "\x1b[", d.Records);
    for (int i = 0; i < 1000; ++i) plat::term::DecodeKeys(d.Decoder, block, d.Records);
    EXPECT_TRUE(d.Records.empty());
    EXPECT_TRUE(plat::term::Waiting(d.Decoder));
    plat::term::DecodeKeys(d.Decoder, "R9", d.Records);
    EXPECT_EQ(Keys(d.Records), (std::vector<Key>{Unknown, {57, '9'}}));
}

// ESC [ [ takes one more byte for the Linux console's F1-F5, but not an ESC or a control byte:
// those end it and start the next key.
TEST(LinuxKeys, LinuxConsolePrefixGivesWayToTheNextKey) {
    EXPECT_EQ(KeysOf("\x1b[[\x1b[21~"), (std::vector<Key>{Unknown, F(10)}));
    EXPECT_EQ(Keys(Feed({"\x1b[[", "\x1b[21~"}).Records), (std::vector<Key>{Unknown, F(10)}));
    EXPECT_EQ(KeysOf("\x1b[[\r"), (std::vector<Key>{Unknown, Enter}));
    EXPECT_EQ(KeysOf("\x1b[[\x1b"), (std::vector<Key>{Unknown, Escape}));
}

// OSC, DCS, SOS, PM and APC strings are replies of the terminal: taken whole up to BEL or ST
// (ESC \), in any pieces, they give no key.
TEST(LinuxKeys, TerminalStringsGiveNoKey) {
    EXPECT_EQ(KeysOf("\x1b]11;rgb:0000/0000/0000\x07"), (std::vector<Key>{}));
    EXPECT_EQ(KeysOf("\x1b]0;\xd0\x9f\xd1\x80\xd0\xbe\x1b\\1"), (std::vector<Key>{{49, '1'}}));
    EXPECT_EQ(KeysOf("\x1bP1$r0m\x1b\\\x1bXsos\x07\x1b^pm\x1b\\\x1b_apc\x07\r"), (std::vector<Key>{Enter}));
    EXPECT_EQ(Keys(Feed({"\x1b]1", "1;rgb:ff", "ff/0\x1b", "\\", "\x1b[B"}).Records), (std::vector<Key>{Down}));
    // An ESC inside a string ends it: the key it starts stands.
    EXPECT_EQ(KeysOf("\x1b]2;title\x1b[A"), (std::vector<Key>{Up}));
    EXPECT_EQ(KeysOf("\x1bPq#0;2;0;0;0\x1b\x1b"), (std::vector<Key>{Escape, Escape}));
    // A string cut off by the time-out is no key either; what comes later is read afresh.
    Decoded cut = Feed({"\x1b]52;c;" + std::string(100000, 'A')});
    EXPECT_TRUE(cut.Records.empty());
    plat::term::EndSequence(cut.Decoder, cut.Records);
    plat::term::DecodeKeys(cut.Decoder, "5", cut.Records);
    EXPECT_EQ(Keys(cut.Records), (std::vector<Key>{{53, '5'}}));
    // An ESC that ended a string and stood alone until the time-out is the ESC key.
    Decoded lone = Feed({"\x1b]abc\x1b"});
    plat::term::EndSequence(lone.Decoder, lone.Records);
    EXPECT_EQ(Keys(lone.Records), (std::vector<Key>{Escape}));
}

// A muted sequence (cut by a flush) gives no key whichever way it ends; the key after it does.
TEST(LinuxKeys, MutedSequenceGivesNoKey) {
    Decoded tail = Feed({"\x1b[2"});
    plat::term::MuteSequence(tail.Decoder);
    plat::term::DecodeKeys(tail.Decoder, "1~5", tail.Records);
    EXPECT_EQ(Keys(tail.Records), (std::vector<Key>{{53, '5'}}));

    Decoded lone = Feed({"\x1b"});
    plat::term::MuteSequence(lone.Decoder);
    plat::term::EndSequence(lone.Decoder, lone.Records);
    plat::term::DecodeKeys(lone.Decoder, "\x1b", lone.Records);
    plat::term::EndSequence(lone.Decoder, lone.Records);
    EXPECT_EQ(Keys(lone.Records), (std::vector<Key>{Escape}));

    Decoded cut = Feed({"\x1b[1"});
    plat::term::MuteSequence(cut.Decoder);
    plat::term::DecodeKeys(cut.Decoder, "\x1b[B", cut.Records);
    EXPECT_EQ(Keys(cut.Records), (std::vector<Key>{Down}));

    Decoded string = Feed({"\x1b]11;rgb:"});
    plat::term::MuteSequence(string.Decoder);
    plat::term::DecodeKeys(string.Decoder, "0/0/0\x07\r", string.Records);
    EXPECT_EQ(Keys(string.Records), (std::vector<Key>{Enter}));

    Decoded none;  // between keys there is nothing to mute
    plat::term::MuteSequence(none.Decoder);
    plat::term::DecodeKeys(none.Decoder, "\r", none.Records);
    EXPECT_EQ(Keys(none.Records), (std::vector<Key>{Enter}));
}

// F10 ends the program from any key wait, so it must come through whatever the terminal sent
// before it: random bytes (biased towards the bytes of sequences), in random pieces, with the ESC
// time-out passing at random between them, then F10 in one of its forms, in random pieces.
TEST(LinuxKeys, F10AfterAnyJunkIsF10) {
    const std::string_view f10Forms[] = {"\x1b[21~", "\x1b[21;2~", "\x1b[21;5~", "\x1b[21;1;2~"};
    const std::string_view pieces[] = {"\x1b", "[", "[", "O", "]", "P",  "X",     "^",      "_",     "\x07", "\\",
                                       ";",    "1", "2", "~", "A", "\r", "\x1b[", "\x1b[[", "\x1b]", "\x1bP"};
    for (std::uint32_t seed = 1; seed <= 20000; ++seed) {
        std::mt19937 random(seed);
        std::string junk;
        const int length = static_cast<int>(random() % 80);
        for (int i = 0; i < length; ++i) {
            if (random() % 2)
                junk += pieces[random() % std::size(pieces)];
            else
                junk += static_cast<char>(random() % 256);
        }
        if (random() % 8 == 0) junk += std::string(random() % 200, static_cast<char>('0' + random() % 10));
        const std::string_view f10 = f10Forms[random() % std::size(f10Forms)];
        Decoded d;
        for (std::size_t at = 0; at < junk.size();) {
            const std::size_t n = std::min<std::size_t>(junk.size() - at, 1 + random() % 12);
            plat::term::DecodeKeys(d.Decoder, std::string_view(junk).substr(at, n), d.Records);
            if (random() % 4 == 0) plat::term::EndSequence(d.Decoder, d.Records);
            at += n;
        }
        const std::size_t before = d.Records.size();
        for (std::size_t at = 0; at < f10.size();) {
            const std::size_t n = std::min<std::size_t>(f10.size() - at, 1 + random() % 4);
            plat::term::DecodeKeys(d.Decoder, f10.substr(at, n), d.Records);
            at += n;
        }
        ASSERT_FALSE(plat::term::Waiting(d.Decoder)) << "seed " << seed;
        ASSERT_GT(d.Records.size(), before) << "seed " << seed;
        ASSERT_EQ(Keys(d.Records).back(), F(10)) << "seed " << seed;
        // F10's bytes give F10 and at most the key of what its ESC cut short.
        ASSERT_LE(d.Records.size() - before, 4u) << "seed " << seed;
    }
}

// ---------------------------------------------------------------- frames

// A terminal that understands what the presenter sends: CUP, CUF, ED 2, SGR colours, cursor
// visibility and UTF-8 text, one character per cell.
struct Terminal {
    struct Cell {
        std::string Glyph = " ";
        int Fg = 39, Bg = 49;
    };
    int Width, Height;
    std::vector<Cell> Cells;
    int X = 0, Y = 0, Fg = 39, Bg = 49;
    bool CursorVisible = true;

    Terminal(int w, int h) : Width(w), Height(h), Cells(static_cast<std::size_t>(w * h)) {}
    Cell& At(int x, int y) { return Cells[static_cast<std::size_t>(y * Width + x)]; }

    void Play(std::string_view bytes) {
        std::size_t i = 0;
        while (i < bytes.size()) {
            if (bytes[i] == '\x1b') {
                ASSERT_LT(i + 1, bytes.size());
                ASSERT_EQ(bytes[i + 1], '[');
                std::size_t j = i + 2;
                while (j < bytes.size() && !(bytes[j] >= 0x40 && bytes[j] <= 0x7E)) ++j;
                ASSERT_LT(j, bytes.size());
                Control(bytes.substr(i + 2, j - i - 2), bytes[j]);
                i = j + 1;
                continue;
            }
            std::size_t n = 1;
            const auto lead = static_cast<std::uint8_t>(bytes[i]);
            if (lead >= 0xF0)
                n = 4;
            else if (lead >= 0xE0)
                n = 3;
            else if (lead >= 0xC0)
                n = 2;
            ASSERT_LT(X, Width) << "text written past the right edge";
            ASSERT_LT(Y, Height);
            At(X, Y) = Cell{std::string(bytes.substr(i, n)), Fg, Bg};
            ++X;
            i += n;
        }
    }

    void Control(std::string_view params, char final) {
        std::vector<int> p;
        bool priv = !params.empty() && params[0] == '?';
        if (priv) params.remove_prefix(1);
        int v = 0;
        bool any = false;
        for (char c : params) {
            if (c == ';') {
                p.push_back(any ? v : 0);
                v = 0;
                any = false;
            } else {
                v = v * 10 + (c - '0');
                any = true;
            }
        }
        if (any || !p.empty()) p.push_back(any ? v : 0);
        auto arg = [&](std::size_t k, int def) { return k < p.size() && p[k] ? p[k] : def; };
        if (priv) {
            ASSERT_EQ(arg(0, 0), 25);
            CursorVisible = final == 'h';
        } else if (final == 'H') {
            Y = arg(0, 1) - 1;
            X = arg(1, 1) - 1;
        } else if (final == 'C') {
            X = std::min(Width - 1, X + arg(0, 1));
        } else if (final == 'J') {
            ASSERT_EQ(arg(0, 0), 2);
            for (Cell& c : Cells) c = Cell{" ", 39, Bg};
        } else if (final == 'm') {
            if (p.empty()) p.push_back(0);
            for (int code : p) {
                if (code == 0)
                    Fg = 39, Bg = 49;
                else if ((code >= 30 && code <= 37) || (code >= 90 && code <= 97))
                    Fg = code;
                else if ((code >= 40 && code <= 47) || (code >= 100 && code <= 107))
                    Bg = code;
                else
                    ADD_FAILURE() << "SGR " << code;
            }
        } else {
            ADD_FAILURE() << "unexpected control " << final;
        }
    }
};

// The ANSI colour numbers a console attribute shows as.
std::pair<int, int> Colours(std::uint8_t attr) {
    static const int ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};  // console order blue=1 green=2 red=4
    const int fg = attr & 15, bg = attr >> 4;
    return {(fg & 8 ? 90 : 30) + ansi[fg & 7], (bg & 8 ? 100 : 40) + ansi[bg & 7]};
}

plat::screen::Snapshot Blank(std::int16_t w, std::int16_t h) {
    plat::screen::Snapshot s;
    s.Size = {w, h};
    s.Cells.assign(static_cast<std::size_t>(w * h), plat::screen::Cell{});
    s.CursorVisible = false;
    return s;
}

plat::screen::Cell& CellOf(plat::screen::Snapshot& s, int x, int y) {
    return s.Cells[static_cast<std::size_t>(y * s.Size.X + x)];
}

// The terminal shows every visible cell of the snapshot, in its colours, and the cursor as the
// snapshot has it.
void ExpectShows(Terminal& t, const plat::screen::Snapshot& s) {
    for (int y = 0; y < std::min<int>(s.Size.Y, t.Height); ++y)
        for (int x = 0; x < std::min<int>(s.Size.X, t.Width); ++x) {
            const plat::screen::Cell c = s.At(x, y);
            const auto [fg, bg] = Colours(c.Attr);
            const Terminal::Cell& shown = t.At(x, y);
            ASSERT_EQ(shown.Glyph, plat::screen::OemGlyph(c.Char)) << "at " << x << "," << y;
            ASSERT_EQ(shown.Fg, fg) << "at " << x << "," << y;
            ASSERT_EQ(shown.Bg, bg) << "at " << x << "," << y;
        }
    const bool cursorInside = s.Cursor.X < t.Width && s.Cursor.Y < t.Height;
    EXPECT_EQ(t.CursorVisible, s.CursorVisible && cursorInside);
    if (s.CursorVisible && cursorInside) {
        EXPECT_EQ(t.X, s.Cursor.X);
        EXPECT_EQ(t.Y, s.Cursor.Y);
    }
}

TEST(LinuxFrames, ConsoleColoursBecomeAnsiColours) {
    EXPECT_EQ(plat::term::SgrFor(0x1F), "\x1b[97;44m");   // white on blue
    EXPECT_EQ(plat::term::SgrFor(0x1E), "\x1b[93;44m");   // yellow on blue
    EXPECT_EQ(plat::term::SgrFor(0x0C), "\x1b[91;40m");   // light red
    EXPECT_EQ(plat::term::SgrFor(0x01), "\x1b[34;40m");   // blue
    EXPECT_EQ(plat::term::SgrFor(0x04), "\x1b[31;40m");   // red
    EXPECT_EQ(plat::term::SgrFor(0x08), "\x1b[90;40m");   // dark grey
    EXPECT_EQ(plat::term::SgrFor(0x3E), "\x1b[93;46m");   // yellow on cyan
    EXPECT_EQ(plat::term::SgrFor(0x84), "\x1b[31;100m");  // red on dark grey
}

// The Linux text console has sixteen foregrounds (bold makes them bright) but eight backgrounds:
// dark grey, as near light grey as black, shows as light grey so that black text stays readable.
TEST(LinuxFrames, TheTextConsoleGetsTheNearestColoursItCanShow) {
    plat::term::UseLinuxConsoleColours(true);
    EXPECT_EQ(plat::term::SgrFor(0x80), "\x1b[22;30;47m");  // black on dark grey
    EXPECT_EQ(plat::term::SgrFor(0x84), "\x1b[22;31;47m");  // red on dark grey
    EXPECT_EQ(plat::term::SgrFor(0x1F), "\x1b[1;37;44m");   // white on blue
    EXPECT_EQ(plat::term::SgrFor(0x08), "\x1b[1;30;40m");   // dark grey
    EXPECT_EQ(plat::term::SgrFor(0xC9), "\x1b[1;34;41m");   // a bright background shows dark
    auto s = Blank(2, 1);
    s.Cells[0] = plat::screen::Cell{'A', 0x1F};
    s.Cells[1] = plat::screen::Cell{'B', 0x1E};
    plat::term::FrameState state;
    std::string out;
    plat::term::RenderFrame(s, plat::Coord{2, 1}, state, out);
    plat::term::UseLinuxConsoleColours(false);
    EXPECT_NE(out.find("\x1b[1;37;44mA\x1b[1;33mB"), std::string::npos) << "only the foreground changed";
    EXPECT_EQ(out.find("\x1b[9"), std::string::npos) << "no bright colour code the console does not know";
    EXPECT_EQ(plat::term::SgrFor(0x84), "\x1b[31;100m");
}

TEST(LinuxFrames, FirstFrameRepaintsEverything) {
    auto s = Blank(80, 25);
    const std::string title = " Quilvex Platenhawk v0.6";
    for (std::size_t i = 0; i < 80; ++i)
        CellOf(s, static_cast<int>(i), 0) = {static_cast<std::uint8_t>(i < title.size() ? title[i] : 0), 0x1F};
    CellOf(s, 0, 2) = {0xC9, 0x0C};    // ╔
    CellOf(s, 1, 2) = {0x80, 0x84};    // А
    CellOf(s, 79, 24) = {0xDB, 0x02};  // █ in the last cell
    plat::term::FrameState state;
    std::string out;
    plat::term::RenderFrame(s, {80, 25}, state, out);
    EXPECT_NE(out.find("\x1b[2J"), std::string::npos);
    EXPECT_NE(out.find("╔"), std::string::npos);
    EXPECT_NE(out.find("А"), std::string::npos);
    Terminal t(80, 25);
    t.Play(out);
    ExpectShows(t, s);
    EXPECT_LT(out.size(), 4000u);
}

TEST(LinuxFrames, LaterFramesSendOnlyChanges) {
    auto s = Blank(80, 25);
    plat::term::FrameState state;
    std::string out;
    plat::term::RenderFrame(s, {80, 25}, state, out);
    Terminal t(80, 25);
    t.Play(out);

    out.clear();
    plat::term::RenderFrame(s, {80, 25}, state, out);
    EXPECT_EQ(out, "");  // nothing changed, nothing sent

    CellOf(s, 40, 12) = {'7', 0x07};
    CellOf(s, 41, 12) = {'8', 0x07};
    out.clear();
    plat::term::RenderFrame(s, {80, 25}, state, out);
    EXPECT_EQ(out.find("\x1b[2J"), std::string::npos);
    EXPECT_LE(out.size(), 12u);  // a position and two characters; the colour is still set
    t.Play(out);
    ExpectShows(t, s);
}

TEST(LinuxFrames, CursorShownOnlyWhenVisible) {
    auto s = Blank(80, 25);
    plat::term::FrameState state;
    std::string out;
    Terminal t(80, 25);
    plat::term::RenderFrame(s, {80, 25}, state, out);
    t.Play(out);
    EXPECT_FALSE(t.CursorVisible);

    s.CursorVisible = true;
    s.Cursor = {12, 5};
    out.clear();
    plat::term::RenderFrame(s, {80, 25}, state, out);
    t.Play(out);
    ExpectShows(t, s);

    CellOf(s, 70, 0) = {'1', 0x1E};  // a change elsewhere brings the cursor back after it
    out.clear();
    plat::term::RenderFrame(s, {80, 25}, state, out);
    t.Play(out);
    ExpectShows(t, s);

    s.CursorVisible = false;
    out.clear();
    plat::term::RenderFrame(s, {80, 25}, state, out);
    t.Play(out);
    ExpectShows(t, s);
}

TEST(LinuxFrames, SmallerTerminalGetsTheTopLeft) {
    auto s = Blank(80, 25);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 80; ++x) CellOf(s, x, y) = {static_cast<std::uint8_t>('A' + (x + y) % 26), 0x07};
    s.CursorVisible = true;
    s.Cursor = {79, 24};  // outside what the terminal shows: hidden
    plat::term::FrameState state;
    std::string out;
    plat::term::RenderFrame(s, {60, 20}, state, out);
    Terminal t(60, 20);
    t.Play(out);
    ExpectShows(t, s);
}

TEST(LinuxFrames, RandomEditsKeepTerminalInStep) {
    std::mt19937 random(20260);
    auto s = Blank(80, 25);
    plat::term::FrameState state;
    Terminal t(80, 25);
    std::string out;
    for (int frame = 0; frame < 300; ++frame) {
        const int edits = static_cast<int>(random() % 40);
        for (int e = 0; e < edits; ++e) {
            const int x = static_cast<int>(random() % 80), y = static_cast<int>(random() % 25);
            const int run = 1 + static_cast<int>(random() % 6);
            const auto attr = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : 0x08);
            for (int k = 0; k < run && x + k < 80; ++k)
                CellOf(s, x + k, y) = {static_cast<std::uint8_t>(random() % 256), attr};
        }
        s.CursorVisible = random() % 3 == 0;
        s.Cursor = {static_cast<std::int16_t>(random() % 80), static_cast<std::int16_t>(random() % 25)};
        if (frame == 150) state.Full = true;  // as after a resize
        out.clear();
        plat::term::RenderFrame(s, {80, 25}, state, out);
        t.Play(out);
        ExpectShows(t, s);
        if (HasFatalFailure()) return;
    }
}

// ---------------------------------------------------------------- tones

// The console divides its 1193180 Hz timer by the low 16 bits and sounds for the milliseconds in
// the high 16 bits; a request of 0 sounds nothing.
TEST(LinuxTone, RequestCarriesDivisorAndDuration) {
    using plat::term::ToneRequest;
    EXPECT_EQ(ToneRequest(1500, 70), (70u << 16) | 795u);  // the closing signal
    EXPECT_EQ(ToneRequest(120, 30), (30u << 16) | 9943u);  // the error beep
    EXPECT_EQ(ToneRequest(950, 90), (90u << 16) | 1255u);
    EXPECT_EQ(ToneRequest(37, 1), (1u << 16) | 32248u);  // the lowest and highest tones sounded
    EXPECT_EQ(ToneRequest(32767, 65535), (65535u << 16) | 36u);
    EXPECT_EQ(ToneRequest(1000, 100000), (65535u << 16) | 1193u);  // longer tones are cut

    EXPECT_EQ(ToneRequest(0, 100), 0u);
    EXPECT_EQ(ToneRequest(36, 100), 0u);
    EXPECT_EQ(ToneRequest(32768, 100), 0u);
    EXPECT_EQ(ToneRequest(4'000'000'000u, 100), 0u);
    EXPECT_EQ(ToneRequest(1000, 0), 0u);
}

}  // namespace
