// A fake device layer for platenhawk-drives-check.exe: the drive layer's system calls
// (drive_calls.h) answered as Windows' disk class driver (disk.sys, classpnp), its port drivers
// and the bridges behind them answer, with the records laid out as the SDK headers define them
// (records_layout.cpp pins those layouts down). Each behaviour cites what it models. The drive
// numbers:
//    0  a SATA disk on the ATA port driver (atapi): SMART requests and IDE pass-through; another
//       program (a hardware monitor) holds it open for reading and writing
//    1  a SATA disk on the AHCI miniport (storahci): SMART requests, ATA pass-through and SAT, no
//       IDE pass-through
//    2  an NVMe disk (stornvme): health log and Identify Controller through the protocol query,
//       an EUI-64 in the descriptor's serial
//    3  a USB bridge answering GOOD with no sense, refusing CK_COND on a data-in command
//    4  a USB bridge answering every command with fixed-format sense
//    5  a USB bridge answering CHECK CONDITION with 0 bytes transferred
//    6  a USB bridge leaving SenseInfoLength as it was sent
//    7  a USB bridge taking only ATA PASS-THROUGH (12)
//    8  a 512-byte drive behind a USB bridge showing 4096-byte sectors
//    9  a 3 TB drive behind a USB 2 bridge that cuts the capacity at 2 TiB
//   10  a USB enclosure without ATA pass-through, 4096-byte sectors by the geometry only
//   11  a SAS disk with 4096-byte logical sectors
//   12  a RAID volume whose driver answers the SMART version request but fails every command
//   13  a card reader with no medium
//   14  no device (a gap below the last drive)
//   15  a VHD (file-backed virtual disk)
//   40  a SATA disk on storahci beyond the first 16 numbers; no other number has a device
// Thread: main.
#pragma once

#include <string>
#include <vector>

namespace fake {

// The drive numbers that have a device or a case of their own, in order.
inline constexpr int Numbers[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 40};

// How a disk's commands were answered; empty where they were not.
struct TSeen {
    std::string IdentifyBy;    // "SMART", "ATA", "SAT16" or "SAT12": the drive answered IDENTIFY DEVICE
    std::string SmartDataBy;   // the same for SMART READ DATA
    std::string SpindleBy;     // "IDE", "ATA", "SAT16" or "SAT12": the drive took SLEEP
    bool HealthLog = false;    // the NVMe health log was returned
    bool BeyondSmart = false;  // asked for its storage properties, length or geometry, or sent SCSI
};
TSeen Seen(int number);

// From now on every open of a drive fails as for a process without Administrator rights.
void SetStandardUser(bool on);

// Each request that Windows would not have taken as sent, or that asked for anything beyond
// reading, as one line.
std::vector<std::string> Violations();

// The program's handles opened and not closed yet.
int OpenHandles();

}  // namespace fake
