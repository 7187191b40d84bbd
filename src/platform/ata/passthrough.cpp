// ATA commands carried by a backend of its own (platform/ata/passthrough.h): the commands that may
// go, and the SCSI ATA PASS-THROUGH command blocks built and their sense data read.
// Thread: main.
#include "platform/ata/passthrough.h"

#include <algorithm>

namespace ata {
namespace {

constexpr std::uint8_t AtaPassThrough16 = 0x85, AtaPassThrough12 = 0xA1;
constexpr std::uint8_t ProtocolNonData = 3, ProtocolPioIn = 4;
constexpr std::uint8_t FlagCheckCondition = 0x20, FlagDirIn = 0x08, FlagBlocks = 0x04, LengthInCount = 0x02;
constexpr std::uint8_t StatusBusy = 0x80, StatusDeviceFault = 0x20, StatusError = 0x01;
constexpr std::uint8_t SenseIllegalRequest = 0x05, AscInvalidOpcode = 0x20;
constexpr std::uint8_t ScsiGood = 0x00, ScsiCheckCondition = 0x02;
constexpr std::uint16_t DriverSense = 0x08;
constexpr std::uint8_t SmartReadData = 0xD0, SmartReadThresholds = 0xD1, SmartEnable = 0xD8, SmartDisable = 0xD9,
                       SmartReturnStatus = 0xDA;

std::optional<TAtaReturn> DescriptorRegisters(std::span<const std::uint8_t> sense) {
    if (sense.size() < 8) return std::nullopt;
    const std::size_t end = std::min<std::size_t>(sense.size(), 8 + std::size_t{sense[7]});
    for (std::size_t at = 8; at + 2 <= end;) {
        const std::size_t length = 2 + std::size_t{sense[at + 1]};
        if (sense[at] == 0x09 && length >= 14 && at + 14 <= end)
            return TAtaReturn{sense[at + 3], sense[at + 13], sense[at + 12], sense[at + 5]};
        at += length;
    }
    return std::nullopt;
}

std::optional<TAtaReturn> FixedRegisters(std::span<const std::uint8_t> sense) {
    // Newer kernels put error, status, device and count in the information field (bytes 3-6),
    // older ones in bytes 8-11. A drive that answered never returns a status of 0.
    if (sense.size() >= 7 && (sense[3] | sense[4] | sense[5] | sense[6]) != 0) {
        if (sense[4] == 0) return std::nullopt;
        return TAtaReturn{sense[3], sense[4], sense[5], sense[6]};
    }
    if (sense.size() >= 12 && sense[9] != 0) return TAtaReturn{sense[8], sense[9], sense[10], sense[11]};
    return std::nullopt;
}

}  // namespace

std::optional<plat::TAtaData> PermittedDataPhase(const plat::TIdeRegs& regs) {
    switch (regs.bCommandReg) {
        case plat::AtaIdentify:
            return plat::TAtaData::In512;
        case plat::AtaSleep:
        case plat::AtaRecalibrate:
            return plat::TAtaData::None;
        case plat::AtaSmart:
            switch (regs.bFeaturesReg) {
                case SmartReadData:
                case SmartReadThresholds:
                    return plat::TAtaData::In512;
                case SmartEnable:
                case SmartDisable:
                case SmartReturnStatus:
                    return plat::TAtaData::None;
                default:
                    return std::nullopt;
            }
        default:
            return std::nullopt;
    }
}

TReplySource ChooseReplySource(std::uint8_t command, TAtaOutcome outcome, std::uint64_t capacityBytes) {
    if (outcome == TAtaOutcome::Done) return TReplySource::Drive;
    return command == plat::AtaIdentify && capacityBytes > 0 ? TReplySource::MadeUp : TReplySource::None;
}

bool CarryOutRequest(const plat::TAtaRequest& request, std::span<std::uint8_t> out, std::uint64_t capacityBytes,
                     const TSendAta& send, const std::function<std::array<std::uint8_t, 512>()>& madeUp) {
    const std::optional<plat::TAtaData> phase = PermittedDataPhase(request.Regs);
    if (!phase || *phase != request.Data) return false;
    if (*phase == plat::TAtaData::None) return send(request.Regs, *phase, {}) == TAtaOutcome::Done;
    const std::span<std::uint8_t> sector = plat::ReplySector(out);
    if (sector.empty()) return false;
    std::array<std::uint8_t, 512> data{};
    const TAtaOutcome outcome = send(request.Regs, *phase, data);
    switch (ChooseReplySource(request.Regs.bCommandReg, outcome, capacityBytes)) {
        case TReplySource::Drive:
            break;
        case TReplySource::MadeUp:
            data = madeUp();
            break;
        case TReplySource::None:
            return false;
    }
    std::copy(data.begin(), data.end(), sector.begin());
    return true;
}

std::optional<TSense> DecodeSense(std::span<const std::uint8_t> sense) {
    if (sense.empty()) return std::nullopt;
    const std::uint8_t code = sense[0] & 0x7F;
    if (code == 0x72 || code == 0x73) {
        if (sense.size() < 4) return std::nullopt;
        return TSense{static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3], DescriptorRegisters(sense)};
    }
    if (code == 0x70 || code == 0x71) {
        if (sense.size() < 3) return std::nullopt;
        TSense decoded{static_cast<std::uint8_t>(sense[2] & 0x0F), 0, 0, FixedRegisters(sense)};
        if (sense.size() >= 14) {
            decoded.Asc = sense[12];
            decoded.Ascq = sense[13];
        }
        return decoded;
    }
    return std::nullopt;
}

