// The fake ATA drive and the ways Windows' drivers and bridges carry commands to it (fake_ata.h).
// Thread: main.
#include "fake_ata.h"

// clang-format off
// windows.h first: the other SDK headers build on its types.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstring>

namespace fake {
namespace {

void PutWord(std::uint8_t* data, std::size_t word, std::uint16_t value) {
    data[2 * word] = static_cast<std::uint8_t>(value);
    data[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutText(std::uint8_t* data, std::size_t word, std::size_t words, std::string_view text) {
    for (std::size_t i = 0; i < 2 * words; ++i) data[2 * word + (i ^ 1)] = i < text.size() ? text[i] : ' ';
}

// IDENTIFY DEVICE data as the drive returns it.
void WriteIdentify(const TAtaDrive& drive, std::uint8_t* data) {
    std::fill_n(data, 512, std::uint8_t{0});
    PutWord(data, 0, 0x0040);
    PutText(data, 10, 10, drive.Serial);
    PutWord(data, 21, drive.CacheSectors);
    PutText(data, 23, 4, drive.Firmware);
    PutText(data, 27, 20, drive.Model);
    PutWord(data, 49, 0x0300);
    const std::uint64_t lba28 = std::min<std::uint64_t>(drive.Sectors, 0x0FFFFFFF);
    PutWord(data, 60, static_cast<std::uint16_t>(lba28));
    PutWord(data, 61, static_cast<std::uint16_t>(lba28 >> 16));
    PutWord(data, 83, 0x4400);
    PutWord(data, 86, 0x0400);
    for (std::size_t w = 0; w < 4; ++w) PutWord(data, 100 + w, static_cast<std::uint16_t>(drive.Sectors >> (16 * w)));
    PutWord(data, 106, 0x4000);
}

// The SMART READ DATA (values) or READ ATTRIBUTE THRESHOLDS sector: four attributes.
void WriteSmartSector(bool thresholds, std::uint8_t* data) {
    std::fill_n(data, 512, std::uint8_t{0});
    data[0] = 0x10;
    const std::array<std::array<std::uint8_t, 4>, 4> attributes = {{
        {1, 200, 200, 51},  // id, value, worst, threshold
        {5, 200, 200, 140},
        {9, 87, 87, 0},
        {194, 112, 103, 0},
    }};
    for (std::size_t slot = 0; slot < attributes.size(); ++slot) {
        std::uint8_t* entry = data + 2 + 12 * slot;
        entry[0] = attributes[slot][0];
        if (thresholds) {
            entry[1] = attributes[slot][3];
        } else {
            entry[1] = 0x33;
            entry[3] = attributes[slot][1];
            entry[4] = attributes[slot][2];
            entry[5] = slot == 2 ? 0x1F : 0;  // power-on hours
        }
    }
}

// The ATA commands the program may send, and whether each moves a sector in.
enum class TPermitted { No, NonData, DataIn };

TPermitted Permitted(std::uint8_t command, std::uint8_t features) {
    if (command == 0xEC) return TPermitted::DataIn;
    if (command == 0xE6 || command == 0x10) return TPermitted::NonData;
    if (command != 0xB0) return TPermitted::No;
    if (features == 0xD0 || features == 0xD1) return TPermitted::DataIn;
    if (features == 0xD8 || features == 0xD9 || features == 0xDA) return TPermitted::NonData;
    return TPermitted::No;
}

// Carries out an ATA command on the drive behind a disk: the sector of a data-in command into
// `data`. False for a command the fake drive does not know.
bool RunAta(const TAtaTarget& target, std::uint8_t command, std::uint8_t features, std::uint8_t* data,
            const char* channel) {
    TSeen& seen = target.Seen;
    if (!target.Drive.Answers) return false;
    if (command == 0xEC) {
        WriteIdentify(target.Drive, data);
        seen.IdentifyBy = channel;
    } else if (command == 0xE6) {
        seen.SpindleBy = channel;
    } else if (command == 0xB0 && (features == 0xD0 || features == 0xD1)) {
        WriteSmartSector(features == 0xD1, data);
        if (features == 0xD0) seen.SmartDataBy = channel;
    }
    return Permitted(command, features) != TPermitted::No;
}

}  // namespace

BOOL SmartRequest(const TAtaTarget& target, DWORD code, const std::uint8_t* in, DWORD inLength, std::uint8_t* out,
                  DWORD outLength, DWORD* returned) {
    const bool receive = code == SMART_RCV_DRIVE_DATA;
    if (inLength < sizeof(SENDCMDINPARAMS) - 1 || outLength < offsetof(SENDCMDOUTPARAMS, bBuffer) + (receive ? 512 : 0))
        return Fail(ERROR_INVALID_PARAMETER);
    SENDCMDINPARAMS command{};
    std::memcpy(&command, in, sizeof command - 1);
    const IDEREGS& regs = command.irDriveRegs;
    const TPermitted permitted = Permitted(regs.bCommandReg, regs.bFeaturesReg);
    if (permitted == TPermitted::No || (permitted == TPermitted::DataIn) != receive) {
        Note(target.Number, "SMART request with command " + std::to_string(regs.bCommandReg) + "/" +
                                std::to_string(regs.bFeaturesReg));
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::fill_n(out, offsetof(SENDCMDOUTPARAMS, bBuffer), std::uint8_t{0});
    if (!RunAta(target, regs.bCommandReg, regs.bFeaturesReg, out + offsetof(SENDCMDOUTPARAMS, bBuffer), "SMART"))
        return Fail(ERROR_INVALID_FUNCTION);
    const DWORD size = receive ? 512 : 0;
    std::memcpy(out, &size, sizeof size);
    *returned = offsetof(SENDCMDOUTPARAMS, bBuffer) + size;
    return TRUE;
}

namespace {

constexpr std::uint8_t StatusOk = 0x50, StatusError = 0x51, ErrorAbort = 0x04;

// The registers of one ATA PASS-THROUGH command block, (16) or (12).
struct TPassThrough {
    std::uint8_t Protocol = 0, Flags = 0, Features = 0, Count = 0, Low = 0, Mid = 0, High = 0, Device = 0, Command = 0;
};

TPassThrough Decode(const UCHAR* cdb, bool twelve) {
    if (twelve)
        return {static_cast<std::uint8_t>((cdb[1] >> 1) & 0x0F),
                cdb[2],
                cdb[3],
                cdb[4],
                cdb[5],
                cdb[6],
                cdb[7],
                cdb[8],
                cdb[9]};
    return {static_cast<std::uint8_t>((cdb[1] >> 1) & 0x0F),
            cdb[2],
            cdb[4],
            cdb[6],
            cdb[8],
            cdb[10],
            cdb[12],
            cdb[13],
            cdb[14]};
}

// Sense data: descriptor format with the ATA Status Return descriptor (SAT-4 12.2.2.6), or fixed
// format with the error, status, device and count registers in the information field.
std::array<std::uint8_t, 22> RegisterSense(bool fixed, bool done, const TPassThrough& command) {
    const std::uint8_t key = done ? 0x01 : 0x0B;  // RECOVERED ERROR, or ABORTED COMMAND
    const std::uint8_t error = done ? 0 : ErrorAbort, status = done ? StatusOk : StatusError;
    if (fixed) return {0x70, 0, key, error, status, command.Device, command.Count, 10, 0, 0, 0, 0, 0x00, 0x1D};
    return {0x72,  key,  0x00,          0x1D, 0,           0, 0,           14, 0x09,         0x0C,           0x00,
            error, 0x00, command.Count, 0,    command.Low, 0, command.Mid, 0,  command.High, command.Device, status};
}

}  // namespace

BOOL ScsiPassThrough(const TAtaTarget& target, TBridge bridge, std::uint8_t* buffer, DWORD inLength, DWORD outLength,
                     DWORD* returned) {
    SCSI_PASS_THROUGH request{};
    if (inLength < sizeof request) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&request, buffer, sizeof request);
    if (request.Length != sizeof request || request.CdbLength > 16 ||
        request.SenseInfoOffset + request.SenseInfoLength > outLength ||
        request.DataBufferOffset + request.DataTransferLength > std::max(inLength, outLength))
        return Fail(ERROR_INVALID_PARAMETER);
    const bool twelve = request.Cdb[0] == 0xA1 && request.CdbLength == 12;
    const TPassThrough command = Decode(request.Cdb, twelve);
    const TPermitted permitted = Permitted(command.Command, command.Features);
    const bool in = command.Protocol == 4 && (command.Flags & 0x08) && request.DataIn == SCSI_IOCTL_DATA_IN &&
                    request.DataTransferLength == 512;
    const bool none = command.Protocol == 3 && request.DataIn != SCSI_IOCTL_DATA_OUT && request.DataTransferLength == 0;
    if ((!twelve && (request.Cdb[0] != 0x85 || request.CdbLength != 16)) || permitted == TPermitted::No ||
        (permitted == TPermitted::DataIn ? !in : !none)) {
        Note(target.Number, "SCSI pass-through of opcode " + std::to_string(request.Cdb[0]) + " protocol " +
                                std::to_string(command.Protocol) + " command " + std::to_string(command.Command) + "/" +
                                std::to_string(command.Features));
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::uint8_t* sense = buffer + request.SenseInfoOffset;
    std::array<std::uint8_t, 22> reply{};
    const bool checkCondition = command.Flags & 0x20;
    const bool refused = bridge == TBridge::None || (bridge == TBridge::Only12 && !twelve) ||
                         (bridge == TBridge::NoCkCondDataIn && in && checkCondition);
    if (refused) {
        // ILLEGAL REQUEST in fixed format: INVALID COMMAND OPERATION CODE, or INVALID FIELD IN CDB.
        reply = {0x70,
                 0,
                 0x05,
                 0,
                 0,
                 0,
                 0,
                 10,
                 0,
                 0,
                 0,
                 0,
                 bridge == TBridge::NoCkCondDataIn ? std::uint8_t{0x24} : std::uint8_t{0x20}};
        request.DataTransferLength = 0;
        request.ScsiStatus = 0x02;
    } else {
        const bool done = RunAta(target, command.Command, command.Features, buffer + request.DataBufferOffset,
                                 twelve ? "SAT12" : "SAT16");
        if (!done) request.DataTransferLength = 0;
        const bool always = bridge == TBridge::FixedSense || bridge == TBridge::ZeroOnCheck;
        request.ScsiStatus = always || checkCondition || !done ? 0x02 : 0x00;
        if (request.ScsiStatus == 0x02) reply = RegisterSense(bridge == TBridge::FixedSense, done, command);
        if (bridge == TBridge::ZeroOnCheck) request.DataTransferLength = 0;
    }
    const std::size_t length = request.ScsiStatus == 0x00 ? 0 : reply[0] == 0x72 ? 22 : 18;
    const std::size_t senseLength = std::min<std::size_t>(request.SenseInfoLength, length);
    std::copy_n(reply.begin(), senseLength, sense);
    if (bridge != TBridge::SenseLengthKept || request.ScsiStatus != 0x00)
        request.SenseInfoLength = static_cast<UCHAR>(senseLength);
    std::memcpy(buffer, &request, sizeof request);
    *returned = std::max<DWORD>(request.DataBufferOffset + request.DataTransferLength,
                                request.SenseInfoOffset + request.SenseInfoLength);
    return TRUE;
}

BOOL AtaPassThrough(const TAtaTarget& target, std::uint8_t* buffer, DWORD inLength, DWORD outLength, DWORD* returned) {
    ATA_PASS_THROUGH_EX request{};
    if (inLength < sizeof request || outLength < sizeof request) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&request, buffer, sizeof request);
    if (request.Length != sizeof request ||
        request.DataBufferOffset + request.DataTransferLength > std::max(inLength, outLength))
        return Fail(ERROR_INVALID_PARAMETER);
    UCHAR* task = request.CurrentTaskFile;
    const TPermitted permitted = Permitted(task[6], task[0]);
    const bool in = (request.AtaFlags & ATA_FLAGS_DATA_IN) && request.DataTransferLength == 512;
    const bool none = (request.AtaFlags & (ATA_FLAGS_DATA_IN | ATA_FLAGS_DATA_OUT)) == 0;
    if (permitted == TPermitted::No || (permitted == TPermitted::DataIn ? !in : !none)) {
        Note(target.Number, "ATA pass-through of command " + std::to_string(task[6]) + "/" + std::to_string(task[0]));
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // The port has one device: the master/slave bit is masked, as storahci builds the FIS.
    const bool done = RunAta(target, task[6], task[0], buffer + request.DataBufferOffset, "ATA");
    task[0] = done ? 0 : ErrorAbort;
    task[6] = done ? StatusOk : StatusError;
    if (!done) request.DataTransferLength = 0;
    std::memcpy(buffer, &request, sizeof request);
    *returned =
        std::max<DWORD>(sizeof request, static_cast<DWORD>(request.DataBufferOffset + request.DataTransferLength));
    return TRUE;
}

BOOL IdePassThrough(const TAtaTarget& target, const std::uint8_t* in, DWORD inLength, std::uint8_t* out,
                    DWORD outLength, DWORD* returned) {
    if (inLength < 12 || outLength < 12) return Fail(ERROR_INVALID_PARAMETER);
    if (Permitted(in[6], in[0]) != TPermitted::NonData || in[8] | in[9] | in[10] | in[11]) {
        Note(target.Number, "IDE pass-through of command " + std::to_string(in[6]));
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!RunAta(target, in[6], in[0], nullptr, "IDE")) return Fail(ERROR_IO_DEVICE);
    std::memmove(out, in, 12);
    *returned = 12;
    return TRUE;
}

}  // namespace fake
