#include "platform/linux/sg_ata.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

namespace lindrv {
namespace {

constexpr std::uint8_t AtaPassThrough16 = 0x85;
constexpr std::uint8_t ProtocolNonData = 3, ProtocolPioIn = 4;
constexpr std::uint8_t FlagCheckCondition = 0x20, FlagDirIn = 0x08, FlagBlocks = 0x04, LengthInCount = 0x02;
constexpr std::uint8_t StatusBusy = 0x80, StatusDeviceFault = 0x20, StatusError = 0x01;
constexpr std::uint8_t SenseIllegalRequest = 0x05;
constexpr std::uint8_t ScsiGood = 0x00, ScsiCheckCondition = 0x02;
constexpr std::uint16_t DriverSense = 0x08;
constexpr std::uint8_t SmartReadData = 0xD0, SmartReadThresholds = 0xD1, SmartEnable = 0xD8, SmartDisable = 0xD9,
                       SmartReturnStatus = 0xDA;
constexpr unsigned CommandTimeoutMs = 60000;  // a sleeping drive may take long to spin up

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

std::optional<drives::TAtaData> PermittedDataPhase(const drives::TIdeRegs& regs) {
    switch (regs.bCommandReg) {
        case drives::AtaIdentify:
            return drives::TAtaData::In512;
        case drives::AtaSleep:
        case drives::AtaRecalibrate:
            return drives::TAtaData::None;
        case drives::AtaSmart:
            switch (regs.bFeaturesReg) {
                case SmartReadData:
                case SmartReadThresholds:
                    return drives::TAtaData::In512;
                case SmartEnable:
                case SmartDisable:
                case SmartReturnStatus:
                    return drives::TAtaData::None;
                default:
                    return std::nullopt;
            }
        default:
            return std::nullopt;
    }
}

std::array<std::uint8_t, 16> AtaPassThroughCdb(const drives::TIdeRegs& regs, drives::TAtaData data) {
    const bool in = data == drives::TAtaData::In512;
    std::array<std::uint8_t, 16> cdb{};
    cdb[0] = AtaPassThrough16;
    cdb[1] = static_cast<std::uint8_t>((in ? ProtocolPioIn : ProtocolNonData) << 1);
    cdb[2] = in ? FlagCheckCondition | FlagDirIn | FlagBlocks | LengthInCount : FlagCheckCondition;
    cdb[4] = regs.bFeaturesReg;
    cdb[6] = regs.bSectorCountReg;
    cdb[8] = regs.bSectorNumberReg;
    cdb[10] = regs.bCylLowReg;
    cdb[12] = regs.bCylHighReg;
    // One block device is one drive: the master/slave bit of the Windows numbering means nothing.
    cdb[13] = static_cast<std::uint8_t>(regs.bDriveHeadReg & ~0x10);
    cdb[14] = regs.bCommandReg;
    return cdb;
}

TAtaOutcome JudgeReply(const TSgReply& reply) {
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
    return reply.Residue == 0 ? TAtaOutcome::Done : TAtaOutcome::Failed;
}

TAtaOutcome SendAtaCommand(int fd, const drives::TIdeRegs& regs, drives::TAtaData phase, std::span<std::uint8_t> data) {
    const bool in = phase == drives::TAtaData::In512;
    if (in && data.size() < 512) return TAtaOutcome::Failed;
    std::array<std::uint8_t, 16> cdb = AtaPassThroughCdb(regs, phase);
    std::array<std::uint8_t, 64> sense{};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.cmdp = cdb.data();
    io.mx_sb_len = static_cast<unsigned char>(sense.size());
    io.sbp = sense.data();
    io.dxfer_direction = in ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxfer_len = in ? 512 : 0;
    io.dxferp = in ? data.data() : nullptr;
    io.timeout = CommandTimeoutMs;
    int rc;
    do rc = ioctl(fd, SG_IO, &io);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) return TAtaOutcome::NoAta;
    return JudgeReply(
        TSgReply{io.status, io.host_status, io.driver_status,
                 std::span<const std::uint8_t>(sense).first(std::min<std::size_t>(io.sb_len_wr, sense.size())),
                 in ? io.resid : 0});
}

}  // namespace lindrv
