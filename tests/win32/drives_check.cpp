// platenhawk-drives-check.exe: the program's own detection, SMART reading, spindle command and
// reads, through the real Win32 drive layer, on the fake devices of fake_devices.h in place of
// Windows' drivers. Prints one line per case, named in plain words, with ok or FAIL and what the
// program made of it; exits with 1 when any line differs from what the drivers' answers should
// give, when a request went out that Windows would not have taken or that asked for more than
// reading, or when a handle was left open. Run under Wine by scripts/check-wine.
// Thread: main.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "drives/identity.h"
#include "drives/open_drive.h"
#include "fake_devices.h"
#include "platform/platform.h"
#include "power/spindle.h"
#include "smart/table.h"

namespace {

struct TCase {
    int Number;
    std::string_view Words;  // the case in plain words
    std::string_view Expected;
};

// What each drive number should come to.
constexpr TCase DriveCases[] = {
    {0, "SATA disk on the ATA port driver (atapi)",
     "FAKE HD1000SATA | WD-FAKE0000001 | 01.01A01 | 1953525168 x 512 | cache 8192 KB | identity SMART | "
     "SMART ATA via SMART, 4 attributes | SLEEP via IDE | reads ok"},
    {1, "AHCI (storahci) route: SLEEP by ATA pass-through, the master/slave bit masked",
     "FAKE SSD AHCI 500 | S3Z1NB0K000001 | 2B6Q | 976773168 x 512 | cache 0 KB | identity SMART | "
     "SMART ATA via SMART, 4 attributes | SLEEP via ATA | reads ok, the block with bad sector 300 fails whole"},
    {2, "NVMe (stornvme): serial from Identify Controller",
     "FAKE NVME SSD 512GB | S4EWNX0R123456 | 3B2QGXA7 | 1000215216 x 512 | cache 0 KB | identity made up | "
     "SMART NVMe health log, 37 C | SLEEP refused | reads ok"},
    {3, "bridge answering GOOD with no sense, refusing CK_COND on IDENTIFY",
     "FAKE HD2000 USB | WD-FAKE0000002 | 80.00A80 | 3907029168 x 512 | cache 0 KB | identity SAT16 | "
     "SMART ATA via SAT16, 4 attributes | SLEEP via SAT16 | reads ok"},
    {4, "bridge answering with fixed-format sense",
     "FAKE HD160 FIXED | FIXED0000004 | 3.AAA | 312581808 x 512 | cache 0 KB | identity SAT16 | "
     "SMART ATA via SAT16, 4 attributes | SLEEP via SAT16 | reads ok"},
    {5, "bridge counting zero bytes on CHECK CONDITION",
     "FAKE HD320 ZERO | ZERO00000005 | 1.05 | 625142448 x 512 | cache 0 KB | identity SAT16 | "
     "SMART ATA via SAT16, 4 attributes | SLEEP via SAT16 | reads ok"},
    {6, "bridge leaving SenseInfoLength unchanged",
     "FAKE HD500 KEPT | KEPT00000006 | 6.06 | 976773168 x 512 | cache 0 KB | identity SAT16 | "
     "SMART ATA via SAT16, 4 attributes | SLEEP via SAT16 | reads ok"},
    {7, "12-byte ATA PASS-THROUGH only",
     "FAKE HD250 TWELVE | TWLV00000007 | 7.07 | 488397168 x 512 | cache 0 KB | identity SAT12 | "
     "SMART ATA via SAT12, 4 attributes | SLEEP via SAT12 | reads ok"},
    {8, "512-byte drive behind a 4096-byte bridge",
     "FAKE HD3000 512E | FOUR00000008 | 8.08 | 5860533168 x 512 | cache 0 KB | identity SAT16 | "
     "SMART ATA via SAT16, 4 attributes | SLEEP via SAT16 | reads ok | note: the drive's sectors are 512 bytes, "
     "Windows reads it in 4096-byte ones"},
    {9, "bridge that cuts capacity at 2 TiB",
     "FAKE HD3000 CUT | CUT000000009 | 9.09 | 4294967296 x 512 | cache 0 KB | identity SAT16 | "
     "SMART ATA via SAT16, 4 attributes | SLEEP via SAT16 | reads ok | note: the drive tells 5860533168 sectors, "
     "Windows reads 4294967296: the rest lies beyond its end"},
    {10, "USB enclosure without ATA pass-through, 4096-byte sectors",
     "FAKE External HDD | 57442D574D43 | 1021 | 732566646 x 4096 | cache 0 KB | identity made up | "
     "SMART refused | SLEEP refused | reads ok"},
    {11, "SAS disk with 4096-byte sectors",
     "FAKE SAS4KN 8TB | ZA1FAKE4 | A3C0 | 1953506646 x 4096 | cache 0 KB | identity made up | "
     "SMART refused | SLEEP refused | reads ok"},
    {12, "RAID volume failing every ATA command",
     "FAKE RAID VOLUME | RV0001 | 1.0 | 1953525168 x 512 | cache 0 KB | identity made up | "
     "SMART refused | SLEEP refused | reads ok"},
    {13, "reader with no medium", "not listed: \\\\.\\PhysicalDrive13: no capacity"},
    {14, "numbering gap below the last drive", "not listed, \\\\.\\PhysicalDrive15 and 40 still found"},
    {15, "virtual disk",
     "Msft Virtual Disk |  | 1.0 | 134217728 x 512 | cache 0 KB | identity made up | SMART refused | "
     "SLEEP refused | reads ok | note: a virtual disk (file-backed virtual (VHD/VHDX) bus): its timings "
     "measure the host's storage"},
    {40, "drive numbers beyond 15",
     "FAKE HD4000 FORTY | FORTY0000040 | 40.0 | 7814037168 x 512 | cache 0 KB | identity SMART | "
     "SMART ATA via SMART, 4 attributes | SLEEP via ATA | reads ok | \\\\.\\PhysicalDrive40 named, 64 not"},
};

int Failures = 0;

void Say(bool same, std::string_view words, const std::string& line, std::string_view expected) {
    Failures += !same;
    std::printf("%s %s: %s\n", same ? "ok  " : "FAIL", std::string(words).c_str(), line.c_str());
    if (!same) std::printf("     expected: %s\n", std::string(expected).c_str());
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string SmartText(int d) {
    TSmartReading reading;
    ReadSmart(d, reading);
    switch (reading.Outcome) {
        case TSmartOutcome::Read: {
            int attributes = 0;
            for (std::size_t slot = 0; slot < SmartSlots; ++slot) attributes += reading.Ata.Values[2 + 12 * slot] != 0;
            return "ATA via " + fake::Seen(d).SmartDataBy + ", " + std::to_string(attributes) + " attributes";
        }
        case TSmartOutcome::Nvme:
            return "NVMe health log, " + std::to_string(NvmeHealthRowsOf(reading.Nvme)[1].Signed) + " C";
        case TSmartOutcome::CannotOpen:
            return "cannot open";
        case TSmartOutcome::Refused:
            break;
    }
    return "refused";
}

std::string SpindleText(int d) {
    const drives::TOpenDrive drive(d, plat::DriveAccess::Control);
    if (!SendSpindleCommand(drive.Handle(), true)) return "refused";
    return "via " + fake::Seen(d).SpindleBy;
}

// Reads a block of the scan, 255 sectors from `first` as the identity counts them, and checks that
// each 512 bytes hold their number.
bool ReadBlock(const drives::TOpenDrive& drive, const TGeneralHDDInfo& info, std::int64_t first) {
    static std::vector<std::uint8_t> buffer(255 * 4096);
    const std::span<std::uint8_t> block = std::span(buffer).first(255 * std::size_t{info.SectorSize});
    const std::uint64_t offset = static_cast<std::uint64_t>(first) * info.SectorSize;
    if (!drive.IsOpen() || plat::ReadDrive(drive.Handle(), offset, block) != block.size()) return false;
    for (std::size_t at = 0; at < block.size(); at += 512) {
        std::uint64_t tag = 0;
        std::memcpy(&tag, block.data() + at, sizeof tag);
        if (tag != (offset + at) / 512) return false;
    }
    return true;
}

std::string ReadsText(int d, const TGeneralHDDInfo& info) {
    const drives::TOpenDrive drive(d, plat::DriveAccess::Read);
    if (!ReadBlock(drive, info, 0) || !ReadBlock(drive, info, info.Sectors - 255)) return "failed";
    return ReadBlock(drive, info, 255) ? "ok" : "ok, the block with bad sector 300 fails whole";
}

std::string DriveLine(int d) {
    TGeneralHDDInfo info;
    if (!ReadDriveIdentity(d, info)) return "not listed";
    const std::vector<std::string> remarks = plat::DriveRemarks(d);
    const std::string identifiedBy = fake::Seen(d).IdentifyBy;
    std::string line = Trimmed(info.Model) + " | " + Trimmed(info.Serial) + " | " + Trimmed(info.Firmware) + " | " +
                       std::to_string(info.Sectors) + " x " + std::to_string(info.SectorSize) + " | cache " +
                       std::to_string(info.CacheKB) + " KB | identity " +
                       (identifiedBy.empty() ? "made up" : identifiedBy) + " | SMART " + SmartText(d) + " | SLEEP " +
                       SpindleText(d) + " | reads " + ReadsText(d, info);
    for (const std::string& remark : remarks) line += " | note: " + remark;
    return line;
}

std::string NotListedLine(int d) {
    TGeneralHDDInfo info;
    if (ReadDriveIdentity(d, info)) return "listed";
    for (const std::string& note : plat::DriveProbeNotes())
        if (note.starts_with(plat::DrivePath(d) + ": ")) return "not listed: " + note.substr(0, note.find(", "));
    return "not listed, no note";
}

std::string GapLine(int d) {
    TGeneralHDDInfo info;
    const bool after = ReadDriveIdentity(15, info) && ReadDriveIdentity(40, info);
    return std::string(ReadDriveIdentity(d, info) ? "listed" : "not listed") +
           (after ? ", \\\\.\\PhysicalDrive15 and 40 still found" : ", the drives after it lost");
}

std::string CaseLine(int d) {
    if (d == 13) return NotListedLine(d);
    if (d == 14) return GapLine(d);
    std::string line = DriveLine(d);
    if (d == 40)
        line += plat::DriveNumberOfPath("\\\\.\\PhysicalDrive40") == 40 &&
                        plat::DriveNumberOfPath("\\\\.\\PhysicalDrive64") == -1
                    ? " | \\\\.\\PhysicalDrive40 named, 64 not"
                    : " | the path of 40 or 64 misread";
    return line;
}

// A process without Administrator rights: every drive refuses it, and the one note says why
// (--list ends with status 2, as whenever no drive answers).
void CheckStandardUser() {
    fake::SetStandardUser(true);
    int listed = 0;
    for (int d = 0; d < 64; ++d) {
        TGeneralHDDInfo info;
        listed += ReadDriveIdentity(d, info);
    }
    fake::SetStandardUser(false);
    const std::vector<std::string> notes = plat::DriveProbeNotes();
    const std::string line = std::to_string(listed) + " listed, " +
                             (notes.size() == 1 ? "one note: " + notes[0] : std::to_string(notes.size()) + " notes");
    const std::string expected =
        "0 listed, one note: no drive can be opened without Administrator "
        "rights: start the program with \"Run as administrator\"";
    Say(line == expected, "access denied (standard user)", line, expected);
}

// Another program (a hardware monitor) holds PhysicalDrive0 open for reading and writing: the
// scan opens it all the same.
void CheckHeldOpen() {
    const drives::TOpenDrive scan(0, plat::DriveAccess::Read);
    const std::string line = scan.IsOpen() ? "the scan opens" : "the scan cannot open";
    Say(line == "the scan opens", "held open by another program (PhysicalDrive0)", line, "the scan opens");
}

// A scan with reports takes SMART readings before and after while its own handle is open.
void CheckSmartDuringScan() {
    const drives::TOpenDrive scan(1, plat::DriveAccess::Read);
    TSmartReading before, after;
    ReadSmart(1, before);
    ReadSmart(1, after);
    const auto said = [](const TSmartReading& reading) {
        return reading.Outcome == TSmartOutcome::Read ? "read" : "lost";
    };
    const std::string line = std::string(scan.IsOpen() ? "the scan opens" : "the scan cannot open") +
                             ", SMART before " + said(before) + " and after " + said(after) +
                             " with the scan handle open";
    const std::string expected = "the scan opens, SMART before read and after read with the scan handle open";
    Say(line == expected, "scan with reports (PhysicalDrive1)", line, expected);
}

}  // namespace

int main() {
    CheckStandardUser();
    CheckHeldOpen();
    CheckSmartDuringScan();
    for (const TCase& c : DriveCases) {
        const std::string line = CaseLine(c.Number);
        Say(line == c.Expected, std::string(c.Words) + " (PhysicalDrive" + std::to_string(c.Number) + ")", line,
            c.Expected);
    }
    for (const std::string& violation : fake::Violations()) {
        ++Failures;
        std::printf("FAIL request Windows would refuse or that is not a read: %s\n", violation.c_str());
    }
    if (fake::OpenHandles() != 0) {
        ++Failures;
        std::printf("FAIL %d handles left open\n", fake::OpenHandles());
    }
    std::printf("platenhawk-drives-check: %s\n",
                Failures == 0 ? "every case as the drivers answer" : (std::to_string(Failures) + " failed").c_str());
    return Failures == 0 ? 0 : 1;
}
