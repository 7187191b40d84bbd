// The program's one global state record and its two resets. Only the main thread changes it; the
// clock and ticker threads read the output handle, the ticker also ScanRunning and the start-up
// texts (app/threads.h).
// Threads: main, clock, ticker.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "drives/identity.h"
#include "platform/platform.h"

inline constexpr int MaxDrives = 16;        // the detection screen's
inline constexpr int MaxListedDrives = 64;  // --list, --scan and --smart reach further
inline constexpr std::uint32_t MaxBlockSectors = 255;
inline constexpr std::uint32_t DefaultSectorSize = 512;

struct TAppState {
    plat::Handle InputHandle = 0;
    plat::Handle OutputHandle = 0;
    plat::Coord CursorPos;          // last position given to SetCursor
    std::int32_t CurrentDrive = 0;  // the user's number while choosing, then the 0-based drive
    std::string TitleText;

    // the surface scan
    std::array<std::uint32_t, 6> LatencyCounts{};
    std::uint32_t PartialBlocks = 0;
    std::uint32_t UnreadableBlocks = 0;
    std::uint32_t BlockSectors = 0;
    std::int64_t Percent = 0;
    std::int64_t ShownPercent = 0;
    std::int64_t CurrentLba = 0;
    std::int64_t ScanStartLba = 0;
    std::int64_t ScanEndLba = 0;  // last LBA of the scan range
    std::int64_t BlockEndLba = 0;
    std::uint32_t ReadBytes = 0;
    std::uint32_t ReadMs = 0;
    std::uint64_t ReadStartTick = 0;  // the fine clock at the start of the last read
    std::uint8_t ScanAborted = 0;
    std::uint8_t RecheckSlowBlocks = 0;
    std::uint32_t RecheckDelayMs = 0;
    std::atomic<std::uint8_t> ScanRunning = 0;  // read by the ticker thread

    // the drive table: entry n holds the sector count of physical drive n - 1, 0 = not found
    std::int32_t DriveCount = 0;
    std::array<std::int64_t, MaxListedDrives + 1> DriveSectors{};
    std::array<std::uint32_t, MaxListedDrives + 1> DriveSectorSizes{};  // bytes of a logical sector, by the same entry
    plat::DriveHandle DriveHandle = plat::InvalidDrive;
    TGeneralHDDInfo DriveIdentity;  // of the chosen drive, as its panel or header last read it

    // the scan screen
    plat::Coord MapCursor;  // X: cells in the current map line, Y: index of that line (row 5 + Y)
    std::uint8_t DamagedHeaderPending = 0;
    std::int16_t DamagedListCount = 0;

    // texts decoded at start-up, never changed afterwards
    std::string BannerText;
    std::string ForumUrl;

    std::uint8_t MenuChoice = 0;
    std::uint8_t MenuCursor = 0;  // 4 = no item highlighted yet
    std::array<std::uint16_t, 30> ListedAttributeIds{};
};

extern TAppState App;

void ResetState();
void ResetOperation();
