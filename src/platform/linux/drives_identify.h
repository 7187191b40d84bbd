// IDENTIFY DEVICE data made up for a drive that takes no ATA command (NVMe, virtio, plain SCSI)
// or refuses IDENTIFY, from what the kernel knows about it, so that it can be listed, chosen and
// scanned.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/linux/sg_ata.h"

namespace lindrv {

struct TDiskFacts {
    std::string Model;
    std::string Serial;
    std::string Firmware;
    std::uint64_t Sectors = 0;       // logical sectors
    std::uint32_t SectorSize = 512;  // bytes of a logical sector
};

// Sets the sectors of a disk of `bytes` whose logical sectors are `logicalSectorSize` bytes: its
// own when the program reads in them (up to LargestSectorSize bytes), 512-byte ones for longer
// sectors, whose reads then go through the bounce buffer (drives_read.h).
void SetSectors(TDiskFacts& facts, std::uint64_t bytes, std::uint32_t logicalSectorSize);

// Where the data of an ATA command's reply comes from, given how the drive took the command.
enum class TReplySource {
    Drive,   // the drive answered
    Kernel,  // IDENTIFY made up from what the kernel knows
    None,    // the command fails
};

// The drive's own reply when it completed the command. When IDENTIFY DEVICE does not complete,
// whatever the reason (no ATA behind the device, an adapter or USB bridge that rejects the
// pass-through, an error), a disk for which the kernel reports a capacity gets the identity the
// kernel knows. Every other command that does not complete fails.
TReplySource ChooseReplySource(std::uint8_t command, TAtaOutcome outcome, std::uint64_t capacityBytes);

// Writes `text` into an ATA string field: blank-padded, cut at the field's length, the two
// characters of each word swapped. Characters outside printable ASCII become blanks.
void PutAtaString(std::span<std::uint8_t> field, std::string_view text);

// 512 bytes laid out as a drive returns them: serial in words 10-19, firmware in 23-26, model
// in 27-46, the 28-bit sector count in words 60-61 (0x0FFFFFFF when it does not fit), the 48-bit
// count in words 100-103 with the 48-bit feature set flagged, the sector size in word 106 (valid;
// bit 12 and words 117-118, the size in 16-bit words, when it is longer than 512 bytes) and a
// valid checksum in word 255.
std::array<std::uint8_t, 512> SynthesizeIdentify(const TDiskFacts& facts);

// The NVMe admin commands that reach a drive, both of them reading only.
inline constexpr std::uint8_t NvmeGetLogPage = 0x02, NvmeIdentify = 0x06;
// Command dword 10 of Get Log Page for `bytes` (a multiple of 4, at most 16 KiB) of log `logId`:
// the number of dwords less one in bits 16-27, the log identifier in bits 0-7.
std::uint32_t GetLogPageDword10(std::uint8_t logId, std::uint32_t bytes);

// Model, serial and firmware from an NVMe IDENTIFY CONTROLLER reply (at least 72 bytes).
TDiskFacts NvmeControllerFacts(std::span<const std::uint8_t> identify);

// Model, serial and firmware from the disk's sysfs folder <sysBlock>/<name>: device/model (or
// device/name) with device/vendor before it unless that is "ATA", device/rev, firmware_rev or
// fwrev, and the serial from device/serial, <name>/serial, the unit serial number page
// (device/vpd_pg80) or the tail of device/wwid. Without a model in sysfs the model is the device
// path.
TDiskFacts SysfsFacts(const std::string& sysBlock, std::string_view name);

}  // namespace lindrv
