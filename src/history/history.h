// A drive's history: the scan and SMART reports of a folder (and its subfolders) read back,
// grouped by drive and ordered by time, and the latest readings set against the earlier ones —
// new damaged and slow runs, SMART counters that grew, the read speed — into a status per drive.
// Reads only; used by --history and by whatever else asks how a drive is doing.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace history {

// Consecutive sectors, both ends included, and the blocks of the report's runs they hold.
struct TRun {
    std::int64_t FirstLba = 0;
    std::int64_t LastLba = 0;
    std::uint64_t Blocks = 0;
    std::uint8_t Worst = 0;  // the worst class of its blocks, as the scan's picture numbers them
};

struct TSpeed {
    std::int64_t FirstLba = 0;
    std::optional<double> MBps;  // none where no block was read whole
};

enum class TKind { Scan, Smart };

// The SMART attributes a reading keeps the raw counts of.
inline constexpr std::array<int, 4> KeptAttributes = {5, 196, 197, 198};

// One report.
struct TReading {
    TKind Kind = TKind::Scan;
    std::string Time;          // as the report gives it: ISO 8601 with the UTC offset
    std::int64_t Instant = 0;  // seconds since 1970 in UTC, for ordering
    std::string File;          // the report's path
    std::string Serial, Model;
    // Scans only.
    std::int64_t FirstLba = 0, LastLba = -1;  // the range asked for
    std::string Outcome;                      // the report's word, whatever it is
    std::uint64_t Blocks = 0, DamagedBlocks = 0, SlowBlocks = 0;
    std::uint32_t BlockSectors = 255;
    std::optional<double> MedianMBps;
    std::vector<TRun> Damaged, Slow;  // at most MostKeptRuns each; more are merged
    std::vector<TSpeed> Speed;
    // Both, when known: for a scan from its SMART reading after the last block.
    std::array<std::optional<std::uint64_t>, KeptAttributes.size()> Attributes;
    std::optional<std::uint64_t> MediaErrors, PercentageUsed, CriticalWarning;
    // "ok", "warning", "failing": a SMART report's status, or the worst of a scan's attributes after
    // it; empty when none is known.
    std::string SmartStatus;
};

// The runs of one scan kept in memory; past this many the closest ones are merged (a merged run
// counts the blocks of its parts, fewer than its sectors hold).
inline constexpr std::size_t MostKeptRuns = 16384;

struct TCounter {
    std::uint64_t First = 0, Latest = 0;
};

struct TTrend {
    std::vector<TRun> NewDamaged, NewSlow;  // at most MostKeptRuns each
    std::uint64_t NewDamagedBlocks = 0, NewSlowBlocks = 0;
    // The first and the latest value known of the kept attributes, then of the NVMe media errors;
    // none unless two readings know it.
    std::array<std::optional<TCounter>, KeptAttributes.size() + 1> Counters;
    std::optional<double> SpeedChangePercent;
    std::string Since;   // the time of the first reading compared; empty with one reading
    std::string Latest;  // the time of the latest reading
    // The latest SMART status.
    bool SmartFailing = false, SmartWarning = false;
};

enum class TStatus { Ok, Warning, Failing };

struct TDrive {
    std::string Serial, Model;
    std::vector<TReading> Readings;  // oldest first
    TTrend Trend;
    TStatus Status = TStatus::Ok;
};

struct TSkipped {
    std::string File;
    std::string Why;
};

struct THistory {
    std::vector<TDrive> Drives;  // by serial, then model
    std::vector<TSkipped> Skipped;
    std::string Error;  // why the folder could not be read; empty when it could
};

// Reads every report under `folder`. `skipped` is told of each file skipped as it is.
using TSkipNote = void (*)(const TSkipped& skipped);
THistory ReadHistory(const std::string& folder, TSkipNote skipped = nullptr);

std::string_view StatusName(TStatus status);
// 3 when a drive is failing, else 1 when one is warning, else 0; 2 when the folder could not be
// read or held no report.
int ExitStatus(const THistory& history);
// The trend in one sentence: "failing: 101 new damaged blocks at LBA 20400-20654 since 2026-11-02;
// reallocated 0 -> 9".
std::string TrendSentence(const TDrive& drive);

// A line a reading and the trend's sentence per drive.
std::string HistoryText(const THistory& history);
// The history as one JSON document (docs/schemas/history.schema.json).
std::string HistoryJson(const THistory& history);
// The trend picture of a drive: the speed curves of its scans, a strip per scan of their damaged
// and slow runs, the new ones marked; PNG.
std::vector<std::uint8_t> HistoryPng(const TDrive& drive);

// Reads one report file's members into `reading` (File set by the caller); false and why when it
// is not a report of a known format.
bool ReadReport(plat::FileHandle file, TReading& reading, std::string& why);
// The trend and status of a drive whose readings are in order.
void Judge(TDrive& drive);

}  // namespace history
