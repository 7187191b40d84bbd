#include "drives/requests.h"

#include <cstring>

namespace drives {
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

}  // namespace drives
