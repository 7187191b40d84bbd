// What Windows knows about a disk (its descriptor, length and sector size; an NVMe disk's Identify
// Controller data), and the ATA commands carried to a disk that does not answer its SMART
// interface: IOCTL_ATA_PASS_THROUGH (the AHCI and ATA port drivers), else SCSI ATA PASS-THROUGH
// (16), or (12) where the bridge knows only that, through IOCTL_SCSI_PASS_THROUGH. Called by the
// drive layer (drives.cpp).
// Thread: main.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/ata/identify.h"
#include "platform/ata/passthrough.h"

namespace plat::win32 {

// The drive numbers tried: \\.\PhysicalDrive0 to 63.
inline constexpr int DriveNumbers = 64;

// A device HANDLE; this header leaves the Windows headers out, whose SMART macros would replace
// the names of platform/drive_records.h.
using TDevice = void*;

// How Windows reads a disk: its length and the size of its logical sector.
struct TReadGeometry {
    std::uint64_t Bytes = 0;         // 0 when Windows gives none
    std::uint32_t SectorSize = 512;  // reads start and end on multiples of it
};

struct TStorageFacts {
    ata::TDiskFacts Disk;       // model, serial, firmware; the capacity in Windows' logical sectors
    std::uint64_t Bytes = 0;    // the capacity; 0 when Windows gives none
    std::uint32_t BusType = 0;  // STORAGE_BUS_TYPE; 0 (unknown) when Windows gives none
};

// Asks an open disk for its length (IOCTL_DISK_GET_LENGTH_INFO) and its logical sector size
// (StorageAccessAlignmentProperty, else IOCTL_DISK_GET_DRIVE_GEOMETRY_EX; else 512 bytes). A device
// without a length, as Wine's stand-in disk, gets none.
TReadGeometry QueryReadGeometry(TDevice drive);

// The read geometry, the StorageDeviceProperty and, for an NVMe disk, the serial number, model and
// firmware of its Identify Controller data (the descriptor's serial is often an EUI-64 there).
TStorageFacts QueryStorageFacts(TDevice drive);

// The name of a bus whose disks are not drives but storage of the host (VHD and VHDX files,
// Storage Spaces, iSCSI targets, virtual adapters): "file-backed virtual (VHD/VHDX)", "Storage
// Spaces", ...; empty for any other bus.
std::string VirtualBusName(std::uint32_t busType);

// True for a bus whose disks take SCSI commands that a SCSI / ATA translation may carry on to an
// ATA drive: USB, SCSI, SAS, SATA and RAID adapters.
bool CarriesSat(std::uint32_t busType);

// Sends a permitted ATA command (ata::PermittedDataPhase) through IOCTL_ATA_PASS_THROUGH. `data`
// receives the sector of a data-in command and must hold 512 bytes then. NoAta when the driver
// refuses the request itself.
ata::TAtaOutcome SendAtaPassThrough(TDevice drive, const plat::TIdeRegs& regs, plat::TAtaData phase,
                                    std::span<std::uint8_t> data);

// The same as ATA PASS-THROUGH (16), and as (12) when the device refuses the 16-byte operation code.
ata::TAtaOutcome SendSatCommand(TDevice drive, const plat::TIdeRegs& regs, plat::TAtaData phase,
                                std::span<std::uint8_t> data);

}  // namespace plat::win32
