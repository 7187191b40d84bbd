// What Windows knows about a disk, and the ATA commands carried to one that does not answer its
// SMART interface (storage.h).
// Thread: main.
#include "platform/win32/storage.h"

// clang-format off
// windows.h first: the other SDK headers build on its types.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_records.h"
#include "platform/win32/drive_calls.h"

namespace plat::win32 {
namespace {

constexpr ULONG AtaTimeoutSeconds = 60;  // a sleeping drive may take long to spin up
constexpr UCHAR ScsiCheckCondition = 0x02;
constexpr std::uint8_t StatusBusy = 0x80, StatusDeviceFault = 0x20, StatusError = 0x01;
constexpr ULONG NvmeIdentifyController = 1;  // NVME_IDENTIFY_CNS_CONTROLLER
constexpr std::size_t NvmeIdentifyLength = 4096;

template <typename T>
T Field(std::span<const std::uint8_t> bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// A text of the device descriptor at `offset`: up to its terminating zero or the end of the reply.
std::string TextAt(std::span<const std::uint8_t> reply, DWORD offset) {
    if (offset == 0 || offset >= reply.size()) return {};
    const std::span<const std::uint8_t> rest = reply.subspan(offset);
    const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    return ata::CleanText(
        std::string_view(reinterpret_cast<const char*>(rest.data()), static_cast<std::size_t>(end - rest.begin())));
}

// A control request with a fixed-size input; the bytes that came back, 0 when it failed.
DWORD Ask(HANDLE drive, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength) {
    DWORD returned = 0;
    if (!sys::DeviceIoControl(drive, code, const_cast<void*>(in), inLength, out, outLength, &returned, nullptr))
        return 0;
    return std::min(returned, outLength);
}

DWORD AskProperty(HANDLE drive, STORAGE_PROPERTY_ID property, void* out, DWORD outLength) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = property;
    query.QueryType = PropertyStandardQuery;
    return Ask(drive, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, out, outLength);
}

std::uint32_t AnySectorSize(TDevice drive) {
    STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment{};
    if (AskProperty(drive, StorageAccessAlignmentProperty, &alignment, sizeof alignment) >=
        offsetof(STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR, BytesPerPhysicalSector))
        return alignment.BytesPerLogicalSector;
    alignas(8) std::array<std::uint8_t, 256> geometry{};
    if (Ask(drive, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry.data(), geometry.size()) >=
        offsetof(DISK_GEOMETRY_EX, DiskSize))
        return Field<DWORD>(geometry, offsetof(DISK_GEOMETRY_EX, Geometry) + offsetof(DISK_GEOMETRY, BytesPerSector));
    return 512;
}

// The logical sector size; 512 bytes for one that is no power of two up to LargestSectorSize.
std::uint32_t LogicalSectorSize(TDevice drive) {
    const std::uint32_t size = AnySectorSize(drive);
    return size >= 512 && size <= plat::LargestSectorSize && (size & (size - 1)) == 0 ? size : 512;
}

// The serial number (bytes 4-23), model (24-63) and firmware (64-71) of an NVMe disk's Identify
// Controller data, asked for as StorageAdapterProtocolSpecificProperty; unchanged without it.
void ReadNvmeIdentity(TDevice drive, ata::TDiskFacts& disk) {
    constexpr std::size_t QueryLength = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    constexpr std::size_t Asked = offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData);
    std::vector<std::uint8_t> buffer(Asked + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) + NvmeIdentifyLength);
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageAdapterProtocolSpecificProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_PROTOCOL_SPECIFIC_DATA asked{};
    asked.ProtocolType = ProtocolTypeNvme;
    asked.DataType = NVMeDataTypeIdentify;
    asked.ProtocolDataRequestValue = NvmeIdentifyController;
    asked.ProtocolDataOffset = sizeof asked;
    asked.ProtocolDataLength = NvmeIdentifyLength;
    std::memcpy(buffer.data(), &query, QueryLength);
    std::memcpy(buffer.data() + QueryLength, &asked, sizeof asked);
    const DWORD got = Ask(drive, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), QueryLength + sizeof asked, buffer.data(),
                          static_cast<DWORD>(buffer.size()));
    if (got < Asked + sizeof asked) return;
    const auto answered = Field<STORAGE_PROTOCOL_SPECIFIC_DATA>(buffer, Asked);
    const std::size_t at = Asked + answered.ProtocolDataOffset;
    if (answered.ProtocolDataOffset < sizeof asked || answered.ProtocolDataLength < 72 || at + 72 > got) return;
    const auto text = [&](std::size_t from, std::size_t length) {
        return ata::CleanText(std::string_view(reinterpret_cast<const char*>(buffer.data() + at + from), length));
    };
    if (text(4, 20).empty()) return;
    disk.Serial = text(4, 20);
    disk.Model = text(24, 40);
    disk.Firmware = text(64, 8);
}

