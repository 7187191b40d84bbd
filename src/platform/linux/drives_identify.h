// What the kernel knows about a disk that takes no ATA command (NVMe, virtio, plain SCSI) or
// refuses IDENTIFY, from which platform/ata/identify.h makes up its IDENTIFY data.
// Thread: main.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/ata/identify.h"

namespace lindrv {

// The NVMe admin commands that reach a drive, both of them reading only.
inline constexpr std::uint8_t NvmeGetLogPage = 0x02, NvmeIdentify = 0x06;
// Command dword 10 of Get Log Page for `bytes` (a multiple of 4, at most 16 KiB) of log `logId`:
// the number of dwords less one in bits 16-27, the log identifier in bits 0-7.
std::uint32_t GetLogPageDword10(std::uint8_t logId, std::uint32_t bytes);

// Model, serial and firmware from an NVMe IDENTIFY CONTROLLER reply (at least 72 bytes).
ata::TDiskFacts NvmeControllerFacts(std::span<const std::uint8_t> identify);

// Model, serial and firmware from the disk's sysfs folder <sysBlock>/<name>: device/model (or
// device/name) with device/vendor before it (ata::ModelOf), device/rev, firmware_rev or
// fwrev, and the serial from device/serial, <name>/serial, the unit serial number page
// (device/vpd_pg80) or the tail of device/wwid. Without a model in sysfs the model is the device
// path.
ata::TDiskFacts SysfsFacts(const std::string& sysBlock, std::string_view name);

}  // namespace lindrv
