// The clock on row 0 and the ticker on row 24 on the virtual clock, and the end of the program
// by F10 from every key wait.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/state.h"
#include "program.h"

namespace {

constexpr std::uint8_t YellowOnBlue = 30;
constexpr std::uint8_t WhiteOnBlue = 31;
const char* const Title = " Quilvex Platenhawk v0.6";

constexpr std::uint64_t TimeOfDay(int h, int m, int s) { return ((h * 60ull + m) * 60 + s) * 1000; }

headless::TOptions Clock(std::string format, std::uint64_t startMs) {
    headless::TOptions options;
    options.TimeFormat = std::move(format);
    options.StartTimeOfDayMs = startMs;
    return options;
}

void AdvanceTo(headless::Harness& h, std::uint64_t ms) {
    ASSERT_GE(ms, h.Now());
    h.Advance(ms - h.Now());
}

// The first column in `x0`..`x1` of row `y` whose attribute is not `attr`, or -1.
int OtherAttr(const headless::Harness& h, int y, int x0, int x1, std::uint8_t attr) {
    for (int x = x0; x <= x1; ++x)
        if (h.Attr(x, y) != attr) return x;
    return -1;
}

struct TCells {
    std::vector<std::uint8_t> Chars, Attrs;
    friend bool operator==(const TCells&, const TCells&) = default;
};

TCells Cells(const headless::Harness& h, int y, std::initializer_list<std::pair<int, int>> ranges) {
    TCells cells;
    for (auto [x0, x1] : ranges)
        for (int x = x0; x <= x1; ++x) {
            cells.Chars.push_back(h.Char(x, y));
            cells.Attrs.push_back(h.Attr(x, y));
        }
    return cells;
}

// Row 0 outside the clock's cells: the title bar and column 79.
TCells TitleBar(const headless::Harness& h, int clockLength) { return Cells(h, 0, {{0, 78 - clockLength}, {79, 79}}); }

// The status bar's own cells of row 24: column 0 and columns 57 to 79.
TCells StatusBar(const headless::Harness& h) { return Cells(h, 24, {{0, 0}, {57, 79}}); }

void ExpectTime(const headless::Harness& h, const std::string& time) {
    const int n = static_cast<int>(time.size());
    EXPECT_EQ(h.Text(79 - n, 0, n), time) << h.Dump();
    EXPECT_EQ(OtherAttr(h, 0, 79 - n, 78, YellowOnBlue), -1);
    EXPECT_EQ(h.Text(0, 0, 24), Title);
}

enum class TPhase { Banner, Forum, Hint };

void ExpectPhase(const headless::Harness& h, TPhase phase) {
    switch (phase) {
        case TPhase::Banner:
            EXPECT_EQ(h.Text(1, 24, 55), App.BannerText) << "at " << h.Now() << "\n" << h.Dump();
            EXPECT_EQ(h.Char(56, 24), 0);
            EXPECT_EQ(OtherAttr(h, 24, 1, 56, WhiteOnBlue), -1);
            break;
        case TPhase::Forum:
            EXPECT_EQ(h.Text(1, 24, 33), "Посетите форум Quilvex Software: ") << "at " << h.Now() << "\n" << h.Dump();
            EXPECT_EQ(OtherAttr(h, 24, 1, 33, WhiteOnBlue), -1);
            EXPECT_EQ(h.Text(34, 24, 23), App.ForumUrl);
            EXPECT_EQ(OtherAttr(h, 24, 34, 56, YellowOnBlue), -1);
            break;
        case TPhase::Hint:
            EXPECT_EQ(h.Text(1, 24, 8), "Нажмите ") << "at " << h.Now() << "\n" << h.Dump();
            EXPECT_EQ(OtherAttr(h, 24, 1, 8, WhiteOnBlue), -1);
            EXPECT_EQ(h.Text(9, 24, 5), "[ESC]");
            EXPECT_EQ(OtherAttr(h, 24, 9, 13, YellowOnBlue), -1);
            EXPECT_EQ(h.Text(14, 24, 43), ", чтобы прервать проверку поверхности      ");
            EXPECT_EQ(OtherAttr(h, 24, 14, 56, WhiteOnBlue), -1);
            break;
    }
}

// A drive read at 40 ms a block of 255 sectors: `blocks` blocks take blocks × 40 ms of virtual time.
std::string SlowDrive(std::int64_t blocks) { return OneDrive(blocks * 255, "latency = 40"); }

// Starts a scan from the menu and ends the program by F10 at `atMs`, while the scan runs: the
// screen stays as it was at that moment.
void ScanUntil(headless::Harness& h, std::uint64_t atMs) {
    h.Send(Key::Enter);
    h.Press(Key::F4);
    h.PressAt(atMs, Key::F10);
    ASSERT_TRUE(h.RunUntilIdle());
    ASSERT_TRUE(h.Exited()) << h.Dump();
    ASSERT_LT(h.Now(), atMs + 40);
}

}  // namespace

