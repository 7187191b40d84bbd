// NVMe drives in the SMART table: the fifteen rows of the health log, their colours and paging,
// the request that asks for the log, and the log in the report.
#include "smart/nvme.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>

#include "platform/drive_records.h"
#include "program.h"
#include "report/report.h"
#include "report_copies.h"

namespace {

const std::string Blank(80, ' ');

constexpr const char* Names[] = {"Critical Warning",    "Composite Temperature",
                                 "Available Spare",     "Available Spare Threshold",
                                 "Percentage Used",     "Data Units Read",
                                 "Data Units Written",  "Host Read Commands",
                                 "Host Write Commands", "Controller Busy Time",
                                 "Power Cycles",        "Power On Hours",
                                 "Unsafe Shutdowns",    "Media and Data Integrity Errors",
                                 "Error Log Entries"};

std::string NvmeDrive(std::string_view fields) {
    return "[drive 0]\nmodel = SIM NVME\nserial = NV0001\nsectors = 2000000\nkind = nvme\n" + std::string(fields) +
           "\n";
}

// At the table of an NVMe drive described by `fields`.
struct TAtNvmeTable : TAtMenu {
    explicit TAtNvmeTable(std::string_view fields, headless::TOptions options = {})
        : TAtMenu(NvmeDrive(fields), std::move(options)) {
        H.Send({Key::Down, Key::Enter});
    }
};

// Row `y` as the table writes it: number at 1, name at 7, value from 43, threshold at 68.
std::string Row(int number, std::string_view value, std::string_view threshold = {}) {
    std::string row = Blank;
    const auto put = [&](std::size_t column, std::string_view text) {
        row.replace(column, std::min(text.size(), row.size() - column), text.substr(0, row.size() - column));
    };
    put(1, std::to_string(number));
    put(7, Names[number - 1]);
    put(43, value);
    if (!threshold.empty()) put(68, threshold);
    return row;
}

int OtherAttr(const headless::Harness& h, int y, std::uint8_t attr) {
    for (int x = 0; x < 80; ++x)
        if (h.Attr(x, y) != attr) return x;
    return -1;
}

// 2^64 + 5, 2^100 and 2^128 - 1 in decimal.
constexpr const char* Above64 = "18446744073709551621";
constexpr const char* TwoTo100 = "1267650600228229401496703205376";
constexpr const char* Largest = "340282366920938463463374607431768211455";

}  // namespace

TEST(NvmeHealth, FifteenRowsInOrderFillTheFirstPageAndCloseWithTheRule) {
    TAtNvmeTable p(
        "critical_warning = 0\ncomposite_temperature_k = 308\navailable_spare = 100\navailable_spare_threshold = 10\n"
        "percentage_used = 3\ndata_units_read = 1234567\ndata_units_written = " +
        std::string(Above64) + "\nhost_read_commands = " + TwoTo100 +
        "\nhost_write_commands = 99\ncontroller_busy_time = 77\npower_cycles = 41\n"
        "power_on_hours = 12345\nunsafe_shutdowns = 6\nmedia_and_data_integrity_errors = 0\nerror_log_entries = "
        "1\n");
    const headless::Harness& h = p.H;
    EXPECT_EQ(h.Text(0, 3, 9), "SIM NVME ") << h.Dump();
    EXPECT_EQ(h.Row(5), " AID   Name                                Value   Worst   Raw      Threshold   ");
    const std::array<std::string, 15> values = {"0",  "35", "100", "10",    "3", "1234567", Above64, TwoTo100,
                                                "99", "77", "41",  "12345", "6", "0",       "1"};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(h.Row(7 + i), Row(i + 1, values[static_cast<std::size_t>(i)], i == 2 ? "10" : "")) << h.Dump();
        EXPECT_EQ(OtherAttr(h, 7 + i, 8), -1) << "a healthy drive's row " << i + 1 << " is dark grey";
    }
    for (int x = 0; x < 80; ++x) ASSERT_EQ(h.Char(x, 22), 0xC4) << "the closing rule on row 22, column " << x;
    EXPECT_EQ(h.Text(0, 23, 34), "Нажмите [ENTER] для продолжения...") << "no page prompt: fifteen rows fit";
}

TEST(NvmeHealth, KelvinBecomeDegreesCelsius) {
    for (const auto& [kelvin, celsius] :
         {std::pair{"273", "0"}, std::pair{"353", "80"}, std::pair{"0", "-273"}, std::pair{"65535", "65262"}}) {
        SCOPED_TRACE(kelvin);
        TAtNvmeTable p(std::string("composite_temperature_k = ") + kelvin);
        EXPECT_EQ(p.H.Row(8), Row(2, celsius));
    }
}

