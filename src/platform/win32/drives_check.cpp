// platenhawk-drives-check.exe: the program's own detection, SMART reading, spindle command and
// reads, through the real Win32 drive layer, on the fake devices of fake_devices.h in place of
// Windows' drivers. Prints one line per drive number with what the program made of it and exits
// with 1 when any line differs from what Windows' answers should give, when a request went out
// that Windows would not have taken or that asked for more than reading, or when a handle was
// left open. Run under Wine by scripts/check-wine.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "drives/identity.h"
#include "drives/requests.h"
#include "platform/platform.h"
#include "platform/win32/fake_devices.h"
#include "power/spindle.h"
#include "smart/table.h"

namespace {

constexpr int Numbers = fake::Disks + 1;

// What each drive number should come to.
constexpr std::array<std::string_view, Numbers> Expected = {
    "FAKE HD1000SATA | WD-FAKE0000001 | 01.01A01 | 1953525168 x 512 | cache 8192 KB | identity SMART | "
    "SMART ATA via SMART, 4 attributes | SLEEP via IDE | reads ok | SMART interface only",
    "FAKE NVME SSD 512GB | S4EWNX0R123456 | 3B2QGXA7 | 1000215216 x 512 | cache 0 KB | identity made up | "
    "SMART NVMe health log, 37 C | SLEEP refused | reads ok | storage queries",
    "FAKE HD2000 USB | WD-FAKE0000002 | 80.00A80 | 3907029168 x 512 | cache 0 KB | identity SAT | "
    "SMART ATA via SAT, 4 attributes | SLEEP via SAT | reads ok | storage queries",
    "FAKE External HDD | 57442D574D43 | 1021 | 732566646 x 4096 | cache 0 KB | identity made up | "
    "SMART refused | SLEEP refused | reads ok | storage queries",
    "FAKE SAS4KN 8TB | ZA1FAKE4 | A3C0 | 1953506646 x 4096 | cache 0 KB | identity made up | "
    "SMART refused | SLEEP refused | reads ok | storage queries",
    "FAKE RAID VOLUME | RV0001 | 1.0 | 1953525168 x 512 | cache 0 KB | identity made up | "
    "SMART refused | SLEEP refused | reads ok | storage queries",
    "no drive",
};

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

// Reads the first 64 KiB and the last sector as the scan does; each sector carries its number.
std::string ReadsText(int d, const TGeneralHDDInfo& info) {
    const drives::TOpenDrive drive(d, plat::DriveAccess::Read);
    static const std::span<std::uint8_t> buffer = plat::ReadBuffer(64 * 1024);
    const auto tagged = [&](std::int64_t first, std::size_t bytes) {
        if (!drive.IsOpen() || plat::ReadDrive(drive.Handle(), static_cast<std::uint64_t>(first) * info.SectorSize,
                                               buffer.first(bytes)) != bytes)
            return false;
        for (std::size_t at = 0; at < bytes; at += info.SectorSize) {
            std::int64_t sector = 0;
            std::memcpy(&sector, buffer.data() + at, sizeof sector);
            if (sector != first + static_cast<std::int64_t>(at / info.SectorSize)) return false;
        }
        return true;
    };
    return tagged(0, buffer.size()) && tagged(info.Sectors - 1, info.SectorSize) ? "ok" : "failed";
}

std::string DriveLine(int d) {
    TGeneralHDDInfo info;
    if (!ReadDriveIdentity(d, info)) return "no drive";
    const std::string identifiedBy = fake::Seen(d).IdentifyBy;
    return Trimmed(info.Model) + " | " + Trimmed(info.Serial) + " | " + Trimmed(info.Firmware) + " | " +
           std::to_string(info.Sectors) + " x " + std::to_string(info.SectorSize) + " | cache " +
           std::to_string(info.CacheKB) + " KB | identity " + (identifiedBy.empty() ? "made up" : identifiedBy) +
           " | SMART " + SmartText(d) + " | SLEEP " + SpindleText(d) + " | reads " + ReadsText(d, info) +
           (fake::Seen(d).BeyondSmart ? " | storage queries" : " | SMART interface only");
}

}  // namespace

int main() {
    int failures = 0;
    for (int d = 0; d < Numbers; ++d) {
        const std::string line = DriveLine(d);
        const bool same = line == Expected[static_cast<std::size_t>(d)];
        failures += !same;
        std::printf("%s PhysicalDrive%d: %s\n", same ? "ok  " : "FAIL", d, line.c_str());
        if (!same) std::printf("     expected:       %s\n", std::string(Expected[static_cast<std::size_t>(d)]).c_str());
    }
    for (const std::string& violation : fake::Violations()) {
        ++failures;
        std::printf("FAIL request Windows would refuse or that is not a read: %s\n", violation.c_str());
    }
    if (fake::OpenHandles() != 0) {
        ++failures;
        std::printf("FAIL %d handles left open\n", fake::OpenHandles());
    }
    std::printf("platenhawk-drives-check: %s\n",
                failures == 0 ? "every drive number as expected" : (std::to_string(failures) + " failed").c_str());
    return failures == 0 ? 0 : 1;
}
