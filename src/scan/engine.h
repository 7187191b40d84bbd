// The surface scan: timed block reads, their classes, the re-check of slow blocks. The scan runs on
// the main thread itself; no thread of its own reads the drive.
// Thread: main.
#pragma once

#include <cstdint>
#include <span>
#include <string>

enum TBlockClass : std::uint8_t {
    bcUnder5ms,
    bcUnder30ms,
    bcUnder50ms,
    bcUnder150ms,
    bcUnder300ms,
    bcOver300ms,
    bcPUNRB,  // read short
    bcUNRB,   // read nothing
};

// The latency class of a full read that took `ms` milliseconds; the bounds are inclusive.
TBlockClass LatencyClass(std::uint32_t ms);

std::uint32_t ReadBlock(std::uint16_t sectors, std::span<std::uint8_t> buffer, std::int64_t lba,
                        std::uint32_t sectorSize);

// One block as the scan classified it.
struct TBlockResult {
    std::int64_t Lba = 0;  // its first LBA
    std::uint32_t Sectors = 0;
    TBlockClass Class = bcUnder5ms;
    std::uint32_t Ms = 0;      // the time it was classified by (the average of two reads after a re-check)
    std::uint32_t Bytes = 0;   // what the read that decided it delivered
    std::uint64_t Micros = 0;  // Ms to the microsecond, for the read speed of full blocks
    bool DriveGone = false;    // the read failed because the drive went away (unplugged, cut short)
};

// What shows a running scan: the scan screen, or a progress line.
struct TScanView {
    bool (*StopRequested)();                 // asked before each block is read
    void (*BlockDone)(const TBlockResult&);  // the block is classified and counted
    void (*PercentChanged)();                // ShownPercent has a new value
    bool EndsWhenDriveGone = false;          // the scan ends at the first block the drive went away at
};

// Whoever else follows every scan (the reports): told when the blocks start, of each block, and
// when the scan ends (ScanAborted tells how). All on the main thread.
struct TScanListener {
    void (*Started)();
    void (*BlockDone)(const TBlockResult&);
    void (*Finished)();
};
void SetScanListener(const TScanListener* listener);

// Reads ScanStartLba through ScanEndLba from the open DriveHandle in blocks of up to 255 of the
// drive's sectors, times, re-checks, classifies and counts them, until the range ends, the view
// asks to stop (ScanAborted = 1) or, for a view that ends there, the drive goes away. A block whose
// read found the drive gone is told as such (DriveGone) and counted in its class as any other.
// The system is kept awake meanwhile (plat::HoldAwake), its reports written included.
void ScanBlocks(const TScanView& view);
// Why the system was not kept awake during the last scan; empty when it was.
const std::string& ScanAwakeNote();

// The whole scan on the scan screen; false only when the drive could not be opened.
bool ScanSurface();