TEST(ClockThread, ShortTimeStandsRightAlignedAndTicksEverySecond) {
    TProgram p(OneDrive(1000), Clock("%-H:%M:%S", TimeOfDay(9, 5, 0)));
    EXPECT_EQ(p.H.Char(71, 0), ' ');
    ExpectTime(p.H, "9:05:00");
    const TCells bar = TitleBar(p.H, 7);
    AdvanceTo(p.H, 4999);
    ExpectTime(p.H, "9:05:04");
    AdvanceTo(p.H, 5000);
    ExpectTime(p.H, "9:05:05");
    EXPECT_EQ(TitleBar(p.H, 7), bar);
}

TEST(ClockThread, TheFieldHoldsEightCharactersAndLeavesNoStaleOnes) {
    {
        TProgram p(OneDrive(1000), Clock("%-H:%M:%S", TimeOfDay(9, 59, 58)));
        ExpectTime(p.H, " 9:59:58");
        const TCells bar = TitleBar(p.H, 8);
        AdvanceTo(p.H, 2000);
        ExpectTime(p.H, "10:00:00");
        EXPECT_EQ(TitleBar(p.H, 8), bar);
    }
    TProgram p(OneDrive(1000), Clock("%-H:%M:%S", TimeOfDay(23, 59, 59)));
    ExpectTime(p.H, "23:59:59");
    AdvanceTo(p.H, 1000);
    ExpectTime(p.H, " 0:00:00");
}

TEST(ClockThread, ATwelveHourTimeEndsAtColumn78AndKeepsOffTheTitle) {
    {
        TProgram p(OneDrive(1000), Clock("%I:%M:%S %p", TimeOfDay(9, 5, 0)));
        ExpectTime(p.H, "09:05:00 AM");
        const TCells bar = TitleBar(p.H, 11);
        AdvanceTo(p.H, 3000);
        ExpectTime(p.H, "09:05:03 AM");
        EXPECT_EQ(TitleBar(p.H, 11), bar);
    }
    TProgram p(OneDrive(1000), Clock("%-I:%M:%S %p", TimeOfDay(12, 59, 59)));
    ExpectTime(p.H, "12:59:59 PM");
    const TCells bar = TitleBar(p.H, 11);
    AdvanceTo(p.H, 1000);
    ExpectTime(p.H, " 1:00:00 PM");
    EXPECT_EQ(TitleBar(p.H, 11), bar);
}

TEST(BackgroundThreads, LeaveTheMainThreadsCursorAndColourAlone) {
    TProgram p(OneDrive(1000));
    const plat::Coord cursor = p.H.Cursor();
    const std::uint16_t colour = p.H.CurrentAttribute();
    AdvanceTo(p.H, 65000);
    EXPECT_EQ(p.H.Cursor().X, cursor.X);
    EXPECT_EQ(p.H.Cursor().Y, cursor.Y);
    EXPECT_EQ(p.H.CurrentAttribute(), colour);
    ExpectPhase(p.H, TPhase::Forum);
    ExpectTime(p.H, "09:06:05");
    p.H.SendText("1");
    EXPECT_EQ(p.H.Text(cursor.X, cursor.Y, 1), "1") << p.H.Dump();
}

TEST(TickerThread, AlternatesForumLineAndBannerEveryTwentySecondsWithoutAScan) {
    TProgram p(OneDrive(1000));
    ASSERT_EQ(App.BannerText.size(), 55u);
    ASSERT_EQ(App.ForumUrl.size(), 23u);
    const TCells bar = StatusBar(p.H);
    const std::pair<std::uint64_t, TPhase> steps[] = {
        {19999, TPhase::Banner}, {20000, TPhase::Forum}, {39999, TPhase::Forum},  {40000, TPhase::Banner},
        {59999, TPhase::Banner}, {60000, TPhase::Forum}, {80000, TPhase::Banner}, {100000, TPhase::Forum},
    };
    for (auto [at, phase] : steps) {
        AdvanceTo(p.H, at);
        ExpectPhase(p.H, phase);
        EXPECT_EQ(StatusBar(p.H), bar) << "at " << at;
    }
}

