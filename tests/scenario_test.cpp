// The scenario files of the simulated drives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <set>
#include <span>
#include <sstream>
#include <variant>

#include "platform/sim/image.h"
#include "platform/sim/scenario_keys.h"
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

std::string LoadError(const std::string& path) {
    const sim::TScenarioResult r = sim::LoadScenarioFile(path);
    return std::holds_alternative<sim::TScenarioError>(r) ? std::get<sim::TScenarioError>(r).Text() : "no error";
}

// A path in the test directory of this process alone (suites may run side by side).
std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "ph" + std::to_string(::getpid()) + "_" + name;
}

// A file of `bytes` bytes in the test directory, each 4096-byte sector filled with its number + 1.
std::string ImageFile(const std::string& name, std::size_t bytes) {
    const std::string path = TempPath(name);
    std::string data(bytes, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i / 4096 + 1);
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

// A loop device with 4096-byte sectors over `file`, detached again at the end; no path where
// losetup is not permitted (not root, no loop driver).
struct TLoopDevice {
    explicit TLoopDevice(const std::string& file) {
        FILE* p = ::popen(("losetup --sector-size 4096 -f --show " + file + " 2>&1").c_str(), "r");
        if (!p) return;
        char chunk[256];
        std::string output;
        while (std::fgets(chunk, sizeof chunk, p)) output += chunk;
        while (!output.empty() && output.back() == '\n') output.pop_back();
        (::pclose(p) == 0 && output.starts_with("/dev/") ? Path : Why) = output;
    }
    ~TLoopDevice() {
        if (!Path.empty() && std::system(("losetup -d " + Path).c_str()) != 0) ADD_FAILURE() << "losetup -d " << Path;
    }
    std::string Path;
    std::string Why;
};

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

TEST(Scenario, ARangeRepeatsEveryStepToTheDrivesEnd) {
    sim::InstallScenario(
        Parse("[drive 0]\nsectors = 100000\nunreadable = 20-29 every 100\npartial = 555 every 1000\n"));
    const plat::DriveHandle d = plat::OpenDrive(0, plat::DriveAccess::Read);
    alignas(4096) static std::array<std::uint8_t, 255 * 512> buffer;
    const auto read = [&](std::int64_t lba, int sectors) {
        return plat::ReadDrive(d, static_cast<std::uint64_t>(lba) * 512, std::span(buffer).first(sectors * 512u));
    };
    EXPECT_EQ(read(0, 20), 20u * 512);
    EXPECT_EQ(read(29, 1), 0u);
    EXPECT_EQ(read(30, 90), 90u * 512) << "between the copies";
    EXPECT_EQ(read(99929, 1), 0u) << "the last copy";
    EXPECT_EQ(read(99930, 70), 70u * 512);
    EXPECT_EQ(read(7540, 30), 15u * 512) << "a partial copy ends the read at its sector";
    plat::CloseDrive(d);
    sim::InstallScenario({});
    EXPECT_EQ(Error("[drive 0]\nsectors = 1000\nunreadable = 20-29 every 10\n"),
              "s.ini:3: bad unreadable value '20-29 every 10': the step must be longer than the range and at most "
              "2^48-1");
    EXPECT_EQ(Error("[drive 0]\nsectors = 1000\npartial = 20 each 10\n"),
              "s.ini:3: bad partial value '20 each 10': expected a range, or a range, every and a step in sectors");
}

TEST(Scenario, DriveTextsTakeByteEscapes) {
    const sim::TScenario s = Parse(R"([drive 0]
sectors  = 5
model    = A\x1b[2J\x07B\\C\x23D   # \x23 is a #, which would start a comment
serial   = \x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0B\x0c\x0d\x0e\x0f\x10\x11\x12\x7F
firmware = \xff\\\\\x80
)");
    ASSERT_EQ(s.Drives.size(), 1u);
    EXPECT_EQ(s.Drives[0].Model, std::string("A\x1b[2J\x07") + "B\\C#D");
    EXPECT_EQ(s.Drives[0].Serial,
              std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x7f", 20))
        << "20 bytes after unescaping fit, however long the escapes are";
    EXPECT_EQ(s.Drives[0].Firmware, "\xff\\\\\x80");

    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nfirmware = \\x41\\x42\\x43\\x44\\x45\\x46\\x47\\x48\\x49\n"),
              "s.ini:3: firmware must be printable ASCII of at most 8 characters");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nmodel = AB\\x4\n"),
              "s.ini:3: bad escape \\x4 in model (expected \\xHH or \\\\)");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nserial = \\xg0\n"),
              "s.ini:3: bad escape \\xg0 in serial (expected \\xHH or \\\\)");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nmodel = C:\\disk\n"),
              "s.ini:3: bad escape \\d in model (expected \\xHH or \\\\)");
    EXPECT_EQ(Error("[drive 0]\n\nfirmware = 1.0\\\n"), "s.ini:3: bad escape \\ in firmware (expected \\xHH or \\\\)");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nmodel = tab\there\n"),
              "s.ini:3: model must be printable ASCII of at most 40 characters")
        << "a control byte is written as an escape, not raw";
}

