// Drive identity, detection, the choice of a drive and its panel.
#include <array>

#include "drives/identity.h"
#include "program.h"

namespace {

using TSector = std::array<std::uint8_t, 512>;

void PutWord(TSector& s, int word, std::uint16_t v) {
    s[static_cast<std::size_t>(2 * word)] = static_cast<std::uint8_t>(v);
    s[static_cast<std::size_t>(2 * word + 1)] = static_cast<std::uint8_t>(v >> 8);
}

// An ATA string field as a drive stores it: each pair of characters swapped.
void PutSwapped(TSector& s, int firstWord, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) s[static_cast<std::size_t>(2 * firstWord) + (i ^ 1)] = text[i];
}

TGeneralHDDInfo Decode(const TSector& s) {
    TGeneralHDDInfo info;
    DecodeIdentity(s, info);
    return info;
}

std::string Padded(std::string_view text, std::size_t width) {
    std::string s(text);
    s.resize(width, ' ');
    return s;
}

constexpr std::uint8_t LightGreen = 10, White = 15, DarkGrey = 8;

}  // namespace

TEST(Identity, CapacityFromTheTwentyEightOrFortyEightBitWords) {
    TSector s{};
    PutWord(s, 60, 0x4240);
    PutWord(s, 61, 0x000F);
    PutWord(s, 100, 0x1111);
    EXPECT_EQ(Decode(s).Sectors, 1000000);
    EXPECT_EQ(Decode(s).AddressBits, 28);

    PutWord(s, 60, 0xFFFF);
    PutWord(s, 61, 0x0FFF);
    PutWord(s, 100, 0x6DB0);
    PutWord(s, 101, 0x7470);
    PutWord(s, 102, 0x0001);
    PutWord(s, 103, 0x1234);  // not part of the count
    EXPECT_EQ(Decode(s).Sectors, 0x174706DB0);
    EXPECT_EQ(Decode(s).AddressBits, 48);

    PutWord(s, 61, 0x0FFE);
    EXPECT_EQ(Decode(s).Sectors, 0x0FFEFFFF) << "any other value is the capacity itself";
}

TEST(Identity, TextsAndCache) {
    TSector s{};
    PutSwapped(s, 27, Padded("DISK MODEL 100", 40));
    PutSwapped(s, 10, Padded("    WD-123456789", 20));
    PutSwapped(s, 23, "FW123456");
    PutWord(s, 21, 16384);
    const TGeneralHDDInfo info = Decode(s);
    EXPECT_EQ(info.Model, "DISK MODEL 100 ");
    EXPECT_EQ(info.Serial, "WD-123456789     ");
    EXPECT_EQ(info.Firmware, "FW123456 ");
    EXPECT_EQ(info.CacheKB, 8192);
}

TEST(Identity, ATextEndsAtItsFirstZeroByte) {
    TSector s{};
    s[54] = 'B';
    s[55] = 'A';
    s[57] = 'D';
    EXPECT_EQ(Decode(s).Model, "AB ");
    const TGeneralHDDInfo empty = Decode(TSector{});
    EXPECT_EQ(empty.Model, " ");
    EXPECT_EQ(empty.Firmware, " ");
    EXPECT_EQ(empty.Serial, "");
    EXPECT_EQ(empty.Sectors, 0);
}

TEST(Identity, ControlBytesInTheTextsShowAsQuestionMarks) {
    TSector s{};
    PutSwapped(s, 27, Padded("BAD\aMODEL\x1b[2J\r\n", 40));
    PutSwapped(s, 10, Padded("  \x7fSN\b1", 20));
    PutSwapped(s, 23, "F\tW\x01\x80Z");
    const TGeneralHDDInfo info = Decode(s);
    EXPECT_EQ(info.Model, "BAD?MODEL?[2J?? ");
    EXPECT_EQ(info.Serial, "?SN?1" + std::string(14, ' '));
    EXPECT_EQ(info.Firmware, "F?W?\x80Z ") << "bytes from 128 up are characters of the code page";
}