// The model (vendor and product id, ata::ModelOf), serial number, product revision and bus type
// of a STORAGE_DEVICE_DESCRIPTOR, `reply` being the bytes that came back. Each text is trimmed; an
// offset of 0 or one outside the reply means absent.
TStorageFacts DeviceDescriptorFacts(std::span<const std::uint8_t> reply) {
    TStorageFacts facts;
    constexpr std::size_t Fixed = offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength);
    if (reply.size() < Fixed) return facts;
    const DWORD size = Field<DWORD>(reply, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size));
    if (size >= Fixed && size < reply.size()) reply = reply.first(size);
    const auto text = [&](std::size_t field) { return TextAt(reply, Field<DWORD>(reply, field)); };
    facts.Disk.Model = ata::ModelOf(text(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset)),
                                    text(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset)));
    facts.Disk.Firmware = text(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset));
    facts.Disk.Serial = text(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset));
    facts.BusType = Field<DWORD>(reply, offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));
    return facts;
}

}  // namespace

TReadGeometry QueryReadGeometry(TDevice drive) {
    TReadGeometry geometry;
    GET_LENGTH_INFORMATION length{};
    if (Ask(drive, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length) == sizeof length)
        geometry.Bytes = static_cast<std::uint64_t>(std::max<LONGLONG>(length.Length.QuadPart, 0));
    geometry.SectorSize = LogicalSectorSize(drive);
    return geometry;
}

TStorageFacts QueryStorageFacts(TDevice drive) {
    alignas(8) std::array<std::uint8_t, 1024> descriptor{};
    const DWORD got = AskProperty(drive, StorageDeviceProperty, descriptor.data(), descriptor.size());
    TStorageFacts facts = DeviceDescriptorFacts(std::span<const std::uint8_t>(descriptor).first(got));
    if (facts.BusType == BusTypeNvme) ReadNvmeIdentity(drive, facts.Disk);
    const TReadGeometry geometry = QueryReadGeometry(drive);
    facts.Bytes = geometry.Bytes;
    ata::SetSectors(facts.Disk, facts.Bytes, geometry.SectorSize);
    return facts;
}

std::string VirtualBusName(std::uint32_t busType) {
    switch (busType) {
        case BusTypeiScsi:
            return "iSCSI";
        case BusTypeVirtual:
            return "virtual";
        case BusTypeFileBackedVirtual:
            return "file-backed virtual (VHD/VHDX)";
        case BusTypeSpaces:
            return "Storage Spaces";
        default:
            return {};
    }
}

bool CarriesSat(std::uint32_t busType) {
    switch (busType) {
        case BusTypeScsi:
        case BusTypeUsb:
        case BusTypeRAID:
        case BusTypeSas:
        case BusTypeSata:
            return true;
        default:
            return false;
    }
}

