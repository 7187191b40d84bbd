#include "platform/win32/fake_devices.h"

// clang-format off
// windows.h first: the other SDK headers build on its types.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/win32/drive_calls.h"
#include "platform/win32/fake_ata.h"

namespace fake {
namespace {

struct TDisk {
    // STORAGE_DEVICE_DESCRIPTOR
    std::string_view Vendor{}, Product{}, Revision{}, Serial{};  // empty: offset 0
    STORAGE_BUS_TYPE Bus = BusTypeUnknown;
    std::uint64_t Bytes = 0;
    std::uint32_t LogicalSector = 512;
    bool AlignmentProperty = true;  // answers StorageAccessAlignmentProperty
    bool SmartInterface = false;    // the driver answers SMART_GET_VERSION and the ATA requests
    bool Sat = false;               // the bridge translates ATA PASS-THROUGH (16)
    bool HealthLog = false;         // NVMe: the health log through the protocol-specific query
    TAtaDrive Ata{};
    DWORD Refusal = ERROR_INVALID_FUNCTION;  // the error of a request the driver does not know
};

const std::array<TDisk, Disks> DiskTable = {{
    {.Product = "FAKE HD1000SATA",
     .Revision = "01.01A01",
     .Serial = "WD-FAKE0000001",
     .Bus = BusTypeSata,
     .Bytes = 1953525168ull * 512,
     .SmartInterface = true,
     .Ata = {"FAKE HD1000SATA", "WD-FAKE0000001", "01.01A01", 1953525168, 16384}},
    {.Vendor = "NVMe",
     .Product = "FAKE NVME SSD 512GB",
     .Revision = "3B2QGXA7",
     .Serial = "S4EWNX0R123456",
     .Bus = BusTypeNvme,
     .Bytes = 1000215216ull * 512,
     .HealthLog = true},
    {.Vendor = "FAKE",
     .Product = "USB3 SATA Dock",
     .Revision = "0204",
     .Serial = "0123456789AB",
     .Bus = BusTypeUsb,
     .Bytes = 3907029168ull * 512,
     .Sat = true,
     .Ata = {"FAKE HD2000 USB", "WD-FAKE0000002", "80.00A80", 3907029168},
     .Refusal = ERROR_NOT_SUPPORTED},
    {.Vendor = "FAKE",
     .Product = "External HDD",
     .Revision = "1021",
     .Serial = "57442D574D43",
     .Bus = BusTypeUsb,
     .Bytes = 732566646ull * 4096,
     .LogicalSector = 4096,
     .AlignmentProperty = false,
     .Refusal = ERROR_NOT_SUPPORTED},
    {.Vendor = "FAKE",
     .Product = "SAS4KN 8TB",
     .Revision = "A3C0",
     .Serial = "ZA1FAKE4",
     .Bus = BusTypeSas,
     .Bytes = 1953506646ull * 4096,
     .LogicalSector = 4096},
    {.Vendor = "FAKE",
     .Product = "RAID VOLUME",
     .Revision = "1.0",
     .Serial = "RV0001",
     .Bus = BusTypeRAID,
     .Bytes = 1953525168ull * 512,
     .SmartInterface = true,
     .Ata = {.Answers = false}},
}};

struct TOpen {
    HANDLE Handle = nullptr;
    int Disk = -1;
    bool Write = false;  // opened for write access: control requests that need it may pass
    std::uint64_t Position = 0;
};
std::array<TOpen, 32> Opens{};
std::array<TSeen, Disks> SeenBy{};
std::vector<std::string> Broken;
std::uintptr_t NextHandle = 0x4000;

TOpen* FindOpen(HANDLE handle) {
    for (TOpen& open : Opens)
        if (open.Handle != nullptr && open.Handle == handle) return &open;
    return nullptr;
}

TAtaTarget Target(const TOpen& open) {
    const auto n = static_cast<std::size_t>(open.Disk);
    return TAtaTarget{DiskTable[n].Ata, SeenBy[n], open.Disk};
}

// The bytes of a STORAGE_DEVICE_DESCRIPTOR with its texts after it.
std::vector<std::uint8_t> DeviceDescriptor(const TDisk& disk) {
    std::vector<std::uint8_t> bytes(sizeof(STORAGE_DEVICE_DESCRIPTOR));
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    const auto text = [&](std::string_view value, DWORD& offset) {
        if (value.empty()) return;
        offset = static_cast<DWORD>(bytes.size());
        bytes.insert(bytes.end(), value.begin(), value.end());
        bytes.push_back(0);
    };
    text(disk.Vendor, descriptor.VendorIdOffset);
    text(disk.Product, descriptor.ProductIdOffset);
    text(disk.Revision, descriptor.ProductRevisionOffset);
    text(disk.Serial, descriptor.SerialNumberOffset);
    descriptor.Version = sizeof descriptor;
    descriptor.Size = static_cast<DWORD>(bytes.size());
    descriptor.DeviceType = 0;  // direct access
    descriptor.RemovableMedia = disk.Bus == BusTypeUsb;
    descriptor.BusType = disk.Bus;
    std::memcpy(bytes.data(), &descriptor, sizeof descriptor);
    return bytes;
}

// Copies a reply that may be longer than the output buffer, as the storage drivers do: what fits.
BOOL Reply(const void* data, std::size_t size, void* out, DWORD outLength, DWORD* returned, DWORD least) {
    if (outLength < least) return Fail(ERROR_INSUFFICIENT_BUFFER);
    *returned = static_cast<DWORD>(std::min<std::size_t>(size, outLength));
    std::memcpy(out, data, *returned);
    return TRUE;
}

BOOL QueryProperty(const TOpen& open, const std::uint8_t* in, DWORD inLength, std::uint8_t* out, DWORD outLength,
                   DWORD* returned) {
    const TDisk& disk = DiskTable[static_cast<std::size_t>(open.Disk)];
    STORAGE_PROPERTY_QUERY query{};
    if (inLength < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters)) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&query, in, offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
    if (query.QueryType != PropertyStandardQuery) return Fail(ERROR_INVALID_FUNCTION);
    if (query.PropertyId == StorageDeviceProperty) {
        const std::vector<std::uint8_t> descriptor = DeviceDescriptor(disk);
        return Reply(descriptor.data(), descriptor.size(), out, outLength, returned, sizeof(STORAGE_DESCRIPTOR_HEADER));
    }
    if (query.PropertyId == StorageAccessAlignmentProperty && disk.AlignmentProperty) {
        STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment{};
        alignment.Version = alignment.Size = sizeof alignment;
        alignment.BytesPerCacheLine = 64;
        alignment.BytesPerLogicalSector = disk.LogicalSector;
        alignment.BytesPerPhysicalSector = 4096;
        return Reply(&alignment, sizeof alignment, out, outLength, returned, sizeof(STORAGE_DESCRIPTOR_HEADER));
    }
    if (query.PropertyId == StorageDeviceProtocolSpecificProperty && disk.HealthLog) {
        STORAGE_PROTOCOL_SPECIFIC_DATA asked{};
        if (inLength < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) + sizeof asked)
            return Fail(ERROR_INVALID_PARAMETER);
        std::memcpy(&asked, in + offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters), sizeof asked);
        if (asked.ProtocolType != ProtocolTypeNvme || asked.DataType != NVMeDataTypeLogPage ||
            asked.ProtocolDataRequestValue != 2 || asked.ProtocolDataOffset < sizeof asked ||
            asked.ProtocolDataLength < 512)
            return Fail(ERROR_INVALID_PARAMETER);
        const std::size_t logAt =
            offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) + asked.ProtocolDataOffset;
        if (outLength < logAt + 512) return Fail(ERROR_INSUFFICIENT_BUFFER);
        STORAGE_PROTOCOL_DATA_DESCRIPTOR descriptor{};
        descriptor.Version = descriptor.Size = sizeof descriptor;
        descriptor.ProtocolSpecificData = asked;
        descriptor.ProtocolSpecificData.ProtocolDataLength = 512;
        std::memcpy(out, &descriptor, sizeof descriptor);
        std::uint8_t* log = out + logAt;
        std::fill_n(log, 512, std::uint8_t{0});
        log[1] = 0x36;  // 310 K
        log[2] = 0x01;
        log[3] = 100;     // spare
        log[4] = 10;      // its threshold
        log[5] = 3;       // percentage used
        log[128] = 0x2A;  // power-on hours
        SeenBy[static_cast<std::size_t>(open.Disk)].HealthLog = true;
        *returned = static_cast<DWORD>(logAt + 512);
        return TRUE;
    }
    return Fail(disk.Refusal);
}

