// The SMART table, run from the main menu on simulated drives: paging, the rows and their
// colours, the two failure paths and the requests that reach the drive.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "program.h"

namespace {

struct TAttr {
    int Id;
    int Current;
    int Worst;
    std::uint64_t Raw;
    int Threshold;
};

struct TKnown {
    int Id;
    const char* Name;
};

// The first thirty entries of the attribute-name table.
constexpr std::array<TKnown, 30> Known = {{
    {1, "Raw Read Error Rate"},
    {2, "Throughput Performance"},
    {3, "Spin Up Time"},
    {4, "Start/Stop Count"},
    {5, "Reallocated Sector Count"},
    {6, "Read Channel Margin"},
    {7, "Seek Error Rate"},
    {8, "Seek Time Performance"},
    {9, "Power-On Hours Count"},
    {10, "Spin-up Retry Count"},
    {11, "Calibration Retry Count"},
    {12, "Power Cycle Count"},
    {13, "Soft Read Error Rate"},
    {191, "G-Sense Error Rate"},
    {192, "Power-Off Retract Cycle"},
    {193, "Load/Unload Cycle Count"},
    {194, "HDD Temperature"},
    {195, "Hardware ECC Recovered"},
    {196, "Reallocated Event Count"},
    {197, "Current Pending Sector Count"},
    {198, "Off-line Scan Uncorrectable Count"},
    {199, "UltraDMA CRC Error Rate"},
    {200, "Write Error Rate"},
    {201, "Soft Read Error Rate"},
    {202, "Data Address Mark Errors"},
    {203, "Run Out Cancel"},
    {204, "Soft ECC Correction"},
    {205, "Thermal Asperity Rate"},
    {206, "Flying Height"},
    {207, "Spin High Current"},
}};

const std::string Blank(80, ' ');
const std::string Header = " AID   Name                                Value   Worst   Raw      Threshold   ";
const char* const PagePrompt = "Нажмите [ENTER] для перехода на следующую страницу...";
const char* const ClosingPrompt = "Нажмите [ENTER] для продолжения...";

// The first `count` known attributes, each slot with values of its own.
std::vector<TAttr> KnownAttributes(std::size_t count) {
    std::vector<TAttr> attrs;
    for (std::size_t s = 0; s < count; ++s) {
        const int i = static_cast<int>(s);
        attrs.push_back(TAttr{Known[s].Id, 200 - i, 150 - i, 1000u * s + 7, i + 1});
    }
    return attrs;
}

std::string Scenario(const std::vector<TAttr>& attrs, std::string_view extra = {}) {
    std::string lines(extra);
    for (const TAttr& a : attrs)
        lines += "\nattribute = " + std::to_string(a.Id) + " " + std::to_string(a.Current) + " " +
                 std::to_string(a.Worst) + " " + std::to_string(a.Raw) + " " + std::to_string(a.Threshold);
    return OneDrive(1000000, lines);
}

const char* NameOf(int id) {
    for (const TKnown& k : Known)
        if (k.Id == id) return k.Name;
    return nullptr;
}

// A table row built column by column: AID at 1, name at 7, value 43, worst 51, raw 59, threshold 68.
std::string ExpectedRow(const TAttr& a) {
    std::string row = Blank;
    const auto put = [&](std::size_t column, const std::string& text) { row.replace(column, text.size(), text); };
    put(1, std::to_string(a.Id));
    put(7, NameOf(a.Id));
    put(43, std::to_string(a.Current));
    put(51, std::to_string(a.Worst));
    put(59, std::to_string(a.Raw & 0xFFFF));
    put(68, std::to_string(a.Threshold));
    return row;
}

std::uint8_t RowColour(const TAttr& a) { return a.Id == 5 && (a.Raw & 0xFFFF) > 0 ? 12 : 8; }

// The first column of row `y` in `x0`..`x1` whose attribute is not `attr`, or -1.
int OtherAttr(const headless::Harness& h, int y, int x0, int x1, std::uint8_t attr) {
    for (int x = x0; x <= x1; ++x)
        if (h.Attr(x, y) != attr) return x;
    return -1;
}

void ExpectRule(const headless::Harness& h, int y) {
    for (int x = 0; x < 80; ++x) {
        ASSERT_EQ(h.Char(x, y), 0xC4) << "row " << y << " column " << x << "\n" << h.Dump();
        ASSERT_EQ(h.Attr(x, y), 15) << "row " << y << " column " << x;
    }
}

void ExpectRow(const headless::Harness& h, int y, const TAttr& a) {
    EXPECT_EQ(h.Row(y), ExpectedRow(a)) << "row " << y << "\n" << h.Dump();
    EXPECT_EQ(OtherAttr(h, y, 0, 79, RowColour(a)), -1) << "row " << y << " of attribute " << a.Id;
}

void ExpectHeader(const headless::Harness& h) {
    EXPECT_EQ(h.Row(5), Header) << h.Dump();
    EXPECT_EQ(OtherAttr(h, 5, 0, 79, 11), -1);
    ExpectRule(h, 6);
}

void OpenSmart(headless::Harness& h) {
    h.Send(Key::Down);
    h.Send(Key::Enter);
}

}  // namespace