ata::TAtaOutcome SendAtaPassThrough(TDevice drive, const plat::TIdeRegs& regs, plat::TAtaData phase,
                                    std::span<std::uint8_t> data) {
    const bool in = phase == plat::TAtaData::In512;
    if (in && data.size() < 512) return ata::TAtaOutcome::Failed;
    // The record Windows takes: the request, then the sector.
    struct TRecord {
        ATA_PASS_THROUGH_EX Request;
        std::array<std::uint8_t, 512> Data;
    } record{};
    record.Request.Length = sizeof record.Request;
    record.Request.AtaFlags = ATA_FLAGS_DRDY_REQUIRED | (in ? ATA_FLAGS_DATA_IN : 0);
    record.Request.DataTransferLength = in ? 512 : 0;
    record.Request.DataBufferOffset = in ? offsetof(TRecord, Data) : 0;
    record.Request.TimeOutValue = AtaTimeoutSeconds;
    UCHAR* task = record.Request.CurrentTaskFile;
    task[0] = regs.bFeaturesReg;
    task[1] = regs.bSectorCountReg;
    task[2] = regs.bSectorNumberReg;
    task[3] = regs.bCylLowReg;
    task[4] = regs.bCylHighReg;
    task[5] = ata::DeviceRegister(regs);
    task[6] = regs.bCommandReg;
    DWORD returned = 0;
    if (!sys::DeviceIoControl(drive, IOCTL_ATA_PASS_THROUGH, &record, sizeof record, &record, sizeof record, &returned,
                              nullptr))
        return ata::TAtaOutcome::NoAta;
    // The task file comes back with the status in place of the command.
    if (task[6] & (StatusError | StatusDeviceFault | StatusBusy)) return ata::TAtaOutcome::Failed;
    if (in) std::copy(record.Data.begin(), record.Data.end(), data.begin());
    return ata::TAtaOutcome::Done;
}

namespace {

// One command block through IOCTL_SCSI_PASS_THROUGH; `invalidOpcode` tells whether the device
// refused its operation code.
ata::TAtaOutcome SendCdb(TDevice drive, const std::array<std::uint8_t, 16>& cdb, UCHAR cdbLength, bool in,
                         std::span<std::uint8_t> data, bool& invalidOpcode) {
    // The record Windows takes: the request, then room for the sense data and the sector.
    struct TRecord {
        SCSI_PASS_THROUGH Request;
        std::array<std::uint8_t, 32> Sense;
        std::array<std::uint8_t, 512> Data;
    } record{};
    record.Request.Length = sizeof record.Request;
    record.Request.CdbLength = cdbLength;
    std::copy_n(cdb.begin(), cdbLength, record.Request.Cdb);
    record.Request.SenseInfoLength = static_cast<UCHAR>(record.Sense.size());
    record.Request.SenseInfoOffset = offsetof(TRecord, Sense);
    record.Request.DataIn = in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED;
    record.Request.DataTransferLength = in ? 512 : 0;
    record.Request.DataBufferOffset = in ? offsetof(TRecord, Data) : 0;
    record.Request.TimeOutValue = AtaTimeoutSeconds;
    DWORD returned = 0;
    if (!sys::DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH, &record, sizeof record, &record, sizeof record, &returned,
                              nullptr))
        return ata::TAtaOutcome::NoAta;
    const auto sense =
        std::span<const std::uint8_t>(record.Sense).first(std::min<std::size_t>(record.Request.SenseInfoLength, 32));
    invalidOpcode = ata::IsInvalidOpcode(sense);
    // The count a CHECK CONDITION comes back with is not the transfer's: bridges give 0 for a
    // sector they delivered. Only the status and the sense judge such a reply.
    const std::int32_t residue =
        in && record.Request.ScsiStatus != ScsiCheckCondition
            ? 512 - static_cast<std::int32_t>(std::min<ULONG>(record.Request.DataTransferLength, 512))
            : 0;
    const ata::TAtaOutcome outcome =
        ata::JudgeReply(ata::TScsiReply{record.Request.ScsiStatus, 0, 0, sense, residue, in ? 512 : 0});
    if (in && outcome == ata::TAtaOutcome::Done) std::copy(record.Data.begin(), record.Data.end(), data.begin());
    return outcome;
}

}  // namespace

ata::TAtaOutcome SendSatCommand(TDevice drive, const plat::TIdeRegs& regs, plat::TAtaData phase,
                                std::span<std::uint8_t> data) {
    const bool in = phase == plat::TAtaData::In512;
    if (in && data.size() < 512) return ata::TAtaOutcome::Failed;
    bool invalidOpcode = false;
    const ata::TAtaOutcome outcome = SendCdb(drive, ata::AtaPassThroughCdb(regs, phase), 16, in, data, invalidOpcode);
    if (!invalidOpcode) return outcome;
    return SendCdb(drive, ata::AtaPassThrough12Cdb(regs, phase), 12, in, data, invalidOpcode);
}

}  // namespace plat::win32