BOOL Control(TOpen& open, DWORD code, std::uint8_t* in, DWORD inLength, std::uint8_t* out, DWORD outLength,
             DWORD* returned) {
    const TDisk& disk = DiskTable[static_cast<std::size_t>(open.Disk)];
    DWORD property = StorageDeviceProtocolSpecificProperty;
    if (code == IOCTL_STORAGE_QUERY_PROPERTY && inLength >= sizeof property)
        std::memcpy(&property, in, sizeof property);
    if (code == IOCTL_DISK_GET_LENGTH_INFO || code == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX ||
        code == IOCTL_SCSI_PASS_THROUGH || property != StorageDeviceProtocolSpecificProperty)
        SeenBy[static_cast<std::size_t>(open.Disk)].BeyondSmart = true;
    switch (code) {
        case IOCTL_STORAGE_QUERY_PROPERTY:
            return QueryProperty(open, in, inLength, out, outLength, returned);
        case IOCTL_DISK_GET_LENGTH_INFO: {
            GET_LENGTH_INFORMATION length{};
            length.Length.QuadPart = static_cast<LONGLONG>(disk.Bytes);
            return Reply(&length, sizeof length, out, outLength, returned, sizeof length);
        }
        case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
            DISK_GEOMETRY_EX geometry{};
            geometry.Geometry.MediaType = FixedMedia;
            geometry.Geometry.TracksPerCylinder = 255;
            geometry.Geometry.SectorsPerTrack = 63;
            geometry.Geometry.BytesPerSector = disk.LogicalSector;
            geometry.Geometry.Cylinders.QuadPart = static_cast<LONGLONG>(disk.Bytes / (255 * 63 * disk.LogicalSector));
            geometry.DiskSize.QuadPart = static_cast<LONGLONG>(disk.Bytes);
            return Reply(&geometry, offsetof(DISK_GEOMETRY_EX, Data), out, outLength, returned,
                         offsetof(DISK_GEOMETRY_EX, Data));
        }
        case SMART_GET_VERSION: {
            if (!disk.SmartInterface) return Fail(disk.Refusal);
            GETVERSIONINPARAMS version{};
            version.bVersion = 1;
            version.bRevision = 1;
            version.bIDEDeviceMap = 1;
            version.fCapabilities = CAP_ATA_ID_CMD | CAP_SMART_CMD;
            return Reply(&version, sizeof version, out, outLength, returned, sizeof version);
        }
        case SMART_SEND_DRIVE_COMMAND:
        case SMART_RCV_DRIVE_DATA:
            if (!open.Write) return Fail(ERROR_ACCESS_DENIED);
            if (!disk.SmartInterface) return Fail(disk.Refusal);
            return SmartRequest(Target(open), code, in, inLength, out, outLength, returned);
        case IOCTL_IDE_PASS_THROUGH:
            if (!open.Write) return Fail(ERROR_ACCESS_DENIED);
            if (!disk.SmartInterface) return Fail(disk.Refusal);
            return IdePassThrough(Target(open), in, inLength, out, outLength, returned);
        case IOCTL_SCSI_PASS_THROUGH:
            if (!open.Write) return Fail(ERROR_ACCESS_DENIED);
            if (in != out) {
                Note(open.Disk, "SCSI pass-through with separate input and output buffers");
                return Fail(ERROR_INVALID_PARAMETER);
            }
            return ScsiPassThrough(Target(open), disk.Sat, out, inLength, outLength, returned);
        default:
            Note(open.Disk, "control code " + std::to_string(code));
            return Fail(ERROR_INVALID_FUNCTION);
    }
}

}  // namespace

