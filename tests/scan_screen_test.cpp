// The scan screen: the block map and its scrolling, the damaged-block list, the aligned values.
#include "scan_run.h"

namespace {

constexpr int MapWidth = 57;

// Marker blocks stand out of a map of light cells: 10 ms reads are medium, 31 ms reads dark.
std::string Markers(std::initializer_list<std::pair<std::int64_t, std::uint32_t>> blocks) {
    std::string zones = "latency = 1\n";
    for (const auto& [k, ms] : blocks) zones += SlowBlock(k, ms);
    return zones;
}

bool MapHolds(const headless::Harness& h, std::uint8_t glyph) {
    for (int y = 5; y <= 23; ++y)
        for (int x = 0; x < MapWidth; ++x)
            if (h.Char(x, y) == glyph) return true;
    return false;
}

void ExpectClosingLines(const headless::Harness& h) {
    EXPECT_EQ(h.Text(0, 22, MapWidth), "Проверка поверхности завершена!" + std::string(26, ' ')) << h.Dump();
    EXPECT_EQ(h.Text(0, 23, MapWidth), "Нажмите [ENTER] для продолжения..." + std::string(23, ' '));
}

}  // namespace

TEST(ScanScreen, TheFiftyEighthBlockStartsTheNextMapRow) {
    ScanEndedAt(OneDrive(100 * Block, Markers({{57, 10}})), 58, [](headless::Harness& h) {
        EXPECT_EQ(h.Char(56, 5), Light) << h.Dump();
        EXPECT_EQ(h.Char(57, 5), 0xB3);  // the panel frame
        EXPECT_EQ(h.Char(0, 6), Medium);
        EXPECT_EQ(h.Char(1, 6), ' ');
    });
}

TEST(ScanScreen, TheMapScrollsFromBlock1084AndStaysOnItsLastRow) {
    // 1141 blocks: block 1083 opens map line 19, block 1140 alone opens line 20.
    const std::string scenario = OneDrive(1141 * Block, Markers({{0, 31}, {57, 10}, {1083, 10}, {1140, 10}}));
    // The markers add 30 + 9 + 9 ms to the 1 ms reads: the key check after block 1083 comes then.
    ScanEndedAt(scenario, 1084 + 30 + 9 + 9, [](headless::Harness& h) {
        EXPECT_EQ(h.Char(0, 5), Medium) << h.Dump();  // block 57, the first line is gone
        EXPECT_FALSE(MapHolds(h, Dark));
        EXPECT_EQ(h.Char(56, 22), Light);
        EXPECT_EQ(h.Char(0, 23), Medium);  // block 1083
        EXPECT_EQ(h.Char(1, 23), ' ');
    });
    TAtMenu p(scenario);
    RunScan(p.H);
    // Block 1140 scrolled the map again from row 23, and the closing lines took two more rows.
    EXPECT_EQ(p.H.Char(0, 21), Medium) << p.H.Dump();
    EXPECT_EQ(p.H.Char(1, 21), ' ');
    EXPECT_EQ(p.H.Char(56, 20), Light);
    ExpectClosingLines(p.H);
    EXPECT_EQ(p.H.Text(0, 24, 11), " Platenhawk");
}

TEST(ScanScreen, ClosingLinesScrollTheMapOnlyWhenItReachedRow22) {
    struct TCase {
        std::int64_t Blocks;
        std::uint8_t FirstCell;  // (0, 5) after the closing lines
    };
    // Map lines 0, 1 and 2 begin with a dark, a medium and a green full cell.
    for (const TCase c :
         {TCase{16 * MapWidth + 1, Dark}, TCase{17 * MapWidth + 1, Medium}, TCase{18 * MapWidth + 1, Full}}) {
        SCOPED_TRACE(c.Blocks);
        TAtMenu p(OneDrive(c.Blocks * Block, Markers({{0, 31}, {57, 10}, {114, 51}})));
        RunScan(p.H, Recheck(false));
        EXPECT_EQ(p.H.Char(0, 5), c.FirstCell) << p.H.Dump();
        EXPECT_EQ(p.H.Char(0, 21), Light);  // the last block, alone on its line
        EXPECT_EQ(p.H.Char(1, 21), ' ');
        EXPECT_EQ(p.H.Char(56, 20), Light);
        ExpectClosingLines(p.H);
        EXPECT_EQ(Trimmed(p.H.Text(59, 13, 21)), "");  // no failure, no list header
        EXPECT_EQ(p.H.Text(57, 11, 6), "│ X UN");      // the panel stays
        EXPECT_EQ(p.H.Text(57, 12, 3), "├──");
    }
}

