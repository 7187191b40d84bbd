// The scan settings dialog: its fields, the LBA editor inside it and what it keeps between visits.
#include "scan_run.h"

namespace {

constexpr int FieldRows[] = {9, 10, 12};

std::string Value(const headless::Harness& h, int field) { return Trimmed(h.Text(37, FieldRows[field], 19)); }
char Mark(const headless::Harness& h) { return static_cast<char>(h.Char(23, 12)); }

// The field drawn highlighted (label and blanks 63, value 62) while the others are plain (31, 30);
// -1 when the fields do not look like that.
int Highlighted(const headless::Harness& h) {
    int found = -1;
    for (int field = 0; field < 3; ++field) {
        const int row = FieldRows[field];
        const bool lit = h.Attr(21, row) == 63;
        const int valueFirst = field == 2 ? 23 : 37;
        const int valueLast = field == 2 ? 23 : 36 + static_cast<int>(Value(h, field).size());
        for (int x = 21; x <= 55; ++x) {
            const bool value = x >= valueFirst && x <= valueLast;
            if (h.Attr(x, row) != (value ? (lit ? 62 : 30) : (lit ? 63 : 31))) return -1;
        }
        if (lit) {
            if (found != -1) return -1;
            found = field;
        }
    }
    return found;
}

void ExpectDialogAtRest(const headless::Harness& h) {
    EXPECT_EQ(h.Text(21, 14, 35), " Для изменения параметра нажмите   ") << h.Dump();
    EXPECT_EQ(h.Text(21, 15, 35), " [ENTER] или [SPACEBAR]            ");
    EXPECT_EQ(h.Attr(21, 14), 24);
    EXPECT_EQ(h.Attr(55, 15), 24);
    EXPECT_EQ(h.Text(21, 17, 35), " [F4] Начать          [ESC] Отмена ");
    EXPECT_FALSE(h.CursorVisible());
}

// The field being edited: `cells` cells from column 37 in white on black, the editor's text in them.
void ExpectEditing(const headless::Harness& h, int row, const std::string& text, int cells = 11) {
    EXPECT_EQ(h.Text(21, 14, 35), std::string(35, ' ')) << h.Dump();
    EXPECT_EQ(h.Text(21, 15, 35), std::string(35, ' '));
    EXPECT_EQ(h.Attr(21, 14), 24);
    EXPECT_EQ(h.Text(21, 17, 35), " [ENTER] Применить    [ESC] Отмена ");
    for (int x : {21, 28, 43, 47}) EXPECT_EQ(h.Attr(x, 17), 30) << x;
    for (int x : {29, 42, 48, 55}) EXPECT_EQ(h.Attr(x, 17), 31) << x;
    for (int x = 37; x < 37 + cells; ++x) EXPECT_EQ(h.Attr(x, row), 15) << x;
    EXPECT_EQ(h.Attr(37 + cells, row), h.Attr(21, row));
    EXPECT_EQ(Trimmed(h.Text(37, row, cells)), text);
    EXPECT_TRUE(h.CursorVisible());
    EXPECT_EQ(h.Cursor().X, 37 + static_cast<int>(text.size()));
    EXPECT_EQ(h.Cursor().Y, row);
}

std::size_t ErrorBeeps(const headless::Harness& h) {
    std::size_t n = 0;
    for (const headless::TBeep& b : h.Beeps()) {
        EXPECT_EQ(b.Frequency, 120u);
        EXPECT_EQ(b.DurationMs, 30u);
        ++n;
    }
    return n;
}

void Retype(headless::Harness& h, const std::string& digits) {
    for (int i = 0; i < 20; ++i) h.Send(Key::Backspace);
    h.SendText(digits);
}

}  // namespace

