// The fake device layer of platenhawk-drives-check.exe (fake_devices.h).
// Thread: main.
#include "fake_devices.h"

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

#include "fake_ata.h"
#include "fake_disks.h"
#include "platform/win32/drive_calls.h"

namespace fake {
namespace {

std::size_t IndexOf(const TDisk& disk) { return static_cast<std::size_t>(&disk - Disks().data()); }

struct TOpen {
    HANDLE Handle = nullptr;
    const TDisk* Disk = nullptr;
    DWORD Access = 0;  // FILE_READ_DATA and FILE_WRITE_DATA as GENERIC_READ and GENERIC_WRITE map to them
    DWORD Share = 0;
    bool Foreign = false;  // another program's
    std::uint64_t Position = 0;
};
std::array<TOpen, 32> Opens{};
std::array<TSeen, DiskCount> SeenBy{};
std::vector<std::string> Broken;
std::uintptr_t NextHandle = 0x4000;
bool StandardUser = false;

TOpen* FindOpen(HANDLE handle) {
    for (TOpen& open : Opens)
        if (open.Handle != nullptr && open.Handle == handle) return &open;
    return nullptr;
}

TSeen& SeenOf(const TDisk& disk) { return SeenBy[IndexOf(disk)]; }

TAtaTarget Target(const TOpen& open) { return TAtaTarget{open.Disk->Ata, SeenOf(*open.Disk), open.Disk->Number}; }

// IoCheckShareAccess: an open fails with a sharing violation when it asks for access an earlier
// handle did not share, or shares less than an earlier handle holds (CreateFile, "Creating and
// Opening Files", the sharing table).
bool SharingAllows(const TDisk& disk, DWORD access, DWORD share) {
    for (const TOpen& open : Opens) {
        if (open.Handle == nullptr || open.Disk != &disk) continue;
        const bool readDenied = (access & FILE_READ_DATA) && !(open.Share & FILE_SHARE_READ);
        const bool writeDenied = (access & FILE_WRITE_DATA) && !(open.Share & FILE_SHARE_WRITE);
        const bool readHeld = (open.Access & FILE_READ_DATA) && !(share & FILE_SHARE_READ);
        const bool writeHeld = (open.Access & FILE_WRITE_DATA) && !(share & FILE_SHARE_WRITE);
        if (readDenied || writeDenied || readHeld || writeHeld) return false;
    }
    return true;
}

HANDLE AddOpen(const TDisk& disk, DWORD access, DWORD share, bool foreign) {
    for (TOpen& open : Opens)
        if (open.Handle == nullptr) {
            open = TOpen{reinterpret_cast<HANDLE>(NextHandle += 4), &disk, access, share, foreign, 0};
            return open.Handle;
        }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

// The hardware monitor's handle, open before the program starts.
void OpenForeignHandles() {
    static bool opened = false;
    if (opened) return;
    opened = true;
    for (const TDisk& disk : Disks())
        if (disk.HeldOpen) AddOpen(disk, FILE_READ_DATA | FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, true);
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

// Identify Controller data (NVMe 1.4 figure 247): serial number, model and firmware revision.
void WriteIdentifyController(const TDisk& disk, std::uint8_t* data) {
    std::fill_n(data, 4096, std::uint8_t{' '});
    const auto put = [&](std::size_t at, std::size_t length, std::string_view text) {
        std::copy_n(text.begin(), std::min(length, text.size()), data + at);
    };
    put(4, 20, "S4EWNX0R123456");
    put(24, 40, disk.Product);
    put(64, 8, disk.Revision);
}

// The NVMe health log (NVMe 1.4 figure 194): temperature, spare, used, power-on hours.
void WriteHealthLog(std::uint8_t* log) {
    std::fill_n(log, 512, std::uint8_t{0});
    log[1] = 0x36;  // 310 K
    log[2] = 0x01;
    log[3] = 100;     // spare
    log[4] = 10;      // its threshold
    log[5] = 3;       // percentage used
    log[128] = 0x2A;  // power-on hours
}

// StorageAdapterProtocolSpecificProperty (Identify Controller) and
// StorageDeviceProtocolSpecificProperty (the health log) as stornvme answers them ("Working with
// NVMe drives": the data follows the STORAGE_PROTOCOL_DATA_DESCRIPTOR at ProtocolDataOffset).
BOOL ProtocolQuery(const TDisk& disk, STORAGE_PROPERTY_ID property, const std::uint8_t* in, DWORD inLength,
                   std::uint8_t* out, DWORD outLength, DWORD* returned) {
    STORAGE_PROTOCOL_SPECIFIC_DATA asked{};
    if (inLength < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) + sizeof asked)
        return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&asked, in + offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters), sizeof asked);
    const bool identify = property == StorageAdapterProtocolSpecificProperty &&
                          asked.DataType == NVMeDataTypeIdentify && asked.ProtocolDataRequestValue == 1;
    const bool health = property == StorageDeviceProtocolSpecificProperty && asked.DataType == NVMeDataTypeLogPage &&
                        asked.ProtocolDataRequestValue == 2;
    const DWORD length = identify ? 4096 : 512;
    if (asked.ProtocolType != ProtocolTypeNvme || !(identify || health) || asked.ProtocolDataOffset < sizeof asked ||
        asked.ProtocolDataLength < length)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::size_t dataAt =
        offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) + asked.ProtocolDataOffset;
    if (outLength < dataAt + length) return Fail(ERROR_INSUFFICIENT_BUFFER);
    STORAGE_PROTOCOL_DATA_DESCRIPTOR descriptor{};
    descriptor.Version = descriptor.Size = sizeof descriptor;
    descriptor.ProtocolSpecificData = asked;
    descriptor.ProtocolSpecificData.ProtocolDataLength = length;
    std::memcpy(out, &descriptor, sizeof descriptor);
    if (identify) {
        WriteIdentifyController(disk, out + dataAt);
    } else {
        WriteHealthLog(out + dataAt);
        SeenOf(disk).HealthLog = true;
    }
    *returned = static_cast<DWORD>(dataAt + length);
    return TRUE;
}

