// ATA commands carried by the SCSI generic interface: ATA PASS-THROUGH (16) through SG_IO, and
// the sense data in which the kernel hands the drive's registers back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "drives/requests.h"

namespace lindrv {

// The registers a drive returns at the end of a command.
struct TAtaReturn {
    std::uint8_t Error = 0;
    std::uint8_t Status = 0;
    std::uint8_t Device = 0;
    std::uint8_t Count = 0;
    friend bool operator==(const TAtaReturn&, const TAtaReturn&) = default;
};

struct TSense {
    std::uint8_t Key = 0;
    std::uint8_t Asc = 0;
    std::uint8_t Ascq = 0;
    std::optional<TAtaReturn> Ata;  // the registers, when the sense data carries them
};

// Decodes descriptor sense (72h/73h, the registers from the ATA Status Return descriptor 09h) and
// fixed sense (70h/71h, the registers in bytes 3-6 as newer kernels place them, or in bytes 8-11
// as older kernels do). Nothing when the bytes are no sense data.
std::optional<TSense> DecodeSense(std::span<const std::uint8_t> sense);

// The commands the drive layer passes on, each with its data phase: IDENTIFY DEVICE, SMART READ
// DATA and READ THRESHOLDS read one sector; SMART ENABLE, DISABLE and RETURN STATUS, SLEEP and
// RECALIBRATE move no data. Nothing for any other command: no command that could change the
// medium ever reaches a drive.
std::optional<drives::TAtaData> PermittedDataPhase(const drives::TIdeRegs& regs);

// The ATA PASS-THROUGH (16) command block: PIO data-in of one 512-byte sector counted in the
// sector count register, or non-data; CK_COND set so that the registers always come back.
std::array<std::uint8_t, 16> AtaPassThroughCdb(const drives::TIdeRegs& regs, drives::TAtaData data);

enum class TAtaOutcome {
    Done,    // the drive completed the command
    Failed,  // the drive or the transport reported an error
    NoAta,   // nothing behind the device takes ATA commands
};

// What SG_IO reported for one pass-through command.
struct TSgReply {
    std::uint8_t ScsiStatus = 0;
    std::uint16_t HostStatus = 0;
    std::uint16_t DriverStatus = 0;
    std::span<const std::uint8_t> Sense;
    std::int32_t Residue = 0;  // bytes of the data phase not transferred
};

TAtaOutcome JudgeReply(const TSgReply& reply);

// Issues the command on an open block device. `data` receives the sector of a data-in command
// and must hold 512 bytes then; it is ignored for a non-data command.
TAtaOutcome SendAtaCommand(int fd, const drives::TIdeRegs& regs, drives::TAtaData phase, std::span<std::uint8_t> data);

}  // namespace lindrv