void Note(int number, const std::string& what) {
    Broken.push_back("PhysicalDrive" + std::to_string(number) + ": " + what);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

TSeen Seen(int number) { return SeenBy[static_cast<std::size_t>(number)]; }

std::vector<std::string> Violations() { return Broken; }

int OpenHandles() {
    return static_cast<int>(std::count_if(Opens.begin(), Opens.end(), [](const TOpen& o) { return o.Handle; }));
}

}  // namespace fake

namespace plat::win32::sys {

using fake::DiskTable;
using fake::FindOpen;
using fake::Opens;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
    constexpr std::string_view Prefix = "\\\\.\\PhysicalDrive";
    const std::string_view name(path);
    int number = -1;
    if (name.starts_with(Prefix) && name.size() > Prefix.size() && name.size() <= Prefix.size() + 2) {
        number = 0;
        for (const char c : name.substr(Prefix.size())) number = c >= '0' && c <= '9' ? number * 10 + (c - '0') : -100;
    }
    if (number < 0 || number >= fake::Disks) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING || (access & GENERIC_READ) == 0 || (share & FILE_SHARE_READ) == 0) {
        fake::Broken.push_back(std::string(name) + " opened other than to read an existing device");
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    for (fake::TOpen& open : Opens)
        if (open.Handle == nullptr) {
            open =
                fake::TOpen{reinterpret_cast<HANDLE>(fake::NextHandle += 4), number, (access & GENERIC_WRITE) != 0, 0};
            return open.Handle;
        }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

BOOL CloseHandle(HANDLE handle) {
    fake::TOpen* open = FindOpen(handle);
    if (!open) {
        fake::Broken.push_back("a handle closed that is not open");
        return fake::Fail(ERROR_INVALID_HANDLE);
    }
    *open = fake::TOpen{};
    return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG low, PLONG high, DWORD method) {
    fake::TOpen* open = FindOpen(handle);
    if (!open || method != FILE_BEGIN || !high) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    open->Position = static_cast<std::uint64_t>(static_cast<std::uint32_t>(*high)) << 32 | static_cast<DWORD>(low);
    return static_cast<DWORD>(low);
}

// A raw disk reads whole logical sectors from a sector boundary; each sector's first eight bytes
// hold its number, the rest the drive number.
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED) {
    fake::TOpen* open = FindOpen(handle);
    if (!open) return fake::Fail(ERROR_INVALID_HANDLE);
    const fake::TDisk& disk = DiskTable[static_cast<std::size_t>(open->Disk)];
    if (open->Position % disk.LogicalSector != 0 || length % disk.LogicalSector != 0)
        return fake::Fail(ERROR_INVALID_PARAMETER);
    const std::uint64_t available = open->Position < disk.Bytes ? disk.Bytes - open->Position : 0;
    const DWORD done = static_cast<DWORD>(std::min<std::uint64_t>(length, available));
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (DWORD at = 0; at < done; at += disk.LogicalSector) {
        const std::uint64_t sector = (open->Position + at) / disk.LogicalSector;
        std::fill_n(bytes + at, disk.LogicalSector, static_cast<std::uint8_t>(open->Disk));
        std::memcpy(bytes + at, &sector, sizeof sector);
    }
    open->Position += done;
    *read = done;
    return TRUE;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                     LPDWORD returned, LPOVERLAPPED) {
    fake::TOpen* open = FindOpen(handle);
    if (!open) return fake::Fail(ERROR_INVALID_HANDLE);
    DWORD unused = 0;
    return fake::Control(*open, code, static_cast<std::uint8_t*>(in), inLength, static_cast<std::uint8_t*>(out),
                         outLength, returned ? returned : &unused);
}

}  // namespace plat::win32::sys
