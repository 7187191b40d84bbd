// The damaged and slow blocks of one scan as runs: consecutive blocks of one class make one run.
// The latest runs stay in a small buffer in memory; older ones go to an anonymous temporary file
// and are read back in order when the reports are written, so that memory stays the same however
// many blocks fail.
// Thread: main.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "scan/engine.h"

namespace report {

// A run of consecutive blocks of one class, each of the scan's block size but maybe the last.
struct TRun {
    std::int64_t Lba = 0;       // the first block's first LBA
    std::uint64_t Sectors = 0;  // of all its blocks
    std::uint64_t Blocks = 0;
    // PUNRB: the bytes every block of the run delivered (blocks that delivered different amounts
    // make runs of their own); slow: the slowest block's milliseconds; UNRB: 0.
    std::uint32_t Value = 0;
    TBlockClass Class = bcUNRB;
    std::uint8_t Unused[3] = {};  // no padding: a run is written to the spill file as its bytes
};
static_assert(std::has_unique_object_representations_v<TRun>);

struct TCloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct TFindings {
    std::uint32_t BlockSectors = 0;
    std::vector<TRun> Recent;  // after the spilled ones; the last may still grow
    std::unique_ptr<std::FILE, TCloseFile> Spill;
    std::uint64_t Spilled = 0;  // runs in the spill file
    // The spill file could not be made or written: from then on the runs stay in memory, as a
    // report that lacks blocks is worse than one that costs memory.
    bool SpillFailed = false;
};

// Runs kept in memory before they are spilled.
inline constexpr std::size_t RecentRuns = 4096;

void ClearFindings(TFindings& findings, std::uint32_t blockSectors);
// Adds a block of a damaged or slow class (others are ignored).
void AddFinding(TFindings& findings, const TBlockResult& block);
// Hands every run to `visit` in scan order, once the scan has ended: the spill file, written
// only by appending (no seek, which a C library with 32-bit offsets could not do past 2 GiB), is
// then read from its start. Throws std::runtime_error when it cannot be read back.
void ForEachRun(const TFindings& findings, const std::function<void(const TRun&)>& visit);

}  // namespace report
