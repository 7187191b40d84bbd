// The drive contract of the seam: building and decoding the device-control records, reading the
// capacity of IDENTIFY DEVICE data.
// Thread: main.
#include "platform/drive_records.h"

#include <algorithm>
#include <cstring>

namespace plat {
namespace {

void PutRegs(std::uint8_t* at, const TIdeRegs& r) {
    const std::uint8_t bytes[8] = {r.bFeaturesReg, r.bSectorCountReg, r.bSectorNumberReg, r.bCylLowReg,
                                   r.bCylHighReg,  r.bDriveHeadReg,   r.bCommandReg,      r.bReserved};
    std::memcpy(at, bytes, sizeof bytes);
}

TIdeRegs GetRegs(const std::uint8_t* at) { return TIdeRegs{at[0], at[1], at[2], at[3], at[4], at[5], at[6], at[7]}; }

void PutU32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::uint32_t Word32At(std::span<const std::uint8_t, 512> data, std::size_t byte) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data[byte + static_cast<std::size_t>(i)];
    return v;
}

std::uint16_t WordAt(std::span<const std::uint8_t, 512> data, std::size_t word) {
    return static_cast<std::uint16_t>(data[2 * word] | (data[2 * word + 1] << 8));
}

// Word 106 tells, when its bits 15-14 are 01, whether the logical sector is longer than 256 words
// (bit 12); words 117-118 then give its length in words. Anything else is a 512-byte sector.
std::uint32_t LogicalSectorSize(std::span<const std::uint8_t, 512> data) {
    const std::uint16_t w106 = WordAt(data, 106);
    if ((w106 & 0xC000) != 0x4000 || (w106 & 0x1000) == 0) return 512;
    const std::uint64_t bytes = std::uint64_t{Word32At(data, 234)} * 2;
    if (bytes < 512 || bytes > LargestSectorSize || (bytes & (bytes - 1)) != 0) return 512;
    return static_cast<std::uint32_t>(bytes);
}

}  // namespace

std::uint8_t DriveHeadFor(int drive) { return static_cast<std::uint8_t>(0xA0 | ((drive & 1) << 4)); }

void WriteSendCmd(TSendCmdRecord& record, std::uint32_t bufferSize, const TIdeRegs& regs, int drive) {
    PutU32(record.data(), bufferSize);
    PutRegs(record.data() + 4, regs);
    record[12] = static_cast<std::uint8_t>(drive);
}

TIdePassThrough BuildIdePassThrough(const TIdeRegs& regs) {
    TIdePassThrough record{};
    PutRegs(record.data(), regs);
    return record;
}

TIdeRegs SmartEnableRegs(int drive) { return TIdeRegs{0xD8, 1, 1, 0x4F, 0xC2, DriveHeadFor(drive), AtaSmart, 0}; }

TIdeRegs IdentifyRegs(int drive) { return TIdeRegs{0, 1, 1, 0, 0, DriveHeadFor(drive), AtaIdentify, 0}; }

std::optional<TAtaRequest> DecodeAtaRequest(std::uint32_t code, std::span<const std::uint8_t> in) {
    if (code == SMART_SEND_DRIVE_COMMAND || code == SMART_RCV_DRIVE_DATA) {
        if (in.size() < 13) return std::nullopt;
        return TAtaRequest{GetRegs(in.data() + 4), in[12],
                           code == SMART_RCV_DRIVE_DATA ? TAtaData::In512 : TAtaData::None};
    }
    if (code == IOCTL_IDE_PASS_THROUGH) {
        if (in.size() < 12 || GetU32(in.data() + 8) != 0) return std::nullopt;
        return TAtaRequest{GetRegs(in.data()), 0, TAtaData::None};
    }
    return std::nullopt;
}

std::span<std::uint8_t> ReplySector(std::span<std::uint8_t> out) {
    if (out.size() < IdentifyReplyLength) return {};
    return out.subspan(SendCmdOutDataOffset, 512);
}