TEST(Scenario, RefusesAKeyGivenTwiceExceptListKeys) {
    for (const std::string key : {"model", "serial", "firmware", "sectors", "sector_size", "cache_kb", "answers",
                                  "identify", "smart", "latency"}) {
        const bool flag = key == "answers" || key == "identify" || key == "smart";
        const std::string value = key == "sector_size" ? "512" : flag ? "yes" : "7";
        EXPECT_EQ(Error("[drive 0]\n" + key + " = " + value + "\n\n" + key + " = " + value + "\n"),
                  "s.ini:4: key " + key + " given twice (first on line 2)");
    }
    const sim::TScenario s = Parse(
        "[drive 0]\nsectors = 50\nslow = 1 5\nslow = 2 5\nunreadable = 3\nunreadable = 4\npartial = 5\npartial = 6\n"
        "attribute = 1 1 1 1 1\nattribute = 1 1 1 1 1\n\n[drive 1]\nsectors = 50\n");
    ASSERT_EQ(s.Drives.size(), 2u) << "a key may come again in another section";
    EXPECT_EQ(s.Drives[0].Slow.size(), 2u);
    EXPECT_EQ(s.Drives[0].Unreadable.size(), 2u);
    EXPECT_EQ(s.Drives[0].Partial.size(), 2u);
    EXPECT_EQ(s.Drives[0].Attributes.size(), 2u);
}

// platenhawk-demo(1) names every key of the table in its section SCENARIO FILE, on a line of font
// macros (as .BI KEY " = value" or .BR KEY ,), not only in its prose.
TEST(Scenario, ManPageDocumentsEveryKey) {
    std::ifstream page(PH_DEMO_MAN_PAGE);
    ASSERT_TRUE(page.is_open()) << PH_DEMO_MAN_PAGE;
    std::set<std::string> named;
    bool scenarioFile = false;
    for (std::string line; std::getline(page, line);) {
        if (line.starts_with(".SH ")) scenarioFile = line == ".SH SCENARIO FILE";
        if (!scenarioFile || !line.starts_with('.')) continue;
        for (char& c : line)
            if ((c < 'a' || c > 'z') && c != '_') c = ' ';
        std::istringstream words(line);
        for (std::string word; words >> word;) named.insert(word);
    }
    for (const sim::TKey& key : sim::SectionKeys())
        EXPECT_TRUE(named.contains(std::string(key.Name))) << PH_DEMO_MAN_PAGE << " does not document " << key.Name;
}

TEST(Scenario, AcceptsAByteOrderMarkAtTheStart) {
    const sim::TScenario s = Parse("\xEF\xBB\xBF[drive 2]\r\nsectors = 5\r\n");
    ASSERT_EQ(s.Drives.size(), 1u);
    EXPECT_EQ(s.Drives[0].Number, 2);
    EXPECT_EQ(Error("\xEF\xBB\xBF# x\n[drive 0]\nsector = 5\n"), "s.ini:3: unknown key sector");
    EXPECT_EQ(Error("[drive 0]\n\xEF\xBB\xBFsectors = 5\n"), "s.ini:2: unknown key \\xef\\xbb\\xbfsectors")
        << "only at the start of the file";
}

TEST(Scenario, ErrorsShowBytesOfTheFileEscaped) {
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\n\x1b]2;owned\x07 = 1\n"), "s.ini:3: unknown key \\x1b]2;owned\\x07");
    EXPECT_EQ(Error("[\x1b[2Jdrive 0]\n"), "s.ini:1: unknown section [\\x1b[2Jdrive 0] (expected [drive N])");
    EXPECT_EQ(Error("[drive 0]\nsectors = 5\nlatency = 1\x9b"
                    "5m\n"),
              "s.ini:3: bad latency value '1\\x9b5m': expected milliseconds 0..600000");
    EXPECT_EQ(Error("[drive 0]\nsectors = 50\nunreadable = 1-\x1b"
                    "c\n"),
              "s.ini:3: bad range 1-\\x1bc (expected A-B or a sector number)");
    EXPECT_EQ(Error("[drive 0]\nimage = /nonexistent/\x1b[5m.img\n"),
              "s.ini:2: cannot open image /nonexistent/\\x1b[5m.img: No such file or directory");
}