BOOL QueryProperty(const TDisk& disk, const std::uint8_t* in, DWORD inLength, std::uint8_t* out, DWORD outLength,
                   DWORD* returned) {
    STORAGE_PROPERTY_QUERY query{};
    if (inLength < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters)) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&query, in, offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
    if (query.QueryType != PropertyStandardQuery) return Fail(ERROR_INVALID_FUNCTION);
    // The device descriptor comes from the INQUIRY data classpnp keeps: a reader answers it
    // without its medium.
    if (query.PropertyId == StorageDeviceProperty) {
        const std::vector<std::uint8_t> descriptor = DeviceDescriptor(disk);
        return Reply(descriptor.data(), descriptor.size(), out, outLength, returned, sizeof(STORAGE_DESCRIPTOR_HEADER));
    }
    if (disk.NoMedium) return Fail(ERROR_NOT_READY);
    if (query.PropertyId == StorageAccessAlignmentProperty && disk.AlignmentProperty) {
        STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment{};
        alignment.Version = alignment.Size = sizeof alignment;
        alignment.BytesPerCacheLine = 64;
        alignment.BytesPerLogicalSector = disk.LogicalSector;
        alignment.BytesPerPhysicalSector = 4096;
        return Reply(&alignment, sizeof alignment, out, outLength, returned, sizeof(STORAGE_DESCRIPTOR_HEADER));
    }
    if (disk.Nvme && (query.PropertyId == StorageDeviceProtocolSpecificProperty ||
                      query.PropertyId == StorageAdapterProtocolSpecificProperty))
        return ProtocolQuery(disk, query.PropertyId, in, inLength, out, outLength, returned);
    return Fail(disk.Refusal);
}

// The access a control code asks of the handle (CTL_CODE's RequiredAccess bits), which the I/O
// manager checks before the driver sees the request.
DWORD RequiredAccess(DWORD code) {
    const DWORD bits = (code >> 14) & 3;
    return (bits & FILE_READ_ACCESS ? FILE_READ_DATA : 0) | (bits & FILE_WRITE_ACCESS ? FILE_WRITE_DATA : 0);
}

