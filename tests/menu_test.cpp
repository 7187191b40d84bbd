// The main menu: the highlight, the keys it takes and where it comes back to.
#include "scan_run.h"

namespace {

// The item whose 35 cells are all in the highlight colour while the other three are all plain;
// -1 when the items do not look like that.
int Highlighted(const headless::Harness& h) {
    int found = -1;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t attr = h.Attr(21, 9 + i);
        for (int x = 21; x <= 55; ++x)
            if (h.Attr(x, 9 + i) != attr) return -1;
        if (attr == 63 && found == -1)
            found = i;
        else if (attr != 31)
            return -1;
    }
    return found;
}

// Characters and attributes of the work area, rows 2 to 23.
std::string WorkArea(const headless::Harness& h) {
    std::string cells;
    for (int y = 2; y <= 23; ++y)
        for (int x = 0; x < 80; ++x) cells += {static_cast<char>(h.Char(x, y)), static_cast<char>(h.Attr(x, y))};
    return cells;
}

void ExpectRowsUnderTheBoxBlank(const headless::Harness& h) {
    for (int y : {17, 18})
        for (int x = 19; x <= 57; ++x) {
            EXPECT_EQ(h.Char(x, y), ' ') << x << "," << y << "\n" << h.Dump();
            EXPECT_EQ(h.Attr(x, y), 7) << x << "," << y;
        }
}

std::string TwoDrives() { return OneDrive(1000000) + "[drive 1]\nmodel = SECOND DISK\nsectors = 2000\n"; }

}  // namespace

TEST(MainMenu, OpensOnTheFirstItemAndTheArrowsWrap) {
    TAtMenu p(OneDrive(1000));
    EXPECT_EQ(Highlighted(p.H), 0) << p.H.Dump();
    EXPECT_EQ(p.H.Text(19, 9, 39), " ║ Проверка поверхности              ║ ");
    EXPECT_EQ(p.H.Attr(20, 9), 31);
    EXPECT_EQ(p.H.Attr(56, 9), 31);
    EXPECT_EQ(p.H.Text(21, 15, 35), " [ENTER] Продолжить   [ESC] Отмена ");
    for (int x : {21, 28, 43, 47}) EXPECT_EQ(p.H.Attr(x, 15), 30) << x;
    for (int x : {29, 42, 48, 55}) EXPECT_EQ(p.H.Attr(x, 15), 31) << x;
    EXPECT_FALSE(p.H.CursorVisible());
    p.H.Send(Key::Up);
    EXPECT_EQ(Highlighted(p.H), 3);
    p.H.Send(Key::Down);
    EXPECT_EQ(Highlighted(p.H), 0);
    p.H.Send(Key::Down);
    EXPECT_EQ(Highlighted(p.H), 1);
    p.H.Send({Key::Down, Key::Down, Key::Down});
    EXPECT_EQ(Highlighted(p.H), 0);
}

TEST(MainMenu, F4AndSpaceChangeNothingButTakeTheKeyPause) {
    TAtMenu p(OneDrive(1000));
    p.H.Send(Key::Down);
    const std::string before = WorkArea(p.H);
    for (Key key : {Key::F4, Key::Space}) {
        const std::uint64_t t = p.H.Now();
        p.H.Send(key);
        EXPECT_EQ(p.H.Now(), t + KeyPauseMs);
        EXPECT_EQ(WorkArea(p.H), before) << p.H.Dump();
    }
    EXPECT_TRUE(sim::Reads().empty());
}

TEST(MainMenu, EscapeChoosesADriveAgainAndStartsOnTheFirstItem) {
    TAtMenu p(TwoDrives());
    p.H.Send({Key::Down, Key::Down});
    p.H.Send(Key::Escape);
    EXPECT_NE(p.H.Dump().find("Введите номер жесткого диска:"), std::string::npos) << p.H.Dump();
    EXPECT_EQ(Highlighted(p.H), -1);
    p.H.SendText("2");
    p.H.Send(Key::Enter);
    EXPECT_NE(p.H.Row(3).find("SECOND DISK"), std::string::npos) << p.H.Dump();
    EXPECT_EQ(Highlighted(p.H), 0);
    p.H.Send(Key::Enter);
    EXPECT_EQ(Trimmed(p.H.Text(37, 10, 19)), "1999") << p.H.Dump();
}

TEST(MainMenu, ReopensOnTheItemChosenLast) {
    TAtMenu p(OneDrive(1000));
    p.H.Send({Key::Down, Key::Down, Key::Enter});  // spindle stop: back at once
    EXPECT_EQ(Highlighted(p.H), 2) << p.H.Dump();
    EXPECT_EQ(Trimmed(p.H.Row(23)), "");
    p.H.Send({Key::Up, Key::Enter});  // the SMART table, closed with ENTER
    EXPECT_NE(p.H.Row(23).find("Нажмите [ENTER]"), std::string::npos) << p.H.Dump();
    p.H.Send(Key::Enter);
    EXPECT_EQ(Highlighted(p.H), 1) << p.H.Dump();
}

TEST(MainMenu, CancelledDialogLeavesNothingUnderTheMenu) {
    TAtMenu p(OneDrive(1000));
    p.H.Send(Key::Enter);
    EXPECT_EQ(p.H.Text(21, 17, 5), " [F4]") << p.H.Dump();
    const std::uint64_t t = p.H.Now();
    p.H.Send(Key::Escape);  // no pause on ESC
    EXPECT_EQ(p.H.Now(), t);
    EXPECT_EQ(Highlighted(p.H), 0) << p.H.Dump();
    EXPECT_EQ(p.H.Text(19, 16, 39), " ╚═══════════════════════════════════╝ ");
    ExpectRowsUnderTheBoxBlank(p.H);
}