TEST(ScanSettings, OpensOnTheWholeDriveWithFieldZeroHighlighted) {
    TAtMenu p(OneDrive(1000000));
    p.H.Send(Key::Enter);
    EXPECT_EQ(p.H.Text(21, 9, 35), " Начальный LBA: 0                  ") << p.H.Dump();
    EXPECT_EQ(p.H.Text(21, 10, 35), " Конечный LBA:  999999             ");
    EXPECT_EQ(p.H.Text(21, 12, 35), " [x] Повторная проверка блоков     ");
    EXPECT_EQ(p.H.Text(19, 8, 39), " ╔═══════════════════════════════════╗ ");
    EXPECT_EQ(p.H.Text(19, 18, 39), " ╚═══════════════════════════════════╝ ");
    EXPECT_EQ(Highlighted(p.H), 0);
    ExpectDialogAtRest(p.H);
}

TEST(ScanSettings, ArrowsWrapAndSpaceOrEnterFlipTheMark) {
    TAtMenu p(OneDrive(1000000));
    p.H.Send(Key::Enter);
    p.H.Send(Key::Up);
    EXPECT_EQ(Highlighted(p.H), 2) << p.H.Dump();
    p.H.Send(Key::Down);
    EXPECT_EQ(Highlighted(p.H), 0);
    p.H.Send({Key::Down, Key::Down});
    EXPECT_EQ(Highlighted(p.H), 2);
    p.H.Send(Key::Space);
    EXPECT_EQ(Mark(p.H), ' ');
    EXPECT_EQ(Highlighted(p.H), 2);
    p.H.Send(Key::Space);
    EXPECT_EQ(Mark(p.H), 'x');
    p.H.Send(Key::Enter);
    EXPECT_EQ(Mark(p.H), ' ');
    p.H.Send(Key::Down);
    EXPECT_EQ(Highlighted(p.H), 0);
}

TEST(ScanSettings, EditorOpensInPlaceAndEscapeKeepsTheOldValue) {
    TAtMenu p(OneDrive(1000000));
    p.H.Send(Key::Enter);
    p.H.Send(Key::Space);  // on field 0 SPACE opens the editor like ENTER
    ExpectEditing(p.H, 9, "0");
    p.H.Send(Key::Backspace);
    ExpectEditing(p.H, 9, "");
    p.H.SendText("12");
    ExpectEditing(p.H, 9, "12");
    p.H.Send(Key::Escape);
    ExpectDialogAtRest(p.H);
    EXPECT_EQ(Value(p.H, 0), "0");
    EXPECT_EQ(Highlighted(p.H), 0);

    p.H.Send({Key::Down, Key::Enter});
    ExpectEditing(p.H, 10, "999999");
    p.H.Send(Key::Escape);
    ExpectDialogAtRest(p.H);
    EXPECT_EQ(Value(p.H, 1), "999999");
    EXPECT_EQ(Highlighted(p.H), 1);
    EXPECT_TRUE(p.H.Beeps().empty());
}

TEST(ScanSettings, OutOfRangeValuesBeepAndKeepTheEditorOpen) {
    TAtMenu p(OneDrive(1000000));
    p.H.Send({Key::Enter, Key::Down});
    TypeLba(p.H, 5000);
    EXPECT_EQ(Value(p.H, 1), "5000");
    p.H.Send({Key::Up, Key::Enter});
    Retype(p.H, "5001");  // above the end
    p.H.Send(Key::Enter);
    EXPECT_EQ(ErrorBeeps(p.H), 1u);
    ExpectEditing(p.H, 9, "5001");
    p.H.Send(Key::Backspace);
    p.H.SendText("0");
    p.H.Send(Key::Enter);
    ExpectDialogAtRest(p.H);
    EXPECT_EQ(Value(p.H, 0), "5000");

    p.H.Send({Key::Down, Key::Enter});
    Retype(p.H, "4999");  // below the start
    p.H.Send(Key::Enter);
    EXPECT_EQ(ErrorBeeps(p.H), 2u);
    ExpectEditing(p.H, 10, "4999");
    Retype(p.H, "1000000");  // the drive's sector count
    p.H.Send(Key::Enter);
    EXPECT_EQ(ErrorBeeps(p.H), 3u);
    ExpectEditing(p.H, 10, "1000000");
    Retype(p.H, "");
    p.H.Send(Key::Enter);  // an empty field neither beeps nor closes
    EXPECT_EQ(ErrorBeeps(p.H), 3u);
    ExpectEditing(p.H, 10, "");
    p.H.SendText("999999");
    p.H.Send(Key::Enter);
    ExpectDialogAtRest(p.H);
    EXPECT_EQ(Value(p.H, 1), "999999");
}