TEST(SmartTable, SixteenAttributesBreakAfterFifteenRows) {
    const auto attrs = KnownAttributes(16);
    TAtMenu p(Scenario(attrs));
    OpenSmart(p.H);
    ExpectHeader(p.H);
    for (int i = 0; i < 15; ++i) ExpectRow(p.H, 7 + i, attrs[static_cast<std::size_t>(i)]);
    EXPECT_EQ(p.H.Row(22), Blank);
    EXPECT_EQ(p.H.Text(0, 23, 53), PagePrompt);
    EXPECT_EQ(OtherAttr(p.H, 23, 0, 52, 15), -1);

    p.H.Send(Key::Enter);
    ExpectHeader(p.H);
    ExpectRow(p.H, 7, attrs[15]);
    ExpectRule(p.H, 8);
    for (int y = 9; y <= 22; ++y) EXPECT_EQ(p.H.Row(y), Blank) << "row " << y << "\n" << p.H.Dump();
    // The page prompt is gone; the shorter closing prompt stands alone on row 23.
    EXPECT_EQ(p.H.Row(23), ClosingPrompt + std::string(80 - 34, ' ')) << p.H.Dump();
    EXPECT_EQ(OtherAttr(p.H, 23, 0, 33, 15), -1);
    EXPECT_EQ(OtherAttr(p.H, 23, 34, 79, 8), -1);

    p.H.Send(Key::Enter);
    EXPECT_EQ(p.H.Text(0, 3, 9), "TEST DISK") << p.H.Dump();
    EXPECT_EQ(p.H.Row(23), Blank);
    EXPECT_FALSE(p.H.Exited());
}

TEST(SmartTable, ThirtyAttributesMakePagesOfFifteenFourteenAndOne) {
    const auto attrs = KnownAttributes(30);
    TAtMenu p(Scenario(attrs));
    OpenSmart(p.H);
    for (int i = 0; i < 15; ++i) ExpectRow(p.H, 7 + i, attrs[static_cast<std::size_t>(i)]);
    EXPECT_EQ(p.H.Text(0, 23, 53), PagePrompt);

    p.H.Send(Key::Enter);
    for (int i = 0; i < 14; ++i) ExpectRow(p.H, 7 + i, attrs[static_cast<std::size_t>(15 + i)]);
    EXPECT_EQ(p.H.Row(21), Blank) << p.H.Dump();
    EXPECT_EQ(p.H.Row(22), Blank);
    EXPECT_EQ(p.H.Text(0, 23, 53), PagePrompt);

    p.H.Send(Key::Enter);
    ExpectRow(p.H, 7, attrs[29]);
    ExpectRule(p.H, 8);
    EXPECT_EQ(p.H.Text(0, 23, 34), ClosingPrompt);
}

