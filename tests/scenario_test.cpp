// The scenario files of the simulated drives.
#include <fstream>
#include <variant>

#include "program.h"

namespace {

sim::TScenario Parse(std::string_view text) {
    const sim::TScenarioResult r = sim::ParseScenario(text, "s.ini");
    if (const auto* e = std::get_if<sim::TScenarioError>(&r)) ADD_FAILURE() << e->Text();
    return std::holds_alternative<sim::TScenario>(r) ? std::get<sim::TScenario>(r) : sim::TScenario{};
}

std::string Error(std::string_view text) {
    const sim::TScenarioResult r = sim::ParseScenario(text, "s.ini");
    return std::holds_alternative<sim::TScenarioError>(r) ? std::get<sim::TScenarioError>(r).Text() : "no error";
}

}  // namespace

TEST(Scenario, ReadsEveryKeyInAnyOrder) {
    const sim::TScenario s = Parse(R"(# a comment
[drive 3]   # trailing comment
slow       = 5000-5254 400
slow       = 6000 400 11
sectors    = 1000000
  model    = SIM DISK 500
unreadable = 20000-20010
partial    = 30000
attribute  = 5 100 99 281474976710655 36
cache_kb   = 8192
answers    = no
smart      = no
latency    = 2

[drive 0]
sectors = 1
)");
    ASSERT_EQ(s.Drives.size(), 2u);
    const sim::TDriveSpec& d = s.Drives[0];
    EXPECT_EQ(d.Number, 3);
    EXPECT_EQ(d.Model, "SIM DISK 500");
    EXPECT_EQ(d.Serial, "SIM3");
    EXPECT_EQ(d.Firmware, "1.0");
    EXPECT_EQ(d.Sectors, 1000000);
    EXPECT_EQ(d.CacheKb, 8192u);
    EXPECT_FALSE(d.Answers);
    EXPECT_FALSE(d.Smart);
    EXPECT_EQ(d.LatencyMs, 2u);
    ASSERT_EQ(d.Slow.size(), 2u);
    EXPECT_EQ(d.Slow[0].Range.First, 5000);
    EXPECT_EQ(d.Slow[0].Range.Last, 5254);
    EXPECT_FALSE(d.Slow[0].LaterMs.has_value());
    EXPECT_EQ(d.Slow[1].Range.Last, 6000);
    EXPECT_EQ(d.Slow[1].LaterMs, 11u);
    EXPECT_EQ(d.Unreadable[0].Last, 20010);
    EXPECT_EQ(d.Partial[0].First, 30000);
    EXPECT_EQ(d.Attributes[0].Raw, 281474976710655u);
    EXPECT_EQ(d.Attributes[0].Worst, 99);
    EXPECT_EQ(s.Drives[1].Model, "SIMULATED DISK");
}

