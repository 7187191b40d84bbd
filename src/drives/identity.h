// A drive's identity from its ATA IDENTIFY DEVICE data, and the detection screen.
// Thread: main.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct TGeneralHDDInfo {
    std::string Model;     // ends in one blank
    std::string Firmware;  // ends in one blank
    std::string Serial;    // leading blanks removed
    std::int32_t AddressBits = 0;
    std::int64_t Sectors = 0;        // logical sectors
    std::uint32_t SectorSize = 512;  // bytes of a logical sector
    std::int32_t CacheKB = 0;
};

void SwapBytePairs(std::span<char> buffer);
// Fills `info` from the 512 bytes of IDENTIFY DEVICE data.
void DecodeIdentity(std::span<const std::uint8_t, 512> data, TGeneralHDDInfo& info);
// True when drive `d` opened and answered the SMART version request; `info` is filled then.
bool ReadDriveIdentity(int d, TGeneralHDDInfo& info);
// The size in MB (2^20 bytes) of `sectors` logical sectors of `sectorSize` bytes, a multiple of 512.
std::int64_t SizeInMB(std::int64_t sectors, std::uint32_t sectorSize);

void ListDrives();
void DetectDrives();
