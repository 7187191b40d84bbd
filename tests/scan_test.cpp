// The scan engine: latency classes, the re-check, the failure signal, ESC and the read ranges.
#include <array>

#include "scan_run.h"

namespace {

using TSpans = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

struct TCell {
    std::uint8_t Glyph;
    std::uint8_t Attr;
};

void ExpectMapRow(const headless::Harness& h, const std::vector<TCell>& cells) {
    for (int x = 0; x < static_cast<int>(cells.size()); ++x) {
        EXPECT_EQ(h.Char(x, 5), cells[static_cast<std::size_t>(x)].Glyph) << "cell " << x << "\n" << h.Dump();
        EXPECT_EQ(h.Attr(x, 5), cells[static_cast<std::size_t>(x)].Attr) << "cell " << x;
    }
    EXPECT_EQ(h.Char(static_cast<int>(cells.size()), 5), ' ');
}

// The counter of a panel row: the text of columns 68-78.
std::string Counter(const headless::Harness& h, int row) { return Trimmed(h.Text(68, row, 11)); }

std::vector<std::uint32_t> Frequencies(const std::vector<headless::TBeep>& beeps) {
    std::vector<std::uint32_t> f;
    for (const headless::TBeep& b : beeps) f.push_back(b.Frequency);
    return f;
}

}  // namespace

TEST(ScanEngine, FullReadsOnAClassBoundFallIntoTheLowerClass) {
    const std::uint32_t ms[] = {5, 6, 30, 31, 50, 51, 150, 151, 300, 301};
    std::string zones;
    for (int k = 0; k < 10; ++k) zones += SlowBlock(k, ms[k]);
    for (const bool recheck : {false, true}) {
        SCOPED_TRACE(recheck ? "re-check on" : "re-check off");
        TAtMenu p(OneDrive(10 * Block, zones));
        RunScan(p.H, Recheck(recheck));
        ExpectMapRow(p.H, {{Light, 8},
                           {Medium, 8},
                           {Medium, 8},
                           {Dark, 8},
                           {Dark, 8},
                           {Full, 2},
                           {Full, 2},
                           {Full, 4},
                           {Full, 4},
                           {Full, 12}});
        const char* counts[] = {"1", "2", "2", "2", "2", "1"};
        for (int c = 0; c < 6; ++c) EXPECT_EQ(Counter(p.H, 3 + c), counts[c]) << "class " << c;
        // A constant latency averages to itself; only the five reads above 50 ms are repeated.
        EXPECT_EQ(sim::Reads().size(), recheck ? 15u : 10u);
    }
}

TEST(ScanEngine, RecheckReadsASlowBlockAgainAfterThreeSecondsAndAveragesTheTimes) {
    const std::string zones = "slow = 0-254 400 11\nslow = 255-509 51 0\nslow = 510-764 50\n";
    {
        SCOPED_TRACE("re-check on");
        TAtMenu p(OneDrive(3 * Block, zones));
        const std::uint64_t start = RunScan(p.H);
        EXPECT_EQ(ReadSpans(), (TSpans{{0, 255 * 512},
                                       {0, 255 * 512},
                                       {255 * 512, 255 * 512},
                                       {255 * 512, 255 * 512},
                                       {510 * 512, 255 * 512}}));
        // (400 + 11) / 2 = 205: class 4; (51 + 0) / 2 = 25: class 1; 50 is not re-read.
        ExpectMapRow(p.H, {{Full, 4}, {Medium, 8}, {Dark, 8}});
        // Reading took 400 + 3000 + 11, 51 + 3000 + 0, 50; the closing tones follow 1000 ms later.
        const auto beeps = p.H.Beeps();
        ASSERT_EQ(beeps.size(), 2u);
        EXPECT_EQ(beeps[0].AtMs, start + 6512 + 1000);
    }
    {
        SCOPED_TRACE("re-check off");
        TAtMenu p(OneDrive(3 * Block, zones));
        const std::uint64_t start = RunScan(p.H, Recheck(false));
        EXPECT_EQ(ReadSpans(), (TSpans{{0, 255 * 512}, {255 * 512, 255 * 512}, {510 * 512, 255 * 512}}));
        ExpectMapRow(p.H, {{Full, 12}, {Full, 2}, {Dark, 8}});
        ASSERT_EQ(p.H.Beeps().size(), 2u);
        EXPECT_EQ(p.H.Beeps()[0].AtMs, start + 501 + 1000);
    }
}