TEST(Identity, LogicalSectorSizeFromWords106And117) {
    TSector s{};
    PutWord(s, 60, 1000);
    EXPECT_EQ(Decode(s).SectorSize, 512u) << "word 106 not valid";
    PutWord(s, 106, 0x4000 | 0x1000);
    PutWord(s, 117, 2048);
    EXPECT_EQ(Decode(s).SectorSize, 4096u);
    EXPECT_EQ(Decode(s).Sectors, 1000) << "the count is in logical sectors";
    PutWord(s, 106, 0x4000);
    EXPECT_EQ(Decode(s).SectorSize, 512u) << "bit 12 clear: 256-word sectors";
    PutWord(s, 106, 0xC000 | 0x1000);
    EXPECT_EQ(Decode(s).SectorSize, 512u) << "bits 15-14 not 01: the word is not valid";
    PutWord(s, 106, 0x4000 | 0x1000);
    for (const std::uint32_t words : {0u, 100u, 260u, 4096u, 0x10000u}) {
        PutWord(s, 117, static_cast<std::uint16_t>(words));
        PutWord(s, 118, static_cast<std::uint16_t>(words >> 16));
        EXPECT_EQ(Decode(s).SectorSize, 512u) << words << " words is no size the program reads in";
    }
    EXPECT_EQ(SizeInMB(244140625, 4096), 953674);
    EXPECT_EQ(SizeInMB((std::int64_t{1} << 48) - 1, 4096), (std::int64_t{1} << 48) / 256 - 1);
}

TEST(Identity, SimulatedDrivesAnswerWhatTheirScenarioSays) {
    sim::TDriveSpec drive;
    drive.Model = "SIM DISK 500";
    drive.Serial = "SIM00001";
    drive.Firmware = "1.00";
    drive.CacheKb = 8192;
    for (const std::int64_t sectors : {std::int64_t{1000000}, std::int64_t{0x0FFFFFFF}, std::int64_t{5860533168}}) {
        drive.Sectors = sectors;
        const std::vector<std::uint8_t> data = sim::IdentifySector(drive);
        TGeneralHDDInfo info;
        DecodeIdentity(std::span<const std::uint8_t, 512>(data.data(), 512), info);
        EXPECT_EQ(info.Sectors, sectors);
        EXPECT_EQ(info.Model, "SIM DISK 500 ");
        EXPECT_EQ(info.Serial, "SIM00001             ");
        EXPECT_EQ(info.Firmware, "1.00     ");
        EXPECT_EQ(info.CacheKB, 8192);
        unsigned sum = 0;
        for (std::uint8_t b : data) sum += b;
        EXPECT_EQ(sum % 256, 0u) << "checksum";
    }
}

TEST(Detection, ListsAnsweringDrivesByTheirNumbersWithGaps) {
    TProgram p(
        "[drive 0]\nmodel = FIRST\nsectors = 1953525168\n"
        "[drive 2]\nmodel = THIRD\nsectors = 2048\n"
        "[drive 3]\nmodel = SILENT\nsectors = 4096\nanswers = no\n");
    const headless::Harness& h = p.H;
    EXPECT_EQ(h.Text(0, 3, 22), "[1] FIRST  953869 MB  ") << h.Dump();
    EXPECT_EQ(h.Text(0, 4, 17), "[3] THIRD  1 MB  ");
    EXPECT_EQ(h.Row(5), std::string(80, ' '));
    EXPECT_EQ(h.Text(0, 6, 30), "Введите номер жесткого диска: ");
    EXPECT_EQ(h.Attr(0, 3), LightGreen);
    EXPECT_EQ(h.Attr(4, 3), White);
    EXPECT_EQ(h.Attr(11, 3), DarkGrey);
    EXPECT_TRUE(h.CursorVisible());
    EXPECT_EQ(h.Cursor(), (plat::Coord{30, 6}));
    EXPECT_GE(h.Now(), 700u);
}

TEST(Detection, RetriesUntilADriveAnswers) {
    TProgram p("[drive 0]\nsectors = 100\nanswers = no\n");
    headless::Harness& h = p.H;
    EXPECT_EQ(h.Text(0, 3, 28), "Жесткие диски не определены!");
    EXPECT_EQ(h.Attr(0, 3), 12);
    EXPECT_EQ(h.Text(0, 4, 43), "Возможно, отсутствуют права администратора.");
    EXPECT_EQ(h.Attr(0, 4), 4);
    EXPECT_EQ(h.Text(0, 5, 41), "Нажмите [ENTER], чтобы повторить поиск...");
    EXPECT_EQ(h.Attr(0, 5), 15);
    const std::uint64_t before = h.Now();
    h.Send(Key::Space);
    EXPECT_EQ(h.Now(), before) << "only ENTER retries";
    h.Send(Key::Enter);
    EXPECT_EQ(h.Now(), before + 700) << "the whole detection again, pause included";
    EXPECT_EQ(h.Text(0, 3, 28), "Жесткие диски не определены!");
    h.Send(Key::F10);
    EXPECT_TRUE(h.Exited());
    EXPECT_EQ(h.ExitCode(), 0);
}

