// What Windows knows about a disk that does not answer its SMART interface (an NVMe disk on the
// inbox driver, a disk behind a USB bridge, a SATA disk on a driver without SMART), and the ATA
// commands carried to such a disk as SCSI ATA PASS-THROUGH (16) through IOCTL_SCSI_PASS_THROUGH.
// Called by the drive layer (drives.cpp) from whichever thread controls a drive.
#pragma once

#include <cstdint>
#include <span>

#include "platform/ata/identify.h"
#include "platform/ata/passthrough.h"

namespace plat::win32 {

// A device HANDLE; this header leaves the Windows headers out, whose SMART macros would replace
// the names of drives/requests.h.
using TDevice = void*;

struct TStorageFacts {
    ata::TDiskFacts Disk;       // model, serial, firmware; the capacity in logical sectors
    std::uint64_t Bytes = 0;    // the capacity; 0 when Windows gives none
    std::uint32_t BusType = 0;  // STORAGE_BUS_TYPE; 0 (unknown) when Windows gives none
};

// Asks an open disk for its StorageDeviceProperty, its length (IOCTL_DISK_GET_LENGTH_INFO) and its
// logical sector size (StorageAccessAlignmentProperty, else IOCTL_DISK_GET_DRIVE_GEOMETRY_EX; else
// 512 bytes). A device without a length, as Wine's stand-in disk, gets none.
TStorageFacts QueryStorageFacts(TDevice drive);

// True for a bus whose disks take SCSI commands that a SCSI / ATA translation may carry on to an
// ATA drive: USB, SCSI, SAS, SATA and RAID adapters.
bool CarriesSat(std::uint32_t busType);

// Sends a permitted ATA command (ata::PermittedDataPhase) as ATA PASS-THROUGH (16). `data`
// receives the sector of a data-in command and must hold 512 bytes then. NoAta when the device
// refuses the pass-through request itself.
ata::TAtaOutcome SendSatCommand(TDevice drive, const drives::TIdeRegs& regs, drives::TAtaData phase,
                                std::span<std::uint8_t> data);

}  // namespace plat::win32