TEST(Scenario, RefusesFaultyFilesWithTheLine) {
    EXPECT_EQ(Error("[disk 0]\n"), "s.ini:1: unknown section [disk 0] (expected [drive N])");
    EXPECT_EQ(Error("[drive 16]\n"), "s.ini:1: drive number must be 0..15");
    EXPECT_EQ(Error("[drive 1]\nsectors=5\n\n[drive 1]\nsectors=5\n"), "s.ini:4: drive 1 is described twice");
    EXPECT_EQ(Error("sectors = 5\n"), "s.ini:1: key sectors outside a [drive N] section");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\ncolour = red\n"), "s.ini:3: unknown key colour");
    EXPECT_EQ(Error("[drive 0]\nsectors = 12x\n"), "s.ini:2: bad sectors value '12x': expected 1 .. 2^48-1");
    EXPECT_EQ(Error("[drive 0]\nsectors = 0\n"), "s.ini:2: bad sectors value '0': expected 1 .. 2^48-1");
    EXPECT_EQ(Error("[drive 0]\nsectors = 281474976710656\n"),
              "s.ini:2: bad sectors value '281474976710656': expected 1 .. 2^48-1");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\ncache_kb = 32768\n"),
              "s.ini:3: bad cache_kb value '32768': expected 0..32767");
    EXPECT_EQ(Error("[drive 0]\nunreadable = 10-20\nsectors = 15\n"),
              "s.ini:2: range 10-20 lies outside the drive's 15 sectors");
    EXPECT_EQ(Error("[drive 0]\nsectors = 50\npartial = 20-10\n"),
              "s.ini:3: bad range 20-10 (expected A-B or a sector number)");
    EXPECT_EQ(Error("[drive 0]\nmodel = " + std::string(41, 'M') + "\nsectors = 5\n"),
              "s.ini:2: model must be printable ASCII of at most 40 characters");
    EXPECT_EQ(Error("[drive 0]\nserial = " + std::string(21, 'S') + "\n"),
              "s.ini:2: serial must be printable ASCII of at most 20 characters");
    EXPECT_EQ(Error("[drive 0]\nfirmware = 123456789\n"),
              "s.ini:2: firmware must be printable ASCII of at most 8 characters");
    EXPECT_EQ(Error("[drive 0]\nsmart = maybe\n"), "s.ini:2: smart must be yes or no");
    EXPECT_EQ(Error("[drive 0]\nmodel = X\n"), "s.ini:1: drive 0 needs sectors or image");
    EXPECT_EQ(Error("[drive 0]\nimage = /nonexistent/disk.img\n").substr(0, 44),
              "s.ini:2: cannot open image /nonexistent/disk");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nattribute = 5 100 100 3\n"),
              "s.ini:3: bad attribute value '5 100 100 3': expected id current worst raw threshold");
    EXPECT_EQ(Error("# nothing\n"), "s.ini:1: no [drive N] section");
    std::string many = "[drive 0]\nsectors = 5\n";
    for (int i = 1; i <= 31; ++i) many += "attribute = " + std::to_string(i) + " 1 1 1 1\n";
    EXPECT_EQ(Error(many), "s.ini:33: more than 30 attributes");
}

TEST(Scenario, ImageGivesTheSizeAndTheData) {
    const std::string path = ::testing::TempDir() + "/ph_scenario_image.img";
    {
        std::ofstream out(path, std::ios::binary);
        std::string data(512 * 9 + 100, '\0');
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i / 512 + 1);
        out << data;
    }
    const sim::TScenario s = Parse("[drive 0]\nimage = " + path + "\nunreadable = 8\n");
    ASSERT_EQ(s.Drives.size(), 1u);
    EXPECT_EQ(s.Drives[0].Sectors, 9);
    sim::InstallScenario(s);
    const plat::DriveHandle d = plat::OpenDrive(0, plat::DriveAccess::Read);
    alignas(4096) std::array<std::uint8_t, 4096> buffer{};
    EXPECT_EQ(plat::ReadDrive(d, 512 * 2, std::span(buffer).first(1024)), 1024u);
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(buffer[1023], 4);
    EXPECT_EQ(plat::ReadDrive(d, 512 * 7, std::span(buffer).first(1024)), 0u) << "sector 8 is unreadable";
    EXPECT_EQ(plat::ReadDrive(d, 512 * 9, std::span(buffer).first(512)), 0u) << "past the end";
    plat::CloseDrive(d);
    sim::InstallScenario({});
    std::remove(path.c_str());
}

TEST(Scenario, ReadsFollowTheFaultRules) {
    sim::InstallScenario(
        Parse("[drive 0]\nsectors = 1000\nunreadable = 100\npartial = 200\npartial = 205\n"
              "partial = 300-310\nunreadable = 303\n"));
    const plat::DriveHandle d = plat::OpenDrive(0, plat::DriveAccess::Read);
    alignas(4096) static std::array<std::uint8_t, 255 * 512> buffer;
    const auto read = [&](std::int64_t lba, int sectors) {
        return plat::ReadDrive(d, static_cast<std::uint64_t>(lba) * 512, std::span(buffer).first(sectors * 512u));
    };
    EXPECT_EQ(read(0, 100), 51200u);
    EXPECT_EQ(read(0, 101), 0u);
    EXPECT_EQ(read(195, 20), 5u * 512) << "the first partial sector ends the read";
    EXPECT_EQ(read(200, 5), 0u) << "nothing before the partial sector: a failure";
    EXPECT_EQ(read(290, 20), 0u) << "an unreadable sector wins over a partial one";
    EXPECT_EQ(read(990, 20), 10u * 512) << "a read past the end delivers what the drive holds";
    plat::CloseDrive(d);
    EXPECT_EQ(plat::OpenDrive(1, plat::DriveAccess::Read), plat::InvalidDrive);
    sim::InstallScenario({});
}
