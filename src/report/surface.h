// The surface of a scan in stretches, for heat maps and the read-speed curve: the range cut into
// at most 65,536 stretches of the same number of blocks (but the last), each with what its blocks
// gave as they arrived: how many were read, the worst class, their times and the bytes and time
// of the full reads. A fixed-size table, whatever the drive's size. Filled as the scan reads, read
// by the reports after the scan.
// Thread: main.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan/engine.h"

namespace report {

inline constexpr std::uint64_t MostStretches = 65'536;
inline constexpr std::uint64_t MostSpeedPoints = 1'024;

struct TStretch {
    std::uint64_t Read = 0;         // blocks read
    std::uint8_t Worst = 0;         // the worst class read, when Read > 0
    std::uint64_t TotalMicros = 0;  // of every block read
    std::uint64_t MostMicros = 0;
    std::uint64_t FullBytes = 0;  // of the full reads only
    std::uint64_t FullMicros = 0;
};

struct TSurface {
    std::int64_t FirstLba = 0;
    std::int64_t LastLba = -1;  // inclusive
    std::uint32_t BlockSectors = 0;
    std::uint32_t SectorSize = 512;
    std::uint64_t RangeBlocks = 0;
    std::uint64_t BlocksPerStretch = 1;
    std::vector<TStretch> Stretches;
};

// A point of the read-speed curve: the mean speed of the full reads of a part of the range, none
// when no block of that part was read whole (or the clock saw no time pass).
struct TSpeedPoint {
    std::int64_t FirstLba = 0;
    std::int64_t LastLba = 0;
    std::optional<double> MBps;  // 10^6 bytes a second
};

void BeginSurface(TSurface& surface, std::int64_t firstLba, std::int64_t lastLba, std::uint32_t blockSectors,
                  std::uint32_t sectorSize);
void AddSurfaceBlock(TSurface& surface, const TBlockResult& block);

// The first and last LBA of stretch `index`.
std::int64_t StretchFirstLba(const TSurface& surface, std::size_t index);
std::int64_t StretchLastLba(const TSurface& surface, std::size_t index);

// At most MostSpeedPoints points, each over the same number of consecutive stretches (but the last).
std::vector<TSpeedPoint> SpeedPoints(const TSurface& surface);

// first_lba,last_lba,blocks,read,worst_class,mean_ms,max_ms,mb_s: a row per stretch, the last
// four empty where nothing (or nothing whole) was read.
std::string SurfaceCsv(const TSurface& surface);

}  // namespace report
