// Reports: the files a scan and a SMART table leave in the folder given, read back and compared
// with what the screen showed.
#include "report/report.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "app/state.h"
#include "cli/command_line.h"
#include "cli/unattended.h"
#include "platform/drive_records.h"
#include "report/documents.h"
#include "report/files.h"
#include "report/picture.h"
#include "report_copies.h"
#include "scan_run.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A fresh folder for one test's reports (tests run in parallel processes), removed afterwards
// (its JSON reports kept for the schema check); reports are switched off again.
struct TReportFolder {
    TReportFolder()
        : Path(fs::temp_directory_path() /
               ("ph-report-test-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++Serial))) {
        fs::remove_all(Path);
    }
    ~TReportFolder() {
        report::EnableReports("");
        KeepReportCopies(Path);
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    headless::TOptions Options(const std::string& folder) const {
        headless::TOptions options;
        options.Prepare = [folder] { report::EnableReports(folder); };
        return options;
    }
    headless::TOptions Options() const { return Options(Path.string()); }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        if (fs::exists(Path))
            for (const auto& entry : fs::directory_iterator(Path)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path / name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    json Json(const std::string& name) const { return json::parse(Read(name)); }

    fs::path Path;
    static inline int Serial = 0;
};

// At the main menu, drive 1 chosen, with reports into `folder`.
struct TReporting : TProgram {
    TReporting(const std::string& scenario, const TReportFolder& folder) : TProgram(scenario, folder.Options()) {
        H.SendText("1");
        H.Send(Key::Enter);
    }
};

// The panel counter of a class (rows 3-8, 10, 11), as a number.
std::uint64_t ScreenCounter(const headless::Harness& h, int row) { return std::stoull(Trimmed(h.Text(68, row, 11))); }

const char* const Members[] = {"lt5ms", "lt30ms", "lt50ms", "lt150ms", "lt300ms", "gt300ms", "punrb", "unrb"};
constexpr int CounterRows[] = {3, 4, 5, 6, 7, 8, 10, 11};

// The serial and start time of a scan that starts at 09:05:05 on the harness clock.
std::string Stem(const std::string& serial, const std::string& time) { return "20261207-" + time + "-" + serial; }

}  // namespace

TEST(Reports, AScanReportHoldsEveryDamagedBlockAndTheScreensCounters) {
    // Thirteen damaged blocks, more than the screen's list of eight: ten unreadable, three short
    // (two of them alike); four slow, two of them a run.
    std::string zones =
        "latency = 1\n" + SlowBlock(3, 120) + SlowBlock(40, 400) + SlowBlock(50, 110) + SlowBlock(51, 140);
    for (int k = 5; k < 15; ++k) zones += "unreadable = " + std::to_string(k * Block + 7) + "\n";
    zones += "partial = " + std::to_string(20 * Block + 100) + "\npartial = " + std::to_string(30 * Block + 1) + "\n";
    zones += "partial = " + std::to_string(31 * Block + 1) + "\n";
    TReportFolder folder;
    TReporting p(OneDrive(60 * Block, zones), folder);
    RunScan(p.H);
    ASSERT_NE(p.H.Text(0, 22, 31).find("завершена"), std::string::npos) << p.H.Dump();

    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 5u);
    const std::string stem = files[0].substr(0, files[0].find("-scan"));
    EXPECT_EQ(files, (std::vector<std::string>{stem + "-scan-damaged.txt", stem + "-scan-surface.csv",
                                               stem + "-scan.json", stem + "-scan.map", stem + "-scan.png"}));
    const json r = folder.Json(stem + "-scan.json");
    EXPECT_EQ(r["program"], "platenhawk");
    EXPECT_EQ(r["version"], std::string(report::ProgramVersion()));
    EXPECT_EQ(r["started"].get<std::string>().substr(0, 11), "2026-12-07T");
    EXPECT_EQ(r["started"].get<std::string>().substr(19), "+01:00");
    EXPECT_EQ(r["drive"], json::parse(R"({"number": 1, "model": "TEST DISK", "serial": "T0001", "firmware": "1.0",
                                          "sectors": 15300, "sector_size": 512})"));
    EXPECT_EQ(r["range"], json::parse(R"({"first_lba": 0, "last_lba": 15299})"));
    EXPECT_EQ(r["recheck"], true);
    EXPECT_EQ(r["outcome"], "completed");
    EXPECT_EQ(r["blocks"], 60);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(r["classes"][Members[c]], ScreenCounter(p.H, CounterRows[c])) << Members[c];
    EXPECT_EQ(r["verdict"], "damaged");

    // Consecutive blocks of a class make one run: the ten unreadable ones, and the two short ones
    // that delivered as much.
    ASSERT_EQ(r["damaged"].size(), 3u);
    EXPECT_EQ(r["damaged"][0],
              json::parse(R"({"lba": 1275, "sectors": 2550, "blocks": 10, "class": "UNRB", "bytes": 0})"));
    EXPECT_EQ(r["damaged"][1], json::parse(R"({"lba": 5100, "sectors": 255, "class": "PUNRB", "bytes": 51200})"));
    EXPECT_EQ(r["damaged"][2],
              json::parse(R"({"lba": 7650, "sectors": 510, "blocks": 2, "class": "PUNRB", "bytes": 512})"));
    // The list still names every damaged block.
    std::string list;
    for (const int k : {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 20, 30, 31}) list += std::to_string(k * Block) + "\n";
    EXPECT_EQ(folder.Read(stem + "-scan-damaged.txt"), list);
    // The screen's list holds only the last eight.
    EXPECT_EQ(Trimmed(p.H.Text(59, 15, 21)), std::to_string(10 * Block));

    // A slow run takes the time of its slowest block.
    ASSERT_EQ(r["slow"].size(), 3u);
    EXPECT_EQ(r["slow"][0], json::parse(R"({"lba": 765, "sectors": 255, "ms": 120, "class": "lt150ms"})"));
    EXPECT_EQ(r["slow"][1], json::parse(R"({"lba": 10200, "sectors": 255, "ms": 400, "class": "gt300ms"})"));
    EXPECT_EQ(r["slow"][2],
              json::parse(R"({"lba": 12750, "sectors": 510, "blocks": 2, "ms": 140, "class": "lt150ms"})"));
}

TEST(Reports, AStoppedScanSaysSoAndHoldsOnlyWhatWasRead) {
    TReportFolder folder;
    TReporting p(OneDrive(100 * Block, "latency = 1\nunreadable = 300\nunreadable = 9000"), folder);
    const std::uint64_t start = OpenScan(p.H);
    p.H.SendThenPressAt(Key::F4, start + 10, Key::Escape);
    ASSERT_EQ(p.H.Text(0, 22, 23), "Прервано пользователем.") << p.H.Dump();
    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 5u);
    const json r = folder.Json(files[2]);
    EXPECT_EQ(r["outcome"], "stopped");
    EXPECT_EQ(r["blocks"], std::stoull(Trimmed(p.H.Text(39, 1, 10))) / Block);
    EXPECT_LT(r["blocks"], 100);
    ASSERT_EQ(r["damaged"].size(), 1u) << "the block of sector 9000 was never read";
    EXPECT_EQ(r["damaged"][0]["lba"], 255);
    EXPECT_EQ(r["range"]["last_lba"], 100 * Block - 1) << "the range asked for, not what was read";
}

