// ATA commands carried to a drive by a backend of its own: which commands may go at all, what a
// command that does not complete leaves the caller with, and the SCSI ATA PASS-THROUGH (16) and
// (12) commands of the SCSI / ATA translation with the sense data in which the registers come back.
// Shared by the Linux (SG_IO) and Windows (IOCTL_SCSI_PASS_THROUGH) drive layers.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "platform/drive_records.h"

namespace ata {

enum class TAtaOutcome {
    Done,    // the drive completed the command
    Failed,  // the drive or the transport reported an error
    NoAta,   // nothing behind the device takes ATA commands
};

// The commands the drive layer passes on, each with its data phase: IDENTIFY DEVICE, SMART READ
// DATA and READ THRESHOLDS read one sector; SMART ENABLE, DISABLE and RETURN STATUS, SLEEP and
// RECALIBRATE move no data. Nothing for any other command: no command that could change the
// medium ever reaches a drive.
std::optional<plat::TAtaData> PermittedDataPhase(const plat::TIdeRegs& regs);

// Where the data of an ATA command's reply comes from, given how the drive took the command.
enum class TReplySource {
    Drive,   // the drive answered
    MadeUp,  // IDENTIFY made up from what the operating system knows
    None,    // the command fails
};

// The drive's own reply when it completed the command. When IDENTIFY DEVICE does not complete,
// whatever the reason (no ATA behind the device, an adapter or USB bridge that rejects the
// pass-through, an error), a disk for which the system reports a capacity gets the identity the
// system knows. Every other command that does not complete fails.
TReplySource ChooseReplySource(std::uint8_t command, TAtaOutcome outcome, std::uint64_t capacityBytes);

// Sends one permitted command: the registers, its data phase and, for a data-in command, the 512
// bytes to fill.
using TSendAta = std::function<TAtaOutcome(const plat::TIdeRegs&, plat::TAtaData, std::span<std::uint8_t>)>;

// Carries out a request of the drive layer (plat::DecodeAtaRequest) on a disk of
// `capacityBytes`: refuses a command that is not permitted or whose data phase differs from the
// request's, sends the rest, and puts a data-in command's sector, the drive's or `madeUp()`
// (ChooseReplySource), into the output record. True when the request succeeds.
bool CarryOutRequest(const plat::TAtaRequest& request, std::span<std::uint8_t> out, std::uint64_t capacityBytes,
                     const TSendAta& send, const std::function<std::array<std::uint8_t, 512>()>& madeUp);

// ---- SCSI ATA PASS-THROUGH (16)

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
// fixed sense (70h/71h, the registers in bytes 3-6 as newer Linux kernels place them, or in
// bytes 8-11 as older ones do). Nothing when the bytes are no sense data.
std::optional<TSense> DecodeSense(std::span<const std::uint8_t> sense);

// The ATA PASS-THROUGH (16) command block: PIO data-in of one 512-byte sector counted in the
// sector count register, or non-data. CK_COND only for SMART RETURN STATUS, whose answer is in the
// registers: some bridges fail a data-in command that asks for them.
std::array<std::uint8_t, 16> AtaPassThroughCdb(const plat::TIdeRegs& regs, plat::TAtaData data);

// The same command as ATA PASS-THROUGH (12), for bridges that take only that form; the first 12
// bytes of the array. Every permitted command fits it (none needs 48-bit registers).
std::array<std::uint8_t, 16> AtaPassThrough12Cdb(const plat::TIdeRegs& regs, plat::TAtaData data);

// The device register of a command for a port with one drive: the master/slave bit of the
// Windows numbering masked, since it means nothing there.
std::uint8_t DeviceRegister(const plat::TIdeRegs& regs);

// True when the sense data says the command's operation code is not known (ILLEGAL REQUEST,
// INVALID COMMAND OPERATION CODE): a bridge without the 16-byte form answers so.
bool IsInvalidOpcode(std::span<const std::uint8_t> sense);

// What the system reported for one pass-through command. HostStatus and DriverStatus are those of
// Linux SG_IO; a system without them passes 0.
struct TScsiReply {
    std::uint8_t ScsiStatus = 0;
    std::uint16_t HostStatus = 0;
    std::uint16_t DriverStatus = 0;
    std::span<const std::uint8_t> Sense;
    std::int32_t Residue = 0;  // bytes of the data phase not transferred
    std::int32_t Length = 0;   // bytes of the data phase asked for; 0 when not told
};

// Judged by the status and the sense first. A leftover transfer then fails the command when the
// length asked for is not told, or when no byte of it came: bridges miscount a transfer that
// completed.
TAtaOutcome JudgeReply(const TScsiReply& reply);

}  // namespace ata