TEST(NvmeHealth, ValuesPastSixDigitsRunOnAndAreCutOnlyAtColumn79) {
    TAtNvmeTable p(std::string("power_cycles = ") + Largest + "\nunsafe_shutdowns = 18446744073709551615");
    EXPECT_EQ(p.H.Row(17), Row(11, std::string(Largest).substr(0, 37))) << "39 digits, 37 of them fit";
    EXPECT_EQ(p.H.Row(19), Row(13, "18446744073709551615"));
    EXPECT_EQ(p.H.Row(17).size(), 80u);
}

TEST(NvmeHealth, RowsThatShowTroubleAreLightRed) {
    struct TCase {
        const char* Fields;
        int Row;  // the row that turns red, from 1
    };
    for (const TCase& c :
         {TCase{"critical_warning = 4", 1}, TCase{"available_spare = 9", 3}, TCase{"percentage_used = 100", 5},
          TCase{"percentage_used = 255", 5}, TCase{"media_and_data_integrity_errors = 1", 14}}) {
        SCOPED_TRACE(c.Fields);
        TAtNvmeTable p(c.Fields);
        for (int row = 1; row <= 15; ++row)
            EXPECT_EQ(OtherAttr(p.H, 6 + row, row == c.Row ? 12 : 8), -1) << "row " << row << "\n" << p.H.Dump();
    }
    // At the bounds: spare equal to its threshold, 99 % used, no errors: nothing is red.
    TAtNvmeTable p("available_spare = 10\navailable_spare_threshold = 10\npercentage_used = 99");
    for (int row = 1; row <= 15; ++row) EXPECT_EQ(OtherAttr(p.H, 6 + row, 8), -1) << "row " << row;
}