TEST(ScanSettings, AcceptedEndOutlivesTheVisitWhileStartAndRecheckReset) {
    TAtMenu p(OneDrive(1000000));
    OpenScan(p.H, Range(100, 5000, false));
    EXPECT_EQ(Value(p.H, 0), "100");
    EXPECT_EQ(Mark(p.H), ' ');
    p.H.Send(Key::Escape);
    p.H.Send(Key::Enter);
    EXPECT_EQ(Value(p.H, 0), "0") << p.H.Dump();
    EXPECT_EQ(Value(p.H, 1), "5000");
    EXPECT_EQ(Mark(p.H), 'x');
    EXPECT_EQ(Highlighted(p.H), 0);
    p.H.Send(Key::Escape);

    // The same after a scan of 1000 to 5000 without re-check.
    OpenScan(p.H, Range(1000, std::nullopt, false));
    p.H.Send(Key::F4);
    const auto reads = ReadSpans();
    ASSERT_EQ(reads.size(), 16u);
    EXPECT_EQ(reads.front().first, 1000u * 512);
    EXPECT_EQ(reads.back().first + reads.back().second, 5001u * 512);
    p.H.Send({Key::Enter, Key::Enter});
    EXPECT_EQ(Value(p.H, 0), "0") << p.H.Dump();
    EXPECT_EQ(Value(p.H, 1), "5000");
    EXPECT_EQ(Mark(p.H), 'x');
}

TEST(ScanSettings, LbaFieldTakesTenDigitsOrAsManyAsTheLastLbaHas) {
    struct TCase {
        std::int64_t Sectors;
        std::string Taken;  // of "123456789012"
        bool Accepted;
    };
    for (const TCase& c : {TCase{1000000, "1234567890", false}, TCase{6000000000, "1234567890", true},
                           TCase{100000000000, "12345678901", true}}) {
        SCOPED_TRACE(c.Sectors);
        TAtMenu p(OneDrive(c.Sectors));
        // The field is blanked for as many digits as the editor takes, plus the cursor's cell.
        const int cells = static_cast<int>(c.Taken.size()) + 1;
        p.H.Send({Key::Enter, Key::Down, Key::Enter});
        ExpectEditing(p.H, 10, std::to_string(c.Sectors - 1), cells);
        p.H.SendText("7");
        const std::string last = std::to_string(c.Sectors - 1);
        EXPECT_EQ(Trimmed(p.H.Text(37, 10, 19)), last + (last.size() < c.Taken.size() ? "7" : ""));
        Retype(p.H, "123456789012");
        EXPECT_EQ(Trimmed(p.H.Text(37, 10, 19)), c.Taken);
        EXPECT_EQ(p.H.Cursor().X, 37 + static_cast<int>(c.Taken.size()));
        p.H.Send(Key::Enter);
        EXPECT_EQ(ErrorBeeps(p.H), c.Accepted ? 0u : 1u);
        if (!c.Accepted) {
            ExpectEditing(p.H, 10, c.Taken, cells);
            for (std::size_t i = 0; i < c.Taken.size(); ++i) p.H.Send(Key::Backspace);
            ExpectEditing(p.H, 10, "", cells);
            p.H.Send(Key::Escape);
        }
        EXPECT_EQ(Value(p.H, 1), c.Accepted ? c.Taken : last);
    }
}
