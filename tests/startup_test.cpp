// Start-up: the console set-up and its refusals, the stored texts and the fixed frame.
#include "app/setup.h"
#include "program.h"

namespace {

constexpr std::uint8_t WhiteOnBlue = 31, YellowOnBlue = 30, RedOnGrey = 132, BlackOnGrey = 128, LightRed = 12;

std::string Base64(std::string_view plain) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < plain.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(plain[i]) << 16;
        if (i + 1 < plain.size()) v |= static_cast<std::uint8_t>(plain[i + 1]) << 8;
        if (i + 2 < plain.size()) v |= static_cast<std::uint8_t>(plain[i + 2]);
        out += Alphabet[v >> 18];
        out += Alphabet[(v >> 12) & 63];
        out += i + 1 < plain.size() ? Alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < plain.size() ? Alphabet[v & 63] : '=';
    }
    return out;
}

void ExpectAttrs(const headless::Harness& h, int row, int first, int last, std::uint8_t attr) {
    for (int x = first; x <= last; ++x) EXPECT_EQ(h.Attr(x, row), attr) << "column " << x << " of row " << row;
}

void ExpectFailureBox(const headless::Harness& h) {
    EXPECT_TRUE(h.Exited());
    EXPECT_EQ(h.ExitCode(), 0);
    EXPECT_EQ(
        h.Text(0, 0, 29), "╔" +
                              [] {
                                  std::string s;
                                  for (int i = 0; i < 27; ++i) s += "═";
                                  return s;
                              }() +
                              "╗")
        << h.Dump();
    EXPECT_EQ(h.Text(0, 1, 29), "║ Unable to set 80x25 mode! ║");
    EXPECT_EQ(h.Text(0, 2, 1), "╚");
    EXPECT_EQ(h.Text(28, 2, 1), "╝");
    ExpectAttrs(h, 1, 0, 28, LightRed);
}

}  // namespace

TEST(DecodeBase64, DecodesUpToTheFirstPaddedGroup) {
    EXPECT_EQ(DecodeBase64(Base64("abc")), "abc");
    EXPECT_EQ(DecodeBase64(Base64("ab")), "ab");
    EXPECT_EQ(DecodeBase64(Base64("a")), "a");
    EXPECT_EQ(DecodeBase64("YW Jj"), "abc");
    EXPECT_EQ(DecodeBase64("Y\r\nW*Jj"), "abc");
    EXPECT_EQ(DecodeBase64(Base64("abc") + "YW"), "abc");
    EXPECT_EQ(DecodeBase64(Base64("a") + Base64("abc")), "a");
    EXPECT_EQ(DecodeBase64(""), "");
    EXPECT_EQ(DecodeBase64(Base64("\xff\x80\x01")), "\xff\x80\x01");
}

TEST(DecodeBase64, StoredTextsHaveTheirLengths) {
    EXPECT_EQ(StoredTitle.size(), 32u);
    EXPECT_EQ(StoredForumUrl.size(), 32u);
    EXPECT_EQ(StoredBanner.size(), 76u);
    EXPECT_EQ(DecodeBase64(StoredTitle), "Quilvex Platenhawk v0.6");
    EXPECT_EQ(DecodeBase64(StoredForumUrl).size(), 23u);
    const std::string banner = DecodeBase64(StoredBanner);
    EXPECT_EQ(banner.size(), 55u);
    EXPECT_NE(banner.find("Quilvex Software"), std::string::npos);
}

TEST(Startup, DrawsTheFrame) {
    TProgram p(OneDrive(1000));
    const headless::Harness& h = p.H;
    EXPECT_EQ(h.Title(), "Quilvex Platenhawk v0.6");

    EXPECT_EQ(h.Text(0, 0, 24), " Quilvex Platenhawk v0.6");
    ExpectAttrs(h, 0, 0, 69, WhiteOnBlue);
    for (int x = 24; x <= 69; ++x) EXPECT_EQ(h.Char(x, 0), 0) << x;
    EXPECT_EQ(h.Text(70, 0, 10), " 09:05:00 ");
    ExpectAttrs(h, 0, 70, 79, YellowOnBlue);

    EXPECT_EQ(h.Row(1), " Всего LBA: [----------] Текущий LBA: [----------]            Выполнено: [---%] ");
    ExpectAttrs(h, 1, 0, 11, RedOnGrey);
    ExpectAttrs(h, 1, 12, 23, BlackOnGrey);
    ExpectAttrs(h, 1, 24, 37, RedOnGrey);
    ExpectAttrs(h, 1, 38, 49, BlackOnGrey);
    ExpectAttrs(h, 1, 50, 72, RedOnGrey);
    ExpectAttrs(h, 1, 73, 79, BlackOnGrey);
    EXPECT_EQ(h.Char(79, 1), 0);

    EXPECT_EQ(h.Text(0, 24, 56), " " + DecodeBase64(StoredBanner));
    for (int x = 56; x <= 67; ++x) EXPECT_EQ(h.Char(x, 24), 0) << x;
    EXPECT_EQ(h.Text(68, 24, 11), "[F10] Выход");
    ExpectAttrs(h, 24, 0, 67, WhiteOnBlue);
    ExpectAttrs(h, 24, 68, 73, YellowOnBlue);
    ExpectAttrs(h, 24, 74, 79, WhiteOnBlue);
    EXPECT_EQ(h.Char(79, 24), 0);
}

TEST(Startup, ALargerWindowStillGetsTheEightyByTwentyFiveScreen) {
    headless::TOptions options;
    options.WindowSize = {120, 40};
    TProgram p(OneDrive(1000), options);
    EXPECT_FALSE(p.H.Exited());
    EXPECT_EQ(p.H.Text(0, 3, 4), "[1] ");
    EXPECT_EQ(p.H.Text(68, 24, 11), "[F10] Выход");
}

TEST(Startup, RefusesABufferThatIsNotEightyByTwentyFive) {
    for (const plat::Coord size :
         {plat::Coord{79, 25}, plat::Coord{80, 24}, plat::Coord{81, 25}, plat::Coord{80, 26}}) {
        SCOPED_TRACE(std::to_string(size.X) + "x" + std::to_string(size.Y));
        headless::TOptions options;
        options.WindowSize = size;
        options.SizeLocked = true;
        TProgram p(OneDrive(1000), options);
        if (size.Y == 26) {
            // A buffer with more rows still has cell (79, 24) and no column 80.
            EXPECT_FALSE(p.H.Exited());
            continue;
        }
        ExpectFailureBox(p.H);
    }
}

TEST(Startup, RefusesASystemOtherThanNt) {
    headless::TOptions options;
    options.NotNt = true;
    TProgram p(OneDrive(1000), options);
    EXPECT_TRUE(p.H.Exited());
    EXPECT_EQ(p.H.ExitCode(), 0);
    EXPECT_EQ(p.H.Text(0, 0, 51), "This program must be run under Windows NT platform.");
    EXPECT_EQ(p.H.Text(0, 1, 25), "Press [ENTER] to exit... ");
    EXPECT_EQ(p.H.StdinLinesRead(), "\n");
    EXPECT_EQ(p.H.Title(), "Quilvex Platenhawk v0.6");
}

TEST(Startup, CtrlCIsAnOrdinaryKey) {
    TAtMenu p(OneDrive(1000));
    p.H.Send(Key::CtrlC);
    EXPECT_FALSE(p.H.Exited());
    p.H.Send(Key::F10);
    EXPECT_TRUE(p.H.Exited());
    EXPECT_EQ(p.H.ExitCode(), 0);
}