TEST(NvmeHealth, AtaDrivesAskForNoHealthLogAndRefusingDrivesGetTheSmartError) {
    {
        TAtMenu p(OneDrive(1000, "attribute = 5 100 100 0 36"));
        sim::ClearLogs();
        p.H.Send({Key::Down, Key::Enter});
        for (const sim::TRequest& r : sim::Requests()) EXPECT_NE(r.Code, plat::IOCTL_STORAGE_QUERY_PROPERTY);
    }
    TAtMenu p(OneDrive(1000, "smart = no"));
    sim::ClearLogs();
    p.H.Send({Key::Down, Key::Enter});
    EXPECT_EQ(p.H.Text(0, 4, 37), "Ошибка при получении SMART атрибутов!") << p.H.Dump();
    ASSERT_FALSE(sim::Requests().empty());
    EXPECT_EQ(sim::Requests().back().Code, plat::IOCTL_STORAGE_QUERY_PROPERTY) << "asked last, after SMART failed";
    EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST(NvmeHealth, TheQueryIsTheWindowsRecordByteForByte) {
    const plat::TNvmeQuery query = plat::BuildNvmeHealthQuery();
    ASSERT_EQ(query.size(), 8u + 40u + 512u);
    const std::array<std::uint8_t, 48> head = {
        50, 0, 0, 0,                                      // PropertyId: StorageDeviceProtocolSpecificProperty
        0,  0, 0, 0,                                      // QueryType: PropertyStandardQuery
        3,  0, 0, 0,                                      // ProtocolType: ProtocolTypeNvme
        2,  0, 0, 0,                                      // DataType: NVMeDataTypeLogPage
        2,  0, 0, 0,                                      // ProtocolDataRequestValue: log page 02h
        0,  0, 0, 0,                                      // ProtocolDataRequestSubValue: offset 0
        40, 0, 0, 0,                                      // ProtocolDataOffset: right after the protocol data
        0,  2, 0, 0,                                      // ProtocolDataLength: 512
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // FixedProtocolReturnData, SubValue2-4
    };
    EXPECT_TRUE(std::equal(head.begin(), head.end(), query.begin()));
    EXPECT_TRUE(std::all_of(query.begin() + 48, query.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(plat::IOCTL_STORAGE_QUERY_PROPERTY, (0x2Du << 16) | (0x500u << 2));
    EXPECT_TRUE(plat::IsNvmeHealthQuery(plat::IOCTL_STORAGE_QUERY_PROPERTY, query));
    EXPECT_FALSE(plat::IsNvmeHealthQuery(plat::SMART_RCV_DRIVE_DATA, query));
    for (const std::size_t byte : {0u, 8u, 12u, 16u, 20u, 24u}) {
        plat::TNvmeQuery other = query;
        other[byte] ^= 1;
        EXPECT_FALSE(plat::IsNvmeHealthQuery(plat::IOCTL_STORAGE_QUERY_PROPERTY, other)) << "byte " << byte;
    }
}

TEST(NvmeHealth, TheReplyIsReadOnlyWhenItsDescriptorHoldsTheLog) {
    std::array<std::uint8_t, 512> log{};
    for (std::size_t i = 0; i < log.size(); ++i) log[i] = static_cast<std::uint8_t>(i * 7);
    plat::TNvmeQuery reply = plat::BuildNvmeHealthQuery();
    ASSERT_TRUE(plat::WriteNvmeHealthReply(reply, log));
    EXPECT_EQ(reply[0], 48) << "Version: sizeof STORAGE_PROTOCOL_DATA_DESCRIPTOR";
    EXPECT_EQ(reply[4], 48) << "Size";
    const auto found = plat::NvmeHealthReply(reply);
    ASSERT_EQ(found.size(), 512u);
    EXPECT_TRUE(std::equal(found.begin(), found.end(), log.begin()));
    EXPECT_EQ(found.data(), reply.data() + 48);
    for (const auto& [byte, value] : {std::pair{0u, 40}, std::pair{4u, 4}, std::pair{24u, 0}, std::pair{28u, 1}}) {
        plat::TNvmeQuery spoilt = reply;
        spoilt[byte] = static_cast<std::uint8_t>(value);
        spoilt[byte + 1] = 0;
        EXPECT_TRUE(plat::NvmeHealthReply(spoilt).empty()) << "byte " << byte;
    }
    EXPECT_TRUE(plat::NvmeHealthReply(std::span(reply).first(100)).empty()) << "a short reply";
}

TEST(NvmeHealth, CountersPast64BitsInDecimal) {
    EXPECT_EQ(DecimalText(TUInt128{0, 0}), "0");
    EXPECT_EQ(DecimalText(TUInt128{~std::uint64_t{0}, 0}), "18446744073709551615");
    EXPECT_EQ(DecimalText(TUInt128{5, 1}), Above64);
    EXPECT_EQ(DecimalText(TUInt128{0, std::uint64_t{1} << 36}), TwoTo100);
    EXPECT_EQ(DecimalText(TUInt128{~std::uint64_t{0}, ~std::uint64_t{0}}), Largest);
}

TEST(NvmeHealth, TheReportHoldsTheLogWithBigCountersAsStrings) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("ph-nvme-test-" + std::to_string(std::random_device{}()));
    headless::TOptions options;
    options.Prepare = [folder] { report::EnableReports(folder.string()); };
    {
        TAtNvmeTable p(std::string("critical_warning = 2\ndata_units_read = 9007199254740992\n"
                                   "data_units_written = 9007199254740993\npower_on_hours = ") +
                           Largest,
                       options);
    }
    report::EnableReports("");
    ASSERT_TRUE(fs::exists(folder));
    const auto entry = *fs::directory_iterator(folder);
    EXPECT_TRUE(entry.path().filename().string().ends_with("-NV0001-smart.json"));
    std::ifstream in(entry.path());
    const nlohmann::json r = nlohmann::json::parse(in);
    KeepReportCopies(folder);
    fs::remove_all(folder);
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["attributes"], nlohmann::json::array());
    const nlohmann::json& n = r["nvme"];
    EXPECT_EQ(n.size(), 15u);
    EXPECT_EQ(n["critical_warning"], 2);
    EXPECT_EQ(n["composite_temperature"], 37);
    EXPECT_EQ(n["available_spare"], 100);
    EXPECT_EQ(n["available_spare_threshold"], 10);
    EXPECT_EQ(n["data_units_read"], 9007199254740992u) << "2^53 is still exact";
    EXPECT_EQ(n["data_units_written"], "9007199254740993");
    EXPECT_EQ(n["power_on_hours"], Largest);
    EXPECT_EQ(n["error_log_entries"], 0);
}

TEST(NvmeHealth, ScenarioKeysBelongToNvmeDrives) {
    const auto error = [](const std::string& text) {
        const auto parsed = sim::ParseScenario(text, "t.ini");
        const auto* e = std::get_if<sim::TScenarioError>(&parsed);
        return e ? e->Text() : std::string();
    };
    EXPECT_EQ(error("[drive 0]\nsectors = 10\npower_cycles = 3\n"),
              "t.ini:3: power_cycles is a field of an NVMe drive's health log (kind = nvme)");
    EXPECT_EQ(error("[drive 0]\nsectors = 10\nkind = scsi\n"), "t.ini:3: bad kind value 'scsi': expected ata or nvme");
    EXPECT_EQ(error(NvmeDrive("percentage_used = 256")), "t.ini:6: bad percentage_used value '256': expected 0..255");
    EXPECT_EQ(error(NvmeDrive(std::string("power_cycles = ") + Largest + "6")),
              std::string("t.ini:6: bad power_cycles value '") + Largest + "6': expected 0 .. 2^128-1");
    EXPECT_EQ(error(NvmeDrive("power_cycles = 12a")), "t.ini:6: bad power_cycles value '12a': expected 0 .. 2^128-1");
    EXPECT_EQ(error(NvmeDrive("power_cycles = 1\npower_cycles = 2")),
              "t.ini:7: key power_cycles given twice (first on line 6)");
}