TEST(SmartTable, ListsEachKnownIdOnceWithTheValuesAndThresholdOfItsSlot) {
    const std::vector<TAttr> slots = {
        {190, 1, 2, 3, 99},          // unknown id: no row
        {5, 100, 100, 0x10000, 36},  // raw 65536: only its low 16 bits count, so 0 and grey
        {0, 0, 0, 0, 0},             // empty slot
        {194, 120, 97, 0x1234, 0},   // HDD Temperature
        {5, 50, 40, 9, 10},          // the same id again: the first slot is listed
        {221, 100, 100, 2, 51},      // a name that stands under id 191 as well
        {191, 100, 99, 1, 50},
    };
    TAtMenu p(Scenario(slots));
    OpenSmart(p.H);
    ExpectHeader(p.H);
    ExpectRow(p.H, 7, slots[1]);
    EXPECT_EQ(p.H.Text(59, 7, 7), "0      ");
    ExpectRow(p.H, 8, slots[3]);
    EXPECT_EQ(p.H.Text(59, 8, 7), "4660   ");
    EXPECT_EQ(p.H.Text(0, 9, 41), " 221   G-Sense Error Rate" + std::string(16, ' '));
    EXPECT_EQ(p.H.Text(59, 9, 12), "2        51 ");
    EXPECT_EQ(p.H.Text(0, 10, 41), " 191   G-Sense Error Rate" + std::string(16, ' '));
    ExpectRule(p.H, 11);
    EXPECT_EQ(p.H.Row(12), Blank);
}

TEST(SmartTable, ReallocatedSectorsWithARawCountAreLightRed) {
    const std::vector<TAttr> slots = {{1, 100, 100, 0, 6}, {5, 100, 100, 3, 36}, {9, 90, 90, 3, 0}};
    TAtMenu p(Scenario(slots));
    OpenSmart(p.H);
    EXPECT_EQ(OtherAttr(p.H, 7, 0, 79, 8), -1);
    EXPECT_EQ(OtherAttr(p.H, 8, 0, 79, 12), -1) << p.H.Dump();
    EXPECT_EQ(OtherAttr(p.H, 9, 0, 79, 8), -1);
}

TEST(SmartTable, OnlyUnknownIdsGiveAnEmptyTable) {
    TAtMenu p(Scenario({{190, 100, 100, 1, 1}, {14, 100, 100, 1, 1}, {255, 1, 1, 1, 1}}));
    OpenSmart(p.H);
    ExpectHeader(p.H);
    ExpectRule(p.H, 7);
    for (int y = 8; y <= 22; ++y) EXPECT_EQ(p.H.Row(y), Blank) << "row " << y;
    EXPECT_EQ(p.H.Text(0, 23, 34), ClosingPrompt);
}

TEST(SmartTable, ADriveRejectingSmartGetsTheMessageAndNoWaitOfItsOwn) {
    TAtMenu p(Scenario(KnownAttributes(3), "smart = no"));
    OpenSmart(p.H);
    const std::string message = "Ошибка при получении SMART атрибутов!";
    EXPECT_EQ(p.H.Row(4), message + std::string(80 - 37, ' ')) << p.H.Dump();
    EXPECT_EQ(OtherAttr(p.H, 4, 0, 36, 12), -1);
    EXPECT_EQ(p.H.Row(5), Blank);
    // The main loop's prompt is up at once: one ENTER leads back to the menu.
    EXPECT_EQ(p.H.Text(0, 23, 34), ClosingPrompt);
    EXPECT_EQ(sim::OpenHandles(), 0);
    p.H.Send(Key::Enter);
    EXPECT_EQ(p.H.Text(0, 4, 15), "Серийный номер:") << p.H.Dump();
    EXPECT_EQ(p.H.Row(23), Blank);
}

