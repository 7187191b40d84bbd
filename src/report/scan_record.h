// What one surface scan found, kept while it runs for the reports and the unattended summary: the
// damaged and slow blocks as runs, the eight counters (64-bit, whatever the screen's), the surface
// as picture cells and as stretches for the speed curve. Memory is bounded: the runs spill to a
// temporary file, the picture has at most 2^20 cells and the surface at most 65,536 stretches.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "report/findings.h"
#include "report/surface.h"
#include "scan/engine.h"
#include "smart/health.h"

namespace report {

// The drive a report is about, its texts without the blanks that pad them.
struct TDriveFacts {
    int Number = 0;  // as the user chose it, from 1
    std::string Model;
    std::string Serial;
    std::string Firmware;
    std::int64_t Sectors = 0;
    std::uint32_t SectorSize = 512;
    std::vector<std::string> Notes;  // what the system adds (plat::DriveRemarks)
};

// A picture cell that no block of the scan has reached.
inline constexpr std::uint8_t UnreadCell = 0xFF;
inline constexpr std::uint64_t MostCells = std::uint64_t{1} << 20;

struct TScanRecord {
    TDriveFacts Drive;
    plat::DateTime Started;
    plat::DateTime Finished;
    std::int64_t FirstLba = 0;
    std::int64_t LastLba = 0;  // inclusive
    bool Recheck = true;
    bool Stopped = false;
    // The first LBA of the block whose read found the drive gone, or -1: no block from there on
    // counts as read.
    std::int64_t GoneLba = -1;
    std::uint64_t RangeBlocks = 0;  // in the range
    std::uint64_t Blocks = 0;       // read
    std::int64_t ReachedLba = 0;    // the first LBA after the last block read; FirstLba before any
    std::array<std::uint64_t, 8> Classes{};
    TFindings Findings;  // the damaged and slow blocks
    // The surface: one cell per group of BlocksPerCell consecutive blocks of the range, holding the
    // worst class read in it.
    std::uint64_t BlocksPerCell = 1;
    std::vector<std::uint8_t> Cells;
    TSmartBeforeAfter Smart;  // with reports only
    TSurface Surface;
};

enum class TVerdict { Healthy, Slow, Damaged, Incomplete };

// Starts a record of a scan of [firstLba, lastLba] in blocks of `blockSectors` of Drive.SectorSize.
void BeginScan(TScanRecord& record, std::int64_t firstLba, std::int64_t lastLba, std::uint32_t blockSectors);
void AddBlock(TScanRecord& record, const TBlockResult& block, std::uint32_t blockSectors);
// "damaged" when a block failed, else "slow" when one is in the three slow classes.
TVerdict Verdict(const std::array<std::uint64_t, 8>& classes);
// The scan's verdict: a scan that ended before its range did (stopped, or its drive gone) and
// found nothing is no proof of health, and is "incomplete".
TVerdict Verdict(const TScanRecord& record);
bool EndedEarly(const TScanRecord& record);

}  // namespace report