namespace {

// The protocol, and the flags of byte 2: CK_COND where the registers are the answer.
std::array<std::uint8_t, 2> ProtocolAndFlags(const plat::TIdeRegs& regs, plat::TAtaData data) {
    if (data == plat::TAtaData::In512)
        return {static_cast<std::uint8_t>(ProtocolPioIn << 1), FlagDirIn | FlagBlocks | LengthInCount};
    const bool registers = regs.bCommandReg == plat::AtaSmart && regs.bFeaturesReg == SmartReturnStatus;
    return {static_cast<std::uint8_t>(ProtocolNonData << 1), registers ? FlagCheckCondition : std::uint8_t{0}};
}

// A command block of either form: the operation code, the protocol and flags in bytes 1 and 2, and
// the features, count, LBA low, mid and high, device and command registers at `at`.
std::array<std::uint8_t, 16> PassThroughCdb(std::uint8_t opcode, const std::array<std::size_t, 7>& at,
                                            const plat::TIdeRegs& regs, plat::TAtaData data) {
    const std::array<std::uint8_t, 2> head = ProtocolAndFlags(regs, data);
    const std::array<std::uint8_t, 7> registers = {regs.bFeaturesReg, regs.bSectorCountReg, regs.bSectorNumberReg,
                                                   regs.bCylLowReg,   regs.bCylHighReg,     DeviceRegister(regs),
                                                   regs.bCommandReg};
    std::array<std::uint8_t, 16> cdb{opcode, head[0], head[1]};
    for (std::size_t i = 0; i < at.size(); ++i) cdb[at[i]] = registers[i];
    return cdb;
}

}  // namespace

std::uint8_t DeviceRegister(const plat::TIdeRegs& regs) {
    return static_cast<std::uint8_t>(regs.bDriveHeadReg & ~0x10);
}

std::array<std::uint8_t, 16> AtaPassThroughCdb(const plat::TIdeRegs& regs, plat::TAtaData data) {
    return PassThroughCdb(AtaPassThrough16, {4, 6, 8, 10, 12, 13, 14}, regs, data);
}

std::array<std::uint8_t, 16> AtaPassThrough12Cdb(const plat::TIdeRegs& regs, plat::TAtaData data) {
    return PassThroughCdb(AtaPassThrough12, {3, 4, 5, 6, 7, 8, 9}, regs, data);
}

bool IsInvalidOpcode(std::span<const std::uint8_t> sense) {
    const std::optional<TSense> decoded = DecodeSense(sense);
    return decoded && decoded->Key == SenseIllegalRequest && decoded->Asc == AscInvalidOpcode;
}

TAtaOutcome JudgeReply(const TScsiReply& reply) {
    if (reply.HostStatus != 0) return TAtaOutcome::Failed;
    if ((reply.DriverStatus & 0x0F) != 0 && (reply.DriverStatus & 0x0F) != DriverSense) return TAtaOutcome::Failed;
    if (reply.ScsiStatus != ScsiGood && reply.ScsiStatus != ScsiCheckCondition) return TAtaOutcome::Failed;
    const std::optional<TSense> sense = DecodeSense(reply.Sense);
    if (sense && sense->Ata) {
        if (sense->Ata->Status & (StatusError | StatusDeviceFault | StatusBusy)) return TAtaOutcome::Failed;
    } else if (sense) {
        return sense->Key == SenseIllegalRequest ? TAtaOutcome::NoAta : TAtaOutcome::Failed;
    } else if (reply.ScsiStatus != ScsiGood) {
        return TAtaOutcome::Failed;
    }
    // A bridge may miscount a transfer that completed; none came at all is a failure.
    const bool someCame = reply.Residue == 0 || (reply.Length > 0 && reply.Residue < reply.Length);
    return someCame ? TAtaOutcome::Done : TAtaOutcome::Failed;
}

}  // namespace ata
