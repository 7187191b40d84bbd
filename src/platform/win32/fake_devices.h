// A fake device layer for platenhawk-drives-check.exe: the drive layer's system calls
// (drive_calls.h) answered as Windows answers them for six drive numbers, with the records laid
// out as the SDK headers define them (records_check.cpp pins those layouts down). Main thread only.
//   0  a SATA disk whose driver answers the SMART requests
//   1  an NVMe disk on the inbox driver: no SMART interface, the health log through the query
//   2  a disk in a USB dock whose bridge carries ATA PASS-THROUGH (16)
//   3  a disk in a USB enclosure whose bridge refuses it, 4096-byte sectors given only by the
//      drive geometry
//   4  a SAS disk with 4096-byte logical sectors (the access alignment property)
//   5  a RAID volume whose driver answers the SMART version request but fails every command
//   6  a number with no device; nor has any number above it
#pragma once

#include <string>
#include <vector>

namespace fake {

inline constexpr int Disks = 6;

// How a disk's commands were answered; empty where they were not.
struct TSeen {
    std::string IdentifyBy;    // "SMART" or "SAT": the drive answered IDENTIFY DEVICE
    std::string SmartDataBy;   // "SMART" or "SAT": the drive answered SMART READ DATA
    std::string SpindleBy;     // "IDE" or "SAT": the drive took SLEEP
    bool HealthLog = false;    // the NVMe health log was returned
    bool BeyondSmart = false;  // asked for its storage properties, length or geometry, or sent SCSI
};
TSeen Seen(int number);

// Each request that Windows would not have taken as sent, or that asked for anything beyond
// reading, as one line.
std::vector<std::string> Violations();

// Handles opened and not closed yet.
int OpenHandles();

}  // namespace fake