TEST(SmartTable, ADriveThatCannotBeOpenedWaitsForEnterTwice) {
    // The chosen drive is unplugged at the menu: it no longer opens.
    TAtMenu p("[drive 0]\nsectors = 1000\n[drive 2]\nsectors = 2000\n");
    sim::RemoveDrive(0);
    OpenSmart(p.H);
    const std::string message = "Ошибка доступа к жесткому диску! Нажмите [ENTER] для продолжения...";
    EXPECT_EQ(p.H.Text(0, 4, 67), message) << p.H.Dump();
    EXPECT_EQ(OtherAttr(p.H, 4, 0, 66, 12), -1);
    EXPECT_EQ(p.H.Row(23), Blank) << "the operation waits before the main loop's prompt";
    p.H.Send(Key::Enter);
    EXPECT_EQ(p.H.Text(0, 23, 34), ClosingPrompt) << p.H.Dump();
    p.H.Send(Key::Enter);
    EXPECT_EQ(p.H.Row(23), Blank);
    EXPECT_EQ(p.H.Text(22, 10, 22), "Чтение атрибутов SMART") << p.H.Dump();
    EXPECT_EQ(sim::OpenHandles(), 0);
    EXPECT_FALSE(p.H.Exited());
}

TEST(SmartTable, RequestsCarryTheSmartCommandsForTheChosenDrive) {
    struct TExpected {
        std::uint32_t Code;
        std::size_t InLength;
        std::size_t OutLength;
        std::uint32_t BufferSize;
        std::array<std::uint8_t, 5> Regs;  // features, count, number, cylinder low, cylinder high
        std::uint8_t Command;
    };
    const TExpected expected[] = {
        {0x74080, 0, 24, 0, {}, 0},
        {0x7C084, 8229, 3089, 0, {0xD8, 1, 1, 0x4F, 0xC2}, 0xB0},
        {0x7C088, 8229, 3601, 512, {0, 1, 1, 0, 0}, 0xEC},
        {0x7C088, 8229, 3601, 512, {0xD1, 1, 1, 0x4F, 0xC2}, 0xB0},
        {0x7C088, 8229, 3601, 512, {0xD0, 1, 1, 0x4F, 0xC2}, 0xB0},
    };
    const std::string scenario = Scenario({{9, 100, 100, 5, 0}}) + "[drive 1]\nsectors = 5000\nattribute = 9 1 1 1 1\n";
    for (int drive = 0; drive <= 1; ++drive) {
        SCOPED_TRACE("drive " + std::to_string(drive));
        TProgram p(scenario);
        p.H.SendText(std::to_string(drive + 1));
        p.H.Send(Key::Enter);
        sim::ClearLogs();
        OpenSmart(p.H);
        const std::vector<sim::TRequest> requests = sim::Requests();
        ASSERT_GE(requests.size(), 5u);
        for (std::size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE("request " + std::to_string(i));
            const sim::TRequest& r = requests[requests.size() - 5 + i];
            const TExpected& e = expected[i];
            EXPECT_EQ(r.Drive, drive);
            EXPECT_EQ(r.Code, e.Code);
            EXPECT_EQ(r.OutLength, e.OutLength);
            ASSERT_EQ(r.In.size(), e.InLength);
            if (e.InLength == 0) continue;
            std::vector<std::uint8_t> in(8229, 0);
            for (int b = 0; b < 4; ++b)
                in[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(e.BufferSize >> (8 * b));
            for (std::size_t b = 0; b < 5; ++b) in[4 + b] = e.Regs[b];
            in[9] = drive == 0 ? 0xA0 : 0xB0;
            in[10] = e.Command;
            in[12] = static_cast<std::uint8_t>(drive);
            EXPECT_EQ(r.In, in);
        }
        EXPECT_EQ(sim::OpenHandles(), 0);
        EXPECT_EQ(p.H.Text(59, 7, 2), drive == 0 ? "5 " : "1 ") << "the table shows the chosen drive's values";
    }
}