TEST(TickerThread, ShowsTheEscapeHintAfterEachForumLineWhileAScanRuns) {
    // The scan starts at about 2 s and runs for 200 s; the program ends at each moment listed.
    const std::pair<std::uint64_t, TPhase> moments[] = {
        {39900, TPhase::Forum},  {40100, TPhase::Hint},  {59900, TPhase::Hint},
        {60100, TPhase::Banner}, {80100, TPhase::Forum}, {100100, TPhase::Hint},
    };
    for (auto [at, phase] : moments) {
        SCOPED_TRACE("at " + std::to_string(at));
        TAtMenu p(SlowDrive(5000));
        const TCells bar = StatusBar(p.H);
        ScanUntil(p.H, at);
        ExpectPhase(p.H, phase);
        EXPECT_EQ(StatusBar(p.H), bar);
    }
}

TEST(TickerThread, TheBannerReplacesTheHintWithinHalfASecondOfTheScansEnd) {
    TAtMenu p(SlowDrive(1200));
    const TCells bar = StatusBar(p.H);
    p.H.Send(Key::Enter);
    p.H.Send(Key::F4);
    ASSERT_EQ(p.H.Beeps().size(), 2u) << p.H.Dump();
    const std::uint64_t end = p.H.Beeps()[0].AtMs - 1000;  // the closing tones follow a 1 s pause
    ASSERT_GT(end, 40500u) << "the scan must end while the hint is up";
    ASSERT_LT(end, 59500u);
    ExpectPhase(p.H, TPhase::Banner);
    // The next forum line comes 20 s after the banner.
    AdvanceTo(p.H, end + 20000);
    ExpectPhase(p.H, TPhase::Banner);
    AdvanceTo(p.H, end + 20500);
    ExpectPhase(p.H, TPhase::Forum);
    EXPECT_EQ(StatusBar(p.H), bar);
}

TEST(ProgramEnd, F10EndsTheProgramFromEveryKeyWait) {
    const std::string sixteen = [] {
        std::string lines;
        for (int id : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 191, 192, 193})
            lines += "attribute = " + std::to_string(id) + " 100 100 0 0\n";
        return OneDrive(1000, lines);
    }();
    const auto atMenu = [](const std::string& drive) {
        return [drive](headless::Harness& h) {
            h.SendText(drive);
            h.Send(Key::Enter);
        };
    };
    const auto smart = [atMenu](headless::Harness& h) {
        atMenu("1")(h);
        h.Send(Key::Down);
        h.Send(Key::Enter);
    };
    struct TCase {
        const char* Wait;
        std::string Scenario;
        std::function<void(headless::Harness&)> Reach;
        int Row;
        std::string Marker;
    };
    const TCase cases[] = {
        {"drive choice", OneDrive(1000), [](headless::Harness&) {}, 5, "Введите номер жесткого диска"},
        {"detection retry", "[drive 0]\nsectors = 1000\nanswers = no\n", [](headless::Harness&) {}, 5,
         "повторить поиск"},
        {"main menu", OneDrive(1000), atMenu("1"), 15, "Продолжить"},
        {"scan settings", OneDrive(1000),
         [&](headless::Harness& h) {
             atMenu("1")(h);
             h.Send(Key::Enter);
         },
         17, "Начать"},
        {"LBA editor", OneDrive(1000),
         [&](headless::Harness& h) {
             atMenu("1")(h);
             h.Send({Key::Enter, Key::Enter});
         },
         17, "Применить"},
        {"SMART page prompt", sixteen, smart, 23, "следующую страницу"},
        {"SMART drive error", OneDrive(1000),
         [&](headless::Harness& h) {
             atMenu("1")(h);
             sim::RemoveDrive(0);
             h.Send(Key::Down);
             h.Send(Key::Enter);
         },
         4, "Ошибка доступа"},
        {"closing prompt", OneDrive(1000),
         [&](headless::Harness& h) {
             atMenu("1")(h);
             h.Send({Key::Enter, Key::F4});
         },
         23, "для продолжения"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Wait);
        TProgram p(c.Scenario);
        c.Reach(p.H);
        ASSERT_NE(p.H.Row(c.Row).find(c.Marker), std::string::npos) << p.H.Dump();
        ASSERT_FALSE(p.H.Exited());
        p.H.Send(Key::F10);
        EXPECT_TRUE(p.H.Exited());
        EXPECT_EQ(p.H.ExitCode(), 0);
    }
}
