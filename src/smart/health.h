// The health of a SMART reading as scripts and reports read it: a status for each ATA attribute or
// NVMe health field and for the whole drive, the attributes with their whole raw values, and what
// changed between a reading before a surface scan and one after it. Pure functions of the
// readings.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "smart/table.h"

enum class THealth { Ok, Warning, Failing };
std::string_view HealthName(THealth health);

// One occupied slot of the READ DATA sector, with the threshold the thresholds sector gives for
// its id (the first threshold slot of that id; none when no slot names it).
struct TAtaAttribute {
    std::size_t Slot = 0;
    std::uint8_t Id = 0;
    std::uint16_t Flags = 0;
    std::uint8_t Value = 0;
    std::uint8_t Worst = 0;
    std::uint64_t Raw = 0;  // all 48 bits
    std::optional<std::uint8_t> Threshold;
    THealth Health = THealth::Ok;
};

// Every slot whose id is not 0, in slot order. Failing: the value at or below a threshold that is
// not 0. Warning: a raw value above 0 of reallocated sectors (5), reallocation events (196),
// pending (197) or uncorrectable sectors (198).
std::vector<TAtaAttribute> AtaAttributes(const TSmartSectors& sectors);

// The statuses of the fifteen health rows: failing for a critical warning, a spare below its
// threshold or a percentage used of 100 and more; warning for media and data integrity errors.
std::array<THealth, NvmeHealthRows> NvmeHealth(const TNvmeLog& log);

// The worst status of a reading; nothing when it read neither SMART nor a health log.
std::optional<THealth> ReadingHealth(const TSmartReading& reading);

// The SMART readings of a surface scan that writes reports: just before its first block and just
// after its last.
struct TSmartBeforeAfter {
    bool Taken = false;
    TSmartReading Before;
    TSmartReading After;
};

// What a reading that gave nothing says about the drive.
std::string_view SmartFailure(TSmartOutcome outcome);

// The changes of the counters of surface damage (ATA 5, 187, 196, 197, 198; NVMe media and data
// integrity errors) in words, one sentence each: "during the scan: Reallocated Sector Count 0 → 12"
// (`arrow` between the two values); or why a reading gave nothing ("no SMART reading after the
// scan: the drive could not be opened", said once when neither gave anything).
std::vector<std::string> SmartChangeLines(const TSmartBeforeAfter& smart, std::string_view arrow = "\xE2\x86\x92");
