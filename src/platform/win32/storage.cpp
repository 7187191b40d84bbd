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

#include "platform/win32/drive_calls.h"

namespace plat::win32 {
namespace {

constexpr ULONG SatTimeoutSeconds = 60;  // a sleeping drive may take long to spin up

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

std::uint32_t LogicalSectorSize(TDevice drive) {
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

TStorageFacts QueryStorageFacts(TDevice drive) {
    alignas(8) std::array<std::uint8_t, 1024> descriptor{};
    const DWORD got = AskProperty(drive, StorageDeviceProperty, descriptor.data(), descriptor.size());
    TStorageFacts facts = DeviceDescriptorFacts(std::span<const std::uint8_t>(descriptor).first(got));

    GET_LENGTH_INFORMATION length{};
    if (Ask(drive, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length) == sizeof length)
        facts.Bytes = static_cast<std::uint64_t>(std::max<LONGLONG>(length.Length.QuadPart, 0));

    ata::SetSectors(facts.Disk, facts.Bytes, LogicalSectorSize(drive));
    return facts;
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

ata::TAtaOutcome SendSatCommand(TDevice drive, const drives::TIdeRegs& regs, drives::TAtaData phase,
                                std::span<std::uint8_t> data) {
    const bool in = phase == drives::TAtaData::In512;
    if (in && data.size() < 512) return ata::TAtaOutcome::Failed;
    // The record Windows takes: the request, then room for the sense data and the sector.
    struct TRecord {
        SCSI_PASS_THROUGH Request;
        std::array<std::uint8_t, 32> Sense;
        std::array<std::uint8_t, 512> Data;
    } record{};
    const std::array<std::uint8_t, 16> cdb = ata::AtaPassThroughCdb(regs, phase);
    record.Request.Length = sizeof record.Request;
    record.Request.CdbLength = static_cast<UCHAR>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), record.Request.Cdb);
    record.Request.SenseInfoLength = static_cast<UCHAR>(record.Sense.size());
    record.Request.SenseInfoOffset = offsetof(TRecord, Sense);
    record.Request.DataIn = in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED;
    record.Request.DataTransferLength = in ? 512 : 0;
    record.Request.DataBufferOffset = in ? offsetof(TRecord, Data) : 0;
    record.Request.TimeOutValue = SatTimeoutSeconds;
    DWORD returned = 0;
    if (!sys::DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH, &record, sizeof record, &record, sizeof record, &returned,
                              nullptr))
        return ata::TAtaOutcome::NoAta;
    const std::size_t senseLength = std::min<std::size_t>(record.Request.SenseInfoLength, record.Sense.size());
    const std::int32_t residue =
        in ? 512 - static_cast<std::int32_t>(std::min<ULONG>(record.Request.DataTransferLength, 512)) : 0;
    const ata::TAtaOutcome outcome = ata::JudgeReply(
        ata::TScsiReply{record.Request.ScsiStatus, 0, 0, std::span(record.Sense).first(senseLength), residue});
    if (in && outcome == ata::TAtaOutcome::Done) std::copy(record.Data.begin(), record.Data.end(), data.begin());
    return outcome;
}

}  // namespace plat::win32