TEST(ScanEngine, TheSecondReadOfARecheckDecidesTheByteCount) {
    // Blocks 0 and 1 read full and slow the first time; on the re-check block 0 reads nothing and
    // block 1 delivers its first 100 sectors.
    TAtMenu p(OneDrive(3 * Block, "slow = 0-509 200\n"));
    int reads = 0;
    sim::SetReadHook([&reads](sim::TDriveSpec& drive, std::int64_t) {
        if (++reads == 2) drive.Unreadable.push_back(sim::TRange{0, 0});
        if (reads == 4) drive.Partial.push_back(sim::TRange{355, 355});
    });
    RunScan(p.H);
    EXPECT_EQ(sim::Reads().size(), 5u);
    ExpectMapRow(p.H, {{'X', 12}, {'*', 12}, {Light, 8}});
    EXPECT_EQ(Counter(p.H, 10), "1");
    EXPECT_EQ(Counter(p.H, 11), "1");
    EXPECT_EQ(Trimmed(p.H.Text(59, 15, 21)), "0");
    EXPECT_EQ(Trimmed(p.H.Text(59, 16, 21)), "255");
}

TEST(ScanEngine, EscapeBeforeTheFirstBlockReadsNothing) {
    TAtMenu p(OneDrive(100 * Block, "latency = 1"));
    OpenScan(p.H);
    p.H.PressAfterNextFlush(Key::Escape);
    p.H.Send(Key::F4);
    EXPECT_TRUE(sim::Reads().empty());
    EXPECT_EQ(p.H.Text(0, 22, 23), "Прервано пользователем.") << p.H.Dump();
    EXPECT_EQ(p.H.Text(74, 1, 4), "100%");
    EXPECT_EQ(Trimmed(p.H.Text(39, 1, 10)), "0");
    EXPECT_EQ(p.H.Char(0, 5), ' ') << "no map cell";
    EXPECT_EQ(p.H.Beeps().size(), 2u) << "the closing tones only";
    EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST(ScanEngine, FirstFailureOfAScanSoundsTheSignalOnceAndTheNextScanStartsFromZero) {
    // Blocks 2 and 6 unreadable, block 4 short by its last 155 sectors, block 8 above 300 ms.
    TAtMenu p(
        OneDrive(10 * Block, "latency = 1\nunreadable = 517\nunreadable = 1530\npartial = 1120\n" + SlowBlock(8, 400)));
    const std::uint64_t start = RunScan(p.H);
    auto beeps = p.H.Beeps();
    EXPECT_EQ(Frequencies(beeps), (std::vector<std::uint32_t>{950, 500, 1500, 1500}));
    ASSERT_EQ(beeps.size(), 4u);
    EXPECT_EQ(beeps[0].AtMs, start + 3);  // right after the third read
    EXPECT_EQ(beeps[0].DurationMs, 90u);
    EXPECT_EQ(beeps[1].AtMs, start + 93);
    EXPECT_EQ(beeps[1].DurationMs, 70u);
    EXPECT_EQ(sim::Reads()[4].Delivered, 100u * 512);
    ExpectMapRow(p.H, {{Light, 8},
                       {Light, 8},
                       {'X', 12},
                       {Light, 8},
                       {'*', 12},
                       {Light, 8},
                       {'X', 12},
                       {Light, 8},
                       {Full, 12},
                       {Light, 8}});
    EXPECT_EQ(Counter(p.H, 3), "6");
    EXPECT_EQ(Counter(p.H, 8), "1");
    EXPECT_EQ(Counter(p.H, 10), "1");
    EXPECT_EQ(Counter(p.H, 11), "2");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Trimmed(p.H.Text(59, 15 + i, 21)), std::to_string(std::array{510, 1020, 1530}[i]));
        EXPECT_EQ(p.H.Attr(59, 15 + i), 12);
    }

    // A second scan over blocks 3 to 5 only: its first failure is the short block, and it beeps again.
    p.H.Send(Key::Enter);
    RunScan(p.H, Range(3 * Block, 6 * Block - 1));
    beeps = p.H.Beeps();
    EXPECT_EQ(Frequencies(beeps), (std::vector<std::uint32_t>{950, 500, 1500, 1500, 950, 500, 1500, 1500}));
    ExpectMapRow(p.H, {{Light, 8}, {'*', 12}, {Light, 8}});
    const char* counts[] = {"2", "0", "0", "0", "0", "0"};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(Counter(p.H, 3 + c), counts[c]) << "class " << c;
    EXPECT_EQ(Counter(p.H, 10), "1");
    EXPECT_EQ(Counter(p.H, 11), "0");
    EXPECT_EQ(Trimmed(p.H.Text(59, 15, 21)), "1020");
    EXPECT_EQ(Trimmed(p.H.Text(59, 16, 21)), "");
    EXPECT_EQ(p.H.Text(74, 1, 4), "100%");
}

