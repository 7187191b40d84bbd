// The fake disks of fake_devices.h, one record each: what Windows' drivers tell of it and how
// they, and the bridge in front of it, carry ATA commands.
// Thread: main.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "fake_ata.h"

namespace fake {

struct TDisk {
    int Number = 0;
    // STORAGE_DEVICE_DESCRIPTOR
    std::string_view Vendor{}, Product{}, Revision{}, Serial{};  // empty: offset 0
    STORAGE_BUS_TYPE Bus = BusTypeUnknown;
    std::uint64_t Bytes = 0;  // IOCTL_DISK_GET_LENGTH_INFO
    std::uint32_t LogicalSector = 512;
    bool AlignmentProperty = true;  // answers StorageAccessAlignmentProperty
    bool SmartInterface = false;    // disk.sys answers SMART_GET_VERSION and the SMART requests
    bool IdePassThrough = false;    // the old ATA port drivers take IOCTL_IDE_PASS_THROUGH
    bool AtaPassThrough = false;    // the ATA port drivers and storahci take IOCTL_ATA_PASS_THROUGH
    TBridge Bridge = TBridge::None;
    bool Nvme = false;            // stornvme: the health log and Identify Controller through the protocol query
    bool NoMedium = false;        // a removable disk without its medium
    bool HeldOpen = false;        // another program holds it open for reading and writing, sharing both
    std::int64_t BadSector = -1;  // a logical sector that cannot be read
    TAtaDrive Ata{};
    DWORD Refusal = ERROR_INVALID_FUNCTION;  // the error of a request the driver does not know
};

inline constexpr std::size_t DiskCount = 16;

std::span<const TDisk, DiskCount> Disks();
// The disk of a drive number; nullptr for a number without a device.
const TDisk* FindDisk(int number);

}  // namespace fake
