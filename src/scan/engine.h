// The surface scan: timed block reads, their classes, the re-check of slow blocks.
#pragma once

#include <cstdint>
#include <span>

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

// Scans ScanStartLba through ScanEndLba; false only when the drive could not be opened.
bool ScanSurface();