TEST(Scenario, RefusesAnImageShorterThanItsSectors) {
    const std::string path = ImageFile("short.img", 512 * 9 + 100);
    EXPECT_EQ(Error("[drive 0]\nsectors = 10\nimage = " + path + "\n"),
              "s.ini:3: image " + path + " is 4708 bytes, shorter than 10 sectors of 512 bytes");
    EXPECT_EQ(Error("[drive 0]\nimage = " + path + "\nsectors = 2\nsector_size = 4096\n"),
              "s.ini:2: image " + path + " is 4708 bytes, shorter than 2 sectors of 4096 bytes");
    EXPECT_EQ(Parse("[drive 0]\nimage = " + path + "\nsectors = 9\n").Drives.at(0).Sectors, 9);
    EXPECT_EQ(Parse("[drive 0]\nimage = " + path + "\nsector_size = 4096\n").Drives.at(0).Sectors, 1);
    EXPECT_EQ(Error("[drive 0]\nimage = " + path + "\nimage = " + path + "\n"),
              "s.ini:3: key image given twice (first on line 2)");
    EXPECT_EQ(Error("[drive 0]\nimage = /dev/null\n"), "s.ini:2: image /dev/null is neither a file nor a block device");
    std::remove(path.c_str());
}

TEST(Scenario, LoadsOnlyARegularFileOfAtMost16MiB) {
    const std::string hint = " (name a scenario file, or none for the built-in scenario)";
    const std::string dir = TempPath("dir");
    ::mkdir(dir.c_str(), 0700);
    EXPECT_EQ(LoadError(dir), dir + ": cannot read the scenario file: it is a directory" + hint);
    ::rmdir(dir.c_str());
    EXPECT_EQ(LoadError("/dev/null"), "/dev/null: cannot read the scenario file: not a regular file" + hint);

    const std::string path = TempPath("big.ini");
    std::string text = "[drive 0]\nsectors = 5\n";
    const std::string comment = "# " + std::string(1021, '-') + "\n";
    while (text.size() + comment.size() <= 16u << 20) text += comment;
    text += "#" + std::string((16u << 20) - text.size() - 2, '-') + "\n";
    ASSERT_EQ(text.size(), 16u << 20);
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(LoadError(path), "no error") << "16 MiB exactly";
    std::ofstream(path, std::ios::binary | std::ios::app) << "\n";
    EXPECT_EQ(LoadError(path), path + ": cannot read the scenario file: larger than 16 MiB" + hint);
    std::remove(path.c_str());
}

TEST(Scenario, FileImageReadsDirectWhereTheFileSystemAllows) {
    const std::string path = ImageFile("direct.img", 4096 * 4);
    std::string error;
    auto image = sim::OpenImage(path, error);
    ASSERT_TRUE(image) << error;
    const int probe = ::open(path.c_str(), O_RDONLY | O_DIRECT);
    if (probe >= 0) {
        EXPECT_NE(::fcntl(static_cast<int>(image->Handle), F_GETFL) & O_DIRECT, 0);
        ::close(probe);
    }
    EXPECT_EQ(::fcntl(static_cast<int>(image->Handle), F_GETFL) & O_NONBLOCK, 0);
    alignas(4096) static std::array<std::uint8_t, 4096> buffer;
    EXPECT_EQ(sim::ReadImage(*image, 4096 + 100, std::span(buffer).first(512)), 512u)
        << "a piece that direct I/O refuses is read buffered";
    EXPECT_EQ(buffer[0], 2);
    sim::CloseImage(*image);
    std::remove(path.c_str());
}

TEST(Scenario, BlockDeviceImageHasTheDeviceSectorSize) {
    const std::string file = ImageFile("loop.img", 4096 * 64);
    const TLoopDevice loop(file);
    if (loop.Path.empty()) {
        std::remove(file.c_str());
        GTEST_SKIP() << "no loop device with 4096-byte sectors (losetup not permitted here): " << loop.Why;
    }
    const sim::TScenario s = Parse("[drive 0]\nimage = " + loop.Path + "\n");
    ASSERT_EQ(s.Drives.size(), 1u);
    EXPECT_EQ(s.Drives[0].SectorSize, 4096u);
    EXPECT_EQ(s.Drives[0].Sectors, 64);
    EXPECT_EQ(Parse("[drive 0]\nsector_size = 4096\nimage = " + loop.Path + "\nsectors = 60\n").Drives.at(0).Sectors,
              60);
    EXPECT_EQ(Error("[drive 0]\nimage = " + loop.Path + "\nsector_size = 512\n"),
              "s.ini:3: sector_size 512 contradicts image " + loop.Path + ", whose sectors are 4096 bytes");
    EXPECT_EQ(Error("[drive 0]\nimage = " + loop.Path + "\nsectors = 65\n"),
              "s.ini:2: image " + loop.Path + " is 262144 bytes, shorter than 65 sectors of 4096 bytes");

    sim::InstallScenario(s);
    const plat::DriveHandle d = plat::OpenDrive(0, plat::DriveAccess::Read);
    alignas(4096) static std::array<std::uint8_t, 2 * 4096> buffer;
    EXPECT_EQ(plat::ReadDrive(d, 4096 * 3, buffer), 2u * 4096);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[2 * 4096 - 1], 5);
    EXPECT_EQ(plat::ReadDrive(d, 512, std::span(buffer).first(512)), 0u)
        << "a piece of a sector fails, as on the drive, instead of coming through the page cache";
    plat::CloseDrive(d);
    sim::InstallScenario({});
    std::remove(file.c_str());
}