TEST(ScanScreen, DamagedListShowsTheLatestEightEntriesUnderItsHeader) {
    std::string zones = "latency = 1\n";
    for (int k = 1; k <= 17; k += 2) zones += "unreadable = " + std::to_string(k * Block) + "\n";
    const std::string scenario = OneDrive(20 * Block, zones);
    ScanEndedAt(scenario, 1, [](headless::Harness& h) {
        EXPECT_EQ(h.Char(0, 5), Light);
        EXPECT_EQ(Trimmed(h.Text(59, 13, 21)), "") << h.Dump();
    });
    TAtMenu p(scenario);
    RunScan(p.H);
    EXPECT_EQ(p.H.Text(59, 13, 19), "Поврежденные блоки:") << p.H.Dump();
    for (int x = 59; x <= 77; ++x) EXPECT_EQ(p.H.Attr(x, 13), 4) << x;
    // Entries 2 to 9 (blocks 3, 5, ..., 17) on rows 15 to 22.
    for (int i = 0; i < 8; ++i) {
        const std::string lba = std::to_string((3 + 2 * i) * Block);
        EXPECT_EQ(Trimmed(p.H.Text(59, 15 + i, 21)), lba) << "row " << 15 + i;
        EXPECT_EQ(p.H.Attr(59, 15 + i), 12);
    }
    EXPECT_EQ(Trimmed(p.H.Text(59, 23, 21)), "");
    // The map went on cell by cell in its own colours after each failure.
    for (int x = 0; x < 20; ++x) {
        const bool failed = x % 2 == 1 && x < 19;
        EXPECT_EQ(p.H.Char(x, 5), failed ? 'X' : Light) << x;
        EXPECT_EQ(p.H.Attr(x, 5), failed ? 12 : 8) << x;
    }
    EXPECT_EQ(p.H.Char(20, 5), ' ');
}

TEST(ScanScreen, ValuesAreRightAlignedInTheirFields) {
    // 20 blocks: the percentage after block k is 5 k.
    const std::string scenario = OneDrive(20 * Block, "latency = 1");
    ScanEndedAt(scenario, 2, [](headless::Harness& h) {
        EXPECT_EQ(h.Text(72, 1, 7), " [  5%]") << h.Dump();
        EXPECT_EQ(h.Text(12, 1, 12), "[      5100]");
        EXPECT_EQ(h.Text(38, 1, 12), "[       510]");
        for (int x : {13, 22, 39, 48, 74, 76}) EXPECT_EQ(h.Attr(x, 1), 128) << x;
    });
    ScanEndedAt(scenario, 9, [](headless::Harness& h) { EXPECT_EQ(h.Text(68, 3, 11), "          9") << h.Dump(); });
    ScanEndedAt(scenario, 10, [](headless::Harness& h) {
        EXPECT_EQ(h.Text(68, 3, 11), "         10") << h.Dump();
        EXPECT_EQ(h.Text(68, 8, 11), "          0");
    });
    // 594 sectors: 255 * 100 / 594 = 42.9 after the first block (by 593 it would be 43).
    ScanEndedAt(OneDrive(594, "latency = 1"), 2,
                [](headless::Harness& h) { EXPECT_EQ(h.Text(73, 1, 6), "[ 42%]") << h.Dump(); });
    TAtMenu p(scenario);
    RunScan(p.H);
    EXPECT_EQ(p.H.Text(73, 1, 6), "[100%]");
    EXPECT_EQ(p.H.Text(68, 3, 11), "         20");
    EXPECT_EQ(p.H.Text(38, 1, 12), "[      5100]");
}