TEST(ScanEngine, EscapeStopsTheScanBeforeTheNextBlock) {
    TAtMenu p(OneDrive(100 * Block, "latency = 1"));
    const std::uint64_t start = OpenScan(p.H);
    p.H.SendThenPressAt(Key::F4, start + 10, Key::Escape);  // seen at the key check after ten reads of 1 ms
    EXPECT_EQ(sim::Reads().size(), 10u);
    EXPECT_EQ(p.H.Text(0, 22, 24), "Прервано пользователем. ") << p.H.Dump();
    EXPECT_EQ(p.H.Attr(0, 22), 12);
    EXPECT_EQ(p.H.Text(0, 23, 34), "Нажмите [ENTER] для продолжения...");
    EXPECT_EQ(p.H.Attr(0, 23), 15);
    EXPECT_EQ(p.H.Text(74, 1, 4), "100%");
    EXPECT_EQ(Trimmed(p.H.Text(39, 1, 10)), "2550");
    EXPECT_EQ(Counter(p.H, 3), "10");
    const auto beeps = p.H.Beeps();
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_EQ(beeps[0].Frequency, 1500u);
    EXPECT_EQ(beeps[0].AtMs, start + 10 + 1000);
    EXPECT_EQ(beeps[1].Frequency, 1500u);
    EXPECT_EQ(beeps[1].AtMs, start + 10 + 1000 + 70 + 40);
    EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST(ScanEngine, KeysPressedWhileTheDriveIsOpenedAreDropped) {
    TAtMenu p(OneDrive(100 * Block, "latency = 1"));
    p.H.SendThenPressAt(Key::F4, OpenScan(p.H), Key::Escape);  // due exactly when the scan flushes its input
    EXPECT_EQ(sim::Reads().size(), 100u);
    EXPECT_EQ(p.H.Text(0, 22, 31), "Проверка поверхности завершена!") << p.H.Dump();
    EXPECT_EQ(p.H.Attr(0, 22), 10);
}

TEST(ScanEngine, BlocksCoverTheRangeThroughItsEndLba) {
    {
        SCOPED_TRACE("256 sectors");
        TAtMenu p(OneDrive(1000000));
        RunScan(p.H, Range(1000, 1255));
        EXPECT_EQ(ReadSpans(), (TSpans{{1000 * 512, 255 * 512}, {1255 * 512, 512}}));
        EXPECT_EQ(Trimmed(p.H.Text(39, 1, 10)), "1256");
        p.H.Send(Key::Enter);  // the next scan reads whole blocks again
        RunScan(p.H, Range(0, 2 * Block - 1));
        EXPECT_EQ(ReadSpans(), (TSpans{{0, 255 * 512}, {255 * 512, 255 * 512}}));
    }
    {
        SCOPED_TRACE("one LBA");
        TAtMenu p(OneDrive(1000000));
        RunScan(p.H, Range(777, 777));
        EXPECT_EQ(ReadSpans(), (TSpans{{777 * 512, 512}}));
        ExpectMapRow(p.H, {{Light, 8}});
        EXPECT_EQ(Trimmed(p.H.Text(13, 1, 10)), "778");
        EXPECT_EQ(Trimmed(p.H.Text(39, 1, 10)), "778");
        EXPECT_EQ(p.H.Text(74, 1, 4), "100%");
    }
    {
        SCOPED_TRACE("the whole drive");
        TAtMenu p(OneDrive(1000));
        RunScan(p.H);
        EXPECT_EQ(ReadSpans(),
                  (TSpans{{0, 255 * 512}, {255 * 512, 255 * 512}, {510 * 512, 255 * 512}, {765 * 512, 235 * 512}}));
        for (const sim::TRead& r : sim::Reads()) EXPECT_EQ(r.Delivered, r.Length);
    }
}

TEST(ScanEngine, LbasAboveThirtyTwoBitsAreReadAndListedExactly) {
    TAtMenu p(OneDrive(6000000000, "unreadable = 5000000258"));
    OpenScan(p.H, Range(5000000000, 5000000300));
    EXPECT_EQ(Trimmed(p.H.Text(37, 9, 19)), "5000000000");
    p.H.Send(Key::F4);
    EXPECT_EQ(ReadSpans(), (TSpans{{5000000000ull * 512, 255 * 512}, {5000000255ull * 512, 46 * 512}}));
    EXPECT_EQ(sim::Reads()[1].Delivered, 0u);
    EXPECT_EQ(Trimmed(p.H.Text(59, 15, 21)), "5000000255") << p.H.Dump();
    EXPECT_EQ(p.H.Text(13, 1, 10), "5000000301");
    EXPECT_EQ(p.H.Text(39, 1, 10), "5000000301");
}

TEST(ScanEngine, DrivesWithFourKilobyteSectorsAreSizedAndScannedInTheirOwnSectors) {
    // 600 sectors of 4096 bytes: 2,457,600 bytes, 2 MB; sector 300 cannot be read.
    TAtMenu p(OneDrive(600, "sector_size = 4096\nunreadable = 300"));
    EXPECT_EQ(p.H.Text(0, 3, 15), "TEST DISK  2 MB") << p.H.Dump();
    EXPECT_EQ(p.H.Text(0, 5, 34), "Всего логических блоков (LBA): 600");
    OpenScan(p.H);
    EXPECT_EQ(Trimmed(p.H.Text(37, 10, 19)), "599");
    p.H.Send(Key::F4);
    EXPECT_EQ(ReadSpans(), (TSpans{{0, 255 * 4096}, {255 * 4096, 255 * 4096}, {510 * 4096, 90 * 4096}}));
    ExpectMapRow(p.H, {{Light, 8}, {'X', 12}, {Light, 8}});
    EXPECT_EQ(Trimmed(p.H.Text(59, 15, 21)), "255") << "the block's first LBA, in the drive's sectors";
    EXPECT_EQ(Trimmed(p.H.Text(13, 1, 10)), "600");
    EXPECT_EQ(Trimmed(p.H.Text(39, 1, 10)), "600");
}

TEST(ScanEngine, EachDriveIsReadInItsOwnSectorSize) {
    TProgram p("[drive 0]\nsectors = 600\nsector_size = 4096\n[drive 1]\nsectors = 600\n");
    for (const auto& [drive, sectorSize] : {std::pair{"1", 4096u}, std::pair{"2", 512u}, std::pair{"1", 4096u}}) {
        SCOPED_TRACE(drive);
        p.H.SendText(drive);
        p.H.Send(Key::Enter);
        RunScan(p.H);
        EXPECT_EQ(
            ReadSpans(),
            (TSpans{{0, 255 * sectorSize}, {255 * sectorSize, 255 * sectorSize}, {510 * sectorSize, 90 * sectorSize}}));
        p.H.Send({Key::Enter, Key::Escape});
    }
}