TIdentifyCapacity IdentifyCapacity(std::span<const std::uint8_t, 512> data) {
    TIdentifyCapacity capacity;
    const std::uint32_t lba28 = Word32At(data, 120);
    if (lba28 == 0x0FFFFFFF) {
        std::int64_t lba48 = 0;
        for (int i = 5; i >= 0; --i) lba48 = (lba48 << 8) | data[200 + static_cast<std::size_t>(i)];
        capacity.Sectors = lba48;
        capacity.AddressBits = 48;
    } else {
        capacity.Sectors = lba28;
        capacity.AddressBits = 28;
    }
    capacity.SectorSize = LogicalSectorSize(data);
    return capacity;
}

namespace {

constexpr std::uint32_t StorageDeviceProtocolSpecificProperty = 50, PropertyStandardQuery = 0;
constexpr std::uint32_t ProtocolTypeNvme = 3, NVMeDataTypeLogPage = 2;
constexpr std::uint32_t DescriptorBytes = ProtocolDataAt + ProtocolDataBytes;  // STORAGE_PROTOCOL_DATA_DESCRIPTOR

// The STORAGE_PROTOCOL_SPECIFIC_DATA fields, in 32-bit words from its start.
enum : std::size_t {
    ProtocolType,
    DataType,
    RequestValue,
    RequestSubValue,
    DataOffset,
    DataLength,
};

std::uint32_t ProtocolField(std::span<const std::uint8_t> record, std::size_t field) {
    return GetU32(record.data() + ProtocolDataAt + 4 * field);
}

// The STORAGE_PROTOCOL_SPECIFIC_DATA of the health log, in the query and in its reply alike.
void PutHealthLogProtocolData(std::uint8_t* record) {
    std::uint8_t* protocol = record + ProtocolDataAt;
    PutU32(protocol + 4 * ProtocolType, ProtocolTypeNvme);
    PutU32(protocol + 4 * DataType, NVMeDataTypeLogPage);
    PutU32(protocol + 4 * RequestValue, NvmeHealthLogPage);
    PutU32(protocol + 4 * DataOffset, ProtocolDataBytes);
    PutU32(protocol + 4 * DataLength, NvmeLogBytes);
}

}  // namespace

TNvmeQuery BuildNvmeHealthQuery() {
    TNvmeQuery query{};
    PutU32(query.data(), StorageDeviceProtocolSpecificProperty);
    PutU32(query.data() + 4, PropertyStandardQuery);
    PutHealthLogProtocolData(query.data());
    return query;
}

bool IsNvmeHealthQuery(std::uint32_t code, std::span<const std::uint8_t> in) {
    return code == IOCTL_STORAGE_QUERY_PROPERTY && in.size() >= DescriptorBytes &&
           GetU32(in.data()) == StorageDeviceProtocolSpecificProperty &&
           GetU32(in.data() + 4) == PropertyStandardQuery && ProtocolField(in, ProtocolType) == ProtocolTypeNvme &&
           ProtocolField(in, DataType) == NVMeDataTypeLogPage && ProtocolField(in, RequestValue) == NvmeHealthLogPage &&
           ProtocolField(in, RequestSubValue) == 0 && ProtocolField(in, DataOffset) == ProtocolDataBytes &&
           ProtocolField(in, DataLength) >= NvmeLogBytes;
}

std::span<const std::uint8_t> NvmeHealthReply(std::span<const std::uint8_t> out) {
    if (out.size() < DescriptorBytes || GetU32(out.data()) != DescriptorBytes ||
        GetU32(out.data() + 4) < DescriptorBytes)
        return {};
    const std::uint64_t offset = ProtocolField(out, DataOffset), length = ProtocolField(out, DataLength);
    if (offset < ProtocolDataBytes || length < NvmeLogBytes || ProtocolDataAt + offset + NvmeLogBytes > out.size())
        return {};
    return out.subspan(ProtocolDataAt + offset, NvmeLogBytes);
}

bool WriteNvmeHealthReply(std::span<std::uint8_t> out, std::span<const std::uint8_t, NvmeLogBytes> log) {
    if (out.size() < NvmeQueryBytes) return false;
    std::fill_n(out.begin(), DescriptorBytes, std::uint8_t{0});
    PutU32(out.data(), DescriptorBytes);
    PutU32(out.data() + 4, DescriptorBytes);
    PutHealthLogProtocolData(out.data());
    std::copy(log.begin(), log.end(), out.begin() + DescriptorBytes);
    return true;
}

}  // namespace plat