BOOL Control(TOpen& open, DWORD code, std::uint8_t* in, DWORD inLength, std::uint8_t* out, DWORD outLength,
             DWORD* returned) {
    const TDisk& disk = *open.Disk;
    if ((open.Access & RequiredAccess(code)) != RequiredAccess(code)) return Fail(ERROR_ACCESS_DENIED);
    DWORD property = StorageDeviceProtocolSpecificProperty;
    if (code == IOCTL_STORAGE_QUERY_PROPERTY && inLength >= sizeof property)
        std::memcpy(&property, in, sizeof property);
    if (code == IOCTL_DISK_GET_LENGTH_INFO || code == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX ||
        code == IOCTL_SCSI_PASS_THROUGH || code == IOCTL_ATA_PASS_THROUGH ||
        (property != StorageDeviceProtocolSpecificProperty && property != StorageAdapterProtocolSpecificProperty))
        SeenOf(disk).BeyondSmart = true;
    switch (code) {
        case IOCTL_STORAGE_QUERY_PROPERTY:
            return QueryProperty(disk, in, inLength, out, outLength, returned);
        case IOCTL_DISK_GET_LENGTH_INFO: {
            // disk.sys: STATUS_NO_MEDIA_IN_DEVICE, which Windows gives as ERROR_NOT_READY.
            if (disk.NoMedium) return Fail(ERROR_NOT_READY);
            GET_LENGTH_INFORMATION length{};
            length.Length.QuadPart = static_cast<LONGLONG>(disk.Bytes);
            return Reply(&length, sizeof length, out, outLength, returned, sizeof length);
        }
        case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
            if (disk.NoMedium) return Fail(ERROR_NOT_READY);
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
            // disk.c DiskIoctlSmartGetVersion: only where the port answers the SMART miniport requests.
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
            if (!disk.SmartInterface) return Fail(disk.Refusal);
            return SmartRequest(Target(open), code, in, inLength, out, outLength, returned);
        case IOCTL_IDE_PASS_THROUGH:
            // Only atapi/ataport know it; storport's miniports (storahci, stornvme) and USB storage
            // refuse it as an unknown request.
            if (!disk.IdePassThrough) return Fail(ERROR_INVALID_FUNCTION);
            return IdePassThrough(Target(open), in, inLength, out, outLength, returned);
        case IOCTL_ATA_PASS_THROUGH:
            // storport passes it to an ATA miniport (storahci); stornvme and USB storage refuse it.
            if (!disk.AtaPassThrough) return Fail(ERROR_INVALID_FUNCTION);
            if (in != out) {
                Note(disk.Number, "ATA pass-through with separate input and output buffers");
                return Fail(ERROR_INVALID_PARAMETER);
            }
            return AtaPassThrough(Target(open), out, inLength, outLength, returned);
        case IOCTL_SCSI_PASS_THROUGH:
            if (in != out) {
                Note(disk.Number, "SCSI pass-through with separate input and output buffers");
                return Fail(ERROR_INVALID_PARAMETER);
            }
            return ScsiPassThrough(Target(open), disk.Bridge, out, inLength, outLength, returned);
        default:
            Note(disk.Number, "control code " + std::to_string(code));
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

TSeen Seen(int number) {
    const TDisk* disk = FindDisk(number);
    return disk ? SeenOf(*disk) : TSeen{};
}

void SetStandardUser(bool on) { StandardUser = on; }

std::vector<std::string> Violations() { return Broken; }

int OpenHandles() {
    return static_cast<int>(
        std::count_if(Opens.begin(), Opens.end(), [](const TOpen& o) { return o.Handle && !o.Foreign; }));
}

}  // namespace fake

namespace plat::win32::sys {

using fake::FindOpen;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
    fake::OpenForeignHandles();
    constexpr std::string_view Prefix = "\\\\.\\PhysicalDrive";
    const std::string_view name(path);
    int number = -1;
    if (name.starts_with(Prefix) && name.size() > Prefix.size() && name.size() <= Prefix.size() + 2) {
        number = 0;
        for (const char c : name.substr(Prefix.size())) number = c >= '0' && c <= '9' ? number * 10 + (c - '0') : -100;
    }
    const fake::TDisk* disk = fake::FindDisk(number);
    if (!disk) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING || (access & GENERIC_READ) == 0 || (access & ~(GENERIC_READ | GENERIC_WRITE))) {
        fake::Broken.push_back(std::string(name) + " opened other than to read an existing device");
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((share & FILE_SHARE_READ) == 0 || (share & FILE_SHARE_WRITE) == 0)
        fake::Broken.push_back(std::string(name) + " opened without sharing both reading and writing");
    // A physical drive's security descriptor grants Administrators and SYSTEM alone.
    if (fake::StandardUser) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD rights = FILE_READ_DATA | (access & GENERIC_WRITE ? FILE_WRITE_DATA : 0);
    if (!fake::SharingAllows(*disk, rights, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return fake::AddOpen(*disk, rights, share, false);
}

BOOL CloseHandle(HANDLE handle) {
    fake::TOpen* open = FindOpen(handle);
    if (!open || open->Foreign) {
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

// disk.c DiskReadWriteVerification and classpnp ClassReadWrite: a read must start and end on a
// logical sector boundary and end within the disk, or it fails whole (STATUS_INVALID_PARAMETER);
// a medium error completes the whole request with an error and no bytes (ERROR_CRC); a reader
// without its medium fails (ERROR_NOT_READY). Every 512 bytes begin with their number, counted in
// 512-byte units whatever the sector size.
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED) {
    fake::TOpen* open = FindOpen(handle);
    *read = 0;
    if (!open) return fake::Fail(ERROR_INVALID_HANDLE);
    const fake::TDisk& disk = *open->Disk;
    if (disk.NoMedium) return fake::Fail(ERROR_NOT_READY);
    if (open->Position % disk.LogicalSector != 0 || length % disk.LogicalSector != 0 ||
        open->Position + length > disk.Bytes)
        return fake::Fail(ERROR_INVALID_PARAMETER);
    const std::uint64_t first = open->Position / disk.LogicalSector;
    const std::uint64_t count = length / disk.LogicalSector;
    if (disk.BadSector >= 0 && static_cast<std::uint64_t>(disk.BadSector) >= first &&
        static_cast<std::uint64_t>(disk.BadSector) < first + count)
        return fake::Fail(ERROR_CRC);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::fill_n(bytes, length, static_cast<std::uint8_t>(disk.Number));
    for (DWORD at = 0; at < length; at += 512) {
        const std::uint64_t tag = (open->Position + at) / 512;
        std::memcpy(bytes + at, &tag, sizeof tag);
    }
    open->Position += length;
    *read = length;
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