TEST(Reports, VerdictsFollowTheWorstBlock) {
    struct TCase {
        std::string Zones;
        const char* Verdict;
        std::size_t Files;
    };
    for (const TCase& c :
         {TCase{"latency = 1", "healthy", 4}, TCase{"latency = 40", "healthy", 4}, TCase{SlowBlock(2, 51), "slow", 4},
          TCase{SlowBlock(1, 900), "slow", 4}, TCase{"partial = 600\n" + SlowBlock(1, 900), "damaged", 5}}) {
        SCOPED_TRACE(c.Zones);
        TReportFolder folder;
        TReporting p(OneDrive(4 * Block, c.Zones), folder);
        RunScan(p.H, Recheck(false));
        const std::vector<std::string> files = folder.Files();
        ASSERT_EQ(files.size(), c.Files);
        EXPECT_EQ(folder.Json(files[c.Files == 5 ? 2 : 1])["verdict"], c.Verdict);
    }
}

TEST(Reports, FileNamesCarryTheStartTimeAndACleanSerial) {
    struct TCase {
        std::string SerialLine;
        std::string Name;
    };
    for (const TCase& c : {TCase{"serial = AB-12.x_y", "AB-12.x_y"}, TCase{"serial = A B/C:D*", "A_B_C_D_"},
                           TCase{"serial =", "noserial"}}) {
        SCOPED_TRACE(c.SerialLine);
        TReportFolder folder;
        TReporting p("[drive 0]\nsectors = 1000\n" + c.SerialLine + "\n", folder);
        // The scan starts reading at 09:05:00 + the harness's start-up + the dialog + 1200 ms.
        const std::uint64_t start = OpenScan(p.H);
        p.H.Send(Key::F4);
        const std::uint64_t seconds = 9 * 3600 + 5 * 60 + start / 1000;
        char time[7];
        std::snprintf(time, sizeof time, "%02d%02d%02d", static_cast<int>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
        EXPECT_EQ(folder.Files(),
                  (std::vector<std::string>{Stem(c.Name, time) + "-scan-surface.csv", Stem(c.Name, time) + "-scan.json",
                                            Stem(c.Name, time) + "-scan.map", Stem(c.Name, time) + "-scan.png"}));
    }
}

TEST(Reports, AnEarlierReportOfTheSameNameIsKept) {
    TReportFolder folder;
    TReporting p(OneDrive(1000), folder);
    const std::uint64_t start = OpenScan(p.H);
    const std::uint64_t seconds = 9 * 3600 + 5 * 60 + start / 1000;
    char name[64];
    std::snprintf(name, sizeof name, "20261207-%02d%02d%02d-T0001-scan", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    fs::create_directories(folder.Path);
    std::ofstream(folder.Path / (std::string(name) + ".json")) << "earlier";
    // A name is taken by a file of any kind a scan report has, even one this scan does not write.
    std::ofstream(folder.Path / (std::string(name) + "-2-damaged.txt")) << "earlier";
    p.H.Send(Key::F4);
    EXPECT_EQ(folder.Read(std::string(name) + ".json"), "earlier");
    EXPECT_EQ(folder.Files(),
              (std::vector<std::string>{std::string(name) + "-2-damaged.txt", std::string(name) + "-3-surface.csv",
                                        std::string(name) + "-3.json", std::string(name) + "-3.map",
                                        std::string(name) + "-3.png", std::string(name) + ".json"}));
    fs::remove(folder.Path / (std::string(name) + ".json"));  // planted here, not a report
}

// The text of a report reaches its file piece by piece; a producer that fails leaves no file, not
// even a temporary one, and a note that says why.
TEST(Reports, AReportFileIsWrittenFromItsPiecesOrNotAtAll) {
    TReportFolder folder;
    ASSERT_EQ(report::EnableReports(folder.Path.string()), "");
    static std::vector<std::pair<std::string, bool>> notes;
    const report::TReportNote previous =
        report::SetReportNote([](const std::string& line, bool error) { notes.emplace_back(line, error); });
    const report::TReportPart parts[] = {
        {".txt",
         [](const report::TEmit& emit) {
             for (int i = 0; i < 100'000; ++i) emit(std::to_string(i % 10));
             emit(std::string(100'000, 'x'));
         }},
        {".png",
         [](const report::TEmit& emit) {
             emit(std::string(200'000, 'x'));
             throw std::runtime_error("the picture could not be drawn");
         }},
    };
    report::WriteReport(plat::DateTime{2026, 12, 7, 9, 5, 0, 60}, " S/1 ", "scan", parts);
    report::SetReportNote(previous);
    const std::string stem = "20261207-090500-S_1-scan";
    ASSERT_EQ(folder.Files(), std::vector<std::string>{stem + ".txt"});
    const std::string text = folder.Read(stem + ".txt");
    ASSERT_EQ(text.size(), 200'000u);
    EXPECT_EQ(text.substr(99'990, 12), "0123456789xx");
    EXPECT_EQ(notes, (std::vector<std::pair<std::string, bool>>{
                         {"report: " + (folder.Path / (stem + ".txt")).string(), false},
                         {"platenhawk: report " + (folder.Path / (stem + ".png")).string() +
                              " not written: the picture could not be drawn",
                          true}}));
}

TEST(Reports, F10SaysWhatWasWrittenAndAnUnwritableFolderChangesNoScreen) {
    const std::string scenario = OneDrive(20 * Block, "unreadable = 1000\nattribute = 5 100 100 3 36");
    const auto walk = [](headless::Harness& h) {
        RunScan(h);
        const std::string scanScreen = h.Dump();
        h.Send({Key::Enter, Key::Down, Key::Enter});
        const std::string smartScreen = h.Dump();
        h.Send({Key::Enter, Key::F10});
        EXPECT_TRUE(h.Exited());
        return scanScreen + smartScreen;
    };
    std::string plain;
    {
        TAtMenu p(scenario);
        plain = walk(p.H);
    }
    {
        SCOPED_TRACE("a folder that can be written");
        TReportFolder folder;
        TReporting p(scenario, folder);
        EXPECT_EQ(walk(p.H), plain);
        std::vector<std::string> said;
        for (const auto& line : p.H.ExitLines()) {
            EXPECT_FALSE(line.Error) << line.Text;
            said.push_back(line.Text);
        }
        const std::vector<std::string> files = folder.Files();
        ASSERT_EQ(files.size(), 6u);
        EXPECT_EQ(said,
                  (std::vector<std::string>{
                      "report: " + (folder.Path / files[2]).string(), "report: " + (folder.Path / files[0]).string(),
                      "report: " + (folder.Path / files[1]).string(), "report: " + (folder.Path / files[4]).string(),
                      "report: " + (folder.Path / files[3]).string(), "report: " + (folder.Path / files[5]).string()}));
        EXPECT_TRUE(files[3].ends_with("-scan.map"));
        EXPECT_TRUE(files[5].ends_with("-smart.json"));
    }
    {
        SCOPED_TRACE("a folder below a file");
        TReportFolder folder;
        fs::create_directories(folder.Path);
        std::ofstream(folder.Path / "file") << "x";
        const std::string below = (folder.Path / "file" / "reports").string();
        TProgram p(scenario, folder.Options(below));
        p.H.SendText("1");
        p.H.Send(Key::Enter);
        EXPECT_EQ(walk(p.H), plain);
        const auto lines = p.H.ExitLines();
        ASSERT_EQ(lines.size(), 6u)
            << "json, damaged list, surface, picture and mapfile of the scan, and the SMART report";
        for (const auto& line : lines) {
            EXPECT_TRUE(line.Error);
            EXPECT_TRUE(line.Text.starts_with("platenhawk: report " + below + "/")) << line.Text;
            EXPECT_NE(line.Text.find(" not written: "), std::string::npos) << line.Text;
        }
        EXPECT_EQ(folder.Files(), std::vector<std::string>{"file"});
    }
}

TEST(Reports, ASmartReportHoldsEverySlotWithItsWholeRawValueAndTheThresholdOfItsId) {
    TReportFolder folder;
    // 190 is no id the table names; 281474976710655 is the largest 48-bit raw value; id 5 twice.
    TReporting p(OneDrive(1000,
                          "attribute = 5 100 99 281474976710655 36\nattribute = 190 69 60 31 50\n"
                          "attribute = 9 91 91 65536 0\nattribute = 5 80 80 7 10\n"),
                 folder);
    p.H.Send({Key::Down, Key::Enter});
    EXPECT_EQ(Trimmed(p.H.Text(59, 7, 7)), "65535") << "the screen keeps its 16-bit raw column\n" << p.H.Dump();
    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].ends_with("-T0001-smart.json")) << files[0];
    const json r = folder.Json(files[0]);
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["drive"]["number"], 1);
    // Reallocated sectors above 0 warn, in both slots of id 5.
    const json expected = json::parse(R"([
        {"id": 5, "name": "Reallocated Sector Count", "value": 100, "worst": 99, "threshold": 36,
         "raw": 281474976710655, "flags": 11, "status": "warning"},
        {"id": 190, "name": null, "value": 69, "worst": 60, "threshold": 50, "raw": 31, "flags": 11, "status": "ok"},
        {"id": 9, "name": "Power-On Hours Count", "value": 91, "worst": 91, "threshold": 0, "raw": 65536, "flags": 11,
         "status": "ok"},
        {"id": 5, "name": "Reallocated Sector Count", "value": 80, "worst": 80, "threshold": 36, "raw": 7,
         "flags": 11, "status": "warning"}])");
    EXPECT_EQ(r["attributes"], expected);
    EXPECT_EQ(r["status"], "warning");
}

TEST(Reports, ThresholdsArePairedByIdNotBySlot) {
    TSmartReading reading;
    reading.Outcome = TSmartOutcome::Read;
    TSmartSectors& sectors = reading.Ata;
    const auto put = [](std::array<std::uint8_t, 512>& sector, int slot, std::uint8_t id, std::uint8_t second) {
        sector[static_cast<std::size_t>(2 + 12 * slot)] = id;
        sector[static_cast<std::size_t>(3 + 12 * slot)] = second;
    };
    put(sectors.Values, 0, 1, 0);
    put(sectors.Values, 1, 194, 0);
    put(sectors.Values, 2, 7, 0);
    put(sectors.Thresholds, 0, 194, 0);
    put(sectors.Thresholds, 1, 1, 51);
    const json r = json::parse(report::SmartJson(report::TDriveFacts{}, plat::DateTime{}, reading));
    ASSERT_EQ(r["attributes"].size(), 3u);
    EXPECT_EQ(r["attributes"][0]["threshold"], 51);
    EXPECT_EQ(r["attributes"][1]["threshold"], 0);
    EXPECT_EQ(r["attributes"][2]["threshold"], nullptr) << "no threshold slot names id 7";
}

TEST(Reports, ASmartReadingThatFailedIsReportedAsSuch) {
    TReportFolder folder;
    TReporting p(OneDrive(1000, "smart = no"), folder);
    p.H.Send({Key::Down, Key::Enter});
    ASSERT_EQ(p.H.Text(0, 4, 37), "Ошибка при получении SMART атрибутов!");
    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 1u);
    const json r = folder.Json(files[0]);
    EXPECT_EQ(r["ok"], false);
    EXPECT_EQ(r["attributes"], json::array());
}

TEST(Reports, AScanReportComparesTheHealthLogReadBeforeAndAfterWithTheTablesRequests) {
    TReportFolder folder;
    TReporting p(OneDrive(20 * Block, "kind = nvme\ndata_units_read = 7\n"), folder);
    // The drive meets three media errors at block 10.
    sim::SetReadHook([](sim::TDriveSpec& drive, std::int64_t sector) {
        if (sector >= 10 * Block) drive.NvmeLog[160] = 3;
    });
    RunScan(p.H);
    const std::vector<sim::TRequest> scan = sim::Requests();
    sim::ClearLogs();
    p.H.Send({Key::Enter, Key::Down, Key::Enter});
    ASSERT_NE(p.H.Dump().find("Media and Data Integrity Errors"), std::string::npos) << p.H.Dump();
    const std::vector<sim::TRequest> table = sim::Requests();
    // The table's reading starts with its last version request; the scan's two readings are the
    // same requests, after the drive's header line.
    const auto version = std::find_if(table.rbegin(), table.rend(),
                                      [](const sim::TRequest& r) { return r.Code == plat::SMART_GET_VERSION; });
    ASSERT_NE(version, table.rend());
    const auto reading = static_cast<std::size_t>(version - table.rbegin()) + 1;
    ASSERT_GE(scan.size(), 2 * reading);
    const auto same = [](const sim::TRequest& a, const sim::TRequest& b) {
        return a.Drive == b.Drive && a.Code == b.Code && a.In == b.In && a.OutLength == b.OutLength;
    };
    for (std::size_t i = 0; i < reading; ++i) {
        const sim::TRequest& asked = table[table.size() - reading + i];
        EXPECT_TRUE(same(scan[scan.size() - 2 * reading + i], asked)) << "request " << i << " before the scan";
        EXPECT_TRUE(same(scan[scan.size() - reading + i], asked)) << "request " << i << " after it";
    }
    EXPECT_EQ(scan[scan.size() - 1].Code, plat::IOCTL_STORAGE_QUERY_PROPERTY);

    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 5u) << "the scan's JSON, surface, mapfile and picture, the table's SMART report";
    const json r = folder.Json(files[1]);
    EXPECT_EQ(r["smart_before"]["media_and_data_integrity_errors"], 0);
    EXPECT_EQ(r["smart_after"]["media_and_data_integrity_errors"], 3);
    EXPECT_EQ(r["smart_after"]["data_units_read"], 7);
    EXPECT_EQ(r["smart_changes"], json::parse(R"([{"field": "media_and_data_integrity_errors",
        "name": "Media and Data Integrity Errors", "before": 0, "after": 3}])"));
    EXPECT_EQ(report::LastScanSmartLines(),
              std::vector<std::string>{"during the scan: Media and Data Integrity Errors 0 -> 3"});
}

TEST(Reports, AScanReportListsANormalizedValueThatChangedAndNoChangeAgainstAFailedReading) {
    {
        TReportFolder folder;
        TReporting p(OneDrive(20 * Block, "attribute = 1 100 100 7 6\nattribute = 5 100 100 0 36"), folder);
        // The value of attribute 1 falls at block 10; its raw value stays.
        sim::SetReadHook([](sim::TDriveSpec& drive, std::int64_t sector) {
            if (sector >= 10 * Block) drive.Attributes[0].Current = 90;
        });
        RunScan(p.H);
        const std::vector<std::string> files = folder.Files();
        ASSERT_EQ(files.size(), 4u);
        EXPECT_EQ(folder.Json(files[1])["smart_changes"], json::parse(R"([{"id": 1, "name": "Raw Read Error Rate",
            "before": {"value": 100, "raw": 7}, "after": {"value": 90, "raw": 7}}])"));
    }
    // An NVMe drive that answers no SMART request after the scan: its log of before is compared
    // with nothing.
    TReportFolder folder;
    TReporting p(OneDrive(20 * Block, "kind = nvme\ndata_units_read = 7\n"), folder);
    sim::SetReadHook([](sim::TDriveSpec& drive, std::int64_t sector) {
        if (sector < 10 * Block) return;
        drive.Nvme = false;
        drive.Smart = false;
    });
    RunScan(p.H);
    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 4u);
    const json r = folder.Json(files[1]);
    EXPECT_EQ(r["smart_before"]["data_units_read"], 7);
    EXPECT_EQ(r["smart_after"], nullptr);
    EXPECT_EQ(r["smart_after_error"], "the drive refused a SMART request");
    EXPECT_EQ(r["smart_changes"], json::array());
    EXPECT_EQ(report::LastScanSmartLines(),
              std::vector<std::string>{"no SMART reading after the scan: the drive refused a SMART request"});
}

TEST(Reports, ThePictureHasOneCellPerBlockOrPerGroupAndStaysWithinItsBounds) {
    for (const std::uint64_t cells :
         {std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{5883}, std::uint64_t{100000}, report::MostCells}) {
        SCOPED_TRACE(cells);
        const report::TPictureLayout layout = report::PictureLayout(cells);
        EXPECT_LE(layout.Columns, 1024);
        EXPECT_GE(static_cast<std::uint64_t>(layout.Columns) * layout.Rows, cells);
        EXPECT_LT(static_cast<std::uint64_t>(layout.Columns) * (layout.Rows - 1), cells);
        EXPECT_LE(layout.Width, report::MostPicturePixels);
        EXPECT_LE(layout.Height, report::MostPicturePixels);
        EXPECT_GE(layout.CellPixels, 1);
    }
    // A drive of 20 TB in blocks of 255 sectors: 153 million blocks in at most 2^20 cells.
    report::TScanRecord record;
    report::BeginScan(record, 0, 39'062'500'000 - 1, 255);
    EXPECT_LE(record.Cells.size(), report::MostCells);
    EXPECT_EQ(record.BlocksPerCell, (record.RangeBlocks + report::MostCells - 1) / report::MostCells);
    // A group shows the worst class of its blocks.
    report::AddBlock(record, TBlockResult{0, 255, bcUnder300ms, 200, 255 * 512}, 255);
    report::AddBlock(record, TBlockResult{255, 255, bcUnder5ms, 1, 255 * 512}, 255);
    report::AddBlock(record, TBlockResult{255 * 2, 255, bcUNRB, 10, 0}, 255);
    report::AddBlock(record, TBlockResult{255 * 3, 255, bcUnder30ms, 10, 255 * 512}, 255);
    EXPECT_EQ(record.Cells[0], bcUNRB);
    EXPECT_EQ(record.Cells[1], report::UnreadCell);
    // The eight classes and the unread cell all get colours of their own.
    std::set<std::uint32_t> colours;
    for (std::uint8_t c = 0; c < 8; ++c) colours.insert(report::CellColour(c));
    colours.insert(report::CellColour(report::UnreadCell));
    EXPECT_EQ(colours.size(), 9u);
}

TEST(Reports, ThePictureIsAPngOfTheStatedSize) {
    TReportFolder folder;
    TReporting p(OneDrive(300 * Block, "unreadable = 2000"), folder);
    RunScan(p.H);
    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 5u);
    const std::string png = folder.Read(files[4]);
    ASSERT_GE(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    const auto be32 = [&](std::size_t at) {
        return (std::uint32_t{static_cast<std::uint8_t>(png[at])} << 24) |
               (std::uint32_t{static_cast<std::uint8_t>(png[at + 1])} << 16) |
               (std::uint32_t{static_cast<std::uint8_t>(png[at + 2])} << 8) | static_cast<std::uint8_t>(png[at + 3]);
    };
    const json r = folder.Json(files[2]);
    EXPECT_EQ(r["picture"]["cells"], 300);
    EXPECT_EQ(r["picture"]["blocks_per_cell"], 1);
    EXPECT_EQ(be32(16), r["picture"]["width"]);
    EXPECT_EQ(be32(20), r["picture"]["height"]);
}

TEST(Reports, TheUnattendedSummaryAndStatusCountPastTheScreensThirtyTwoBits) {
    // The last ten blocks of a drive of 2^40 sectors (4.3 billion blocks), the screen's 32-bit
    // counters put just below their wrap as a scan of the whole drive would leave them.
    constexpr std::int64_t Sectors = std::int64_t{1} << 40;
    TReportFolder folder;
    headless::TOptions options;
    options.StartProgram = false;
    headless::Harness h(WithDrives(OneDrive(Sectors, "unreadable = " + std::to_string(Sectors - 300)), options));
    bool wrapped = false;
    sim::SetReadHook([&](sim::TDriveSpec&, std::int64_t) {
        if (std::exchange(wrapped, true)) return;
        App.LatencyCounts[bcUnder5ms] = UINT32_MAX;
        App.UnreadableBlocks = UINT32_MAX;
    });
    cli::TCommandLine line;
    line.Task = cli::TTask::Scan;
    line.Drive = "1";
    line.FirstLba = Sectors - 10 * Block;
    line.ReportsFolder = folder.Path.string();
    testing::internal::CaptureStdout();
    const int status = cli::RunProgram(line, true);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, cli::ExitDamaged) << out;
    EXPECT_NE(out.find("\nblocks: 10\n"), std::string::npos) << out;
    EXPECT_NE(out.find("classes: <5ms 9 <30ms 0 <50ms 0 <150ms 0 <300ms 0 >300ms 0 PUNRB 0 UNRB 1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\ndamaged: " + std::to_string(Sectors - 2 * Block) + "\nverdict: damaged\n"), std::string::npos)
        << out;
    const std::vector<std::string> files = folder.Files();
    ASSERT_EQ(files.size(), 5u);
    const json r = folder.Json(files[2]);
    EXPECT_EQ(r["blocks"], 10);
    EXPECT_EQ(r["classes"]["lt5ms"], 9);
    EXPECT_EQ(r["classes"]["unrb"], 1);
}