TEST(Selection, TakesOneOrTwoDigitsWithinTheList) {
    TProgram p(
        "[drive 0]\nmodel = ONE\nsectors = 1000\n[drive 1]\nmodel = TWO\nsectors = 2000\n"
        "[drive 2]\nmodel = THREE\nsectors = 3000\n");
    headless::Harness& h = p.H;
    const int row = 7;
    h.Send(Key::Enter);
    EXPECT_TRUE(h.Beeps().empty()) << "ENTER with nothing typed";
    h.SendText("4");
    h.Send(Key::Enter);
    ASSERT_EQ(h.Beeps().size(), 1u);
    EXPECT_EQ(h.Beeps()[0].Frequency, 120u);
    EXPECT_EQ(h.Beeps()[0].DurationMs, 30u);
    EXPECT_EQ(h.Text(30, row, 2), "4 ");
    h.Send(Key::Backspace);
    EXPECT_EQ(h.Char(30, row), 0);
    EXPECT_EQ(h.Cursor(), (plat::Coord{30, static_cast<std::int16_t>(row)}));
    h.SendText("123");
    EXPECT_EQ(h.Text(30, row, 3), "12 ");
    h.Send(Key::Enter);
    EXPECT_EQ(h.Beeps().size(), 2u) << "twelve is above the three drives";
    h.Send({Key::Backspace, Key::Backspace});
    h.SendText("02");
    h.Send(Key::Enter);
    EXPECT_EQ(h.Text(0, 3, 12), "TWO  0 MB   ") << h.Dump();
    EXPECT_FALSE(h.CursorVisible());
}

TEST(Selection, RefusesANumberThatNamesNoDriveWithAnIdentity) {
    // Drive 1 is a gap in the list; drive 2 answers the version request but not IDENTIFY, so it
    // is listed without a capacity. Neither can be scanned: both numbers beep and stay typed.
    TProgram p(
        "[drive 0]\nmodel = FIRST\nsectors = 1000\n[drive 2]\nmodel = MUTE\nsectors = 1000\nidentify = no\n"
        "[drive 3]\nmodel = FOURTH\nsectors = 4000\n");
    headless::Harness& h = p.H;
    EXPECT_EQ(h.Text(0, 4, 10), "[3]   0 MB") << h.Dump();
    const int row = 7;
    for (const char* number : {"2", "3"}) {
        SCOPED_TRACE(number);
        const std::size_t beeps = h.Beeps().size();
        h.SendText(number);
        h.Send(Key::Enter);
        ASSERT_EQ(h.Beeps().size(), beeps + 1);
        EXPECT_EQ(h.Beeps().back().Frequency, 120u);
        EXPECT_EQ(h.Text(30, row, 2), std::string(number) + " ") << h.Dump();
        EXPECT_EQ(h.Cursor(), (plat::Coord{31, static_cast<std::int16_t>(row)}));
        h.Send(Key::Backspace);
    }
    h.SendText("4");
    h.Send(Key::Enter);
    EXPECT_EQ(h.Text(0, 3, 7), "FOURTH ") << h.Dump();
    h.Send(Key::F10);
    EXPECT_TRUE(h.Exited());
}

TEST(Panel, ShowsTheIdentityOfTheChosenDrive) {
    TAtMenu p(
        "[drive 0]\nmodel = ST3500418AS\nserial = 5VM1ABCD0123456X\nfirmware = CC38ABCD\n"
        "sectors = 976773168\ncache_kb = 16384\n");
    const headless::Harness& h = p.H;
    EXPECT_EQ(h.Row(3).substr(0, 22), "ST3500418AS  476940 MB");
    EXPECT_EQ(h.Attr(0, 3), White);
    EXPECT_EQ(h.Attr(13, 3), DarkGrey);
    EXPECT_EQ(h.Text(0, 4, 33), "Серийный номер: 5VM1ABCD0123456X ");
    EXPECT_EQ(h.Attr(15, 4), DarkGrey);
    EXPECT_EQ(h.Attr(16, 4), White);
    EXPECT_EQ(h.Text(0, 5, 40), "Всего логических блоков (LBA): 976773168");
    EXPECT_EQ(h.Attr(31, 5), White);
    EXPECT_EQ(h.Text(0, 6, 28), "FW: CC38ABCD  Кэш: 16384 KB ");
    EXPECT_EQ(h.Attr(4, 6), White);
    EXPECT_EQ(h.Attr(14, 6), DarkGrey);
    EXPECT_EQ(h.Attr(19, 6), White);
}
