#include "platform/win32/fake_ata.h"

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

BOOL ScsiPassThrough(const TAtaTarget& target, bool translates, std::uint8_t* buffer, DWORD inLength, DWORD outLength,
                     DWORD* returned) {
    SCSI_PASS_THROUGH request{};
    if (inLength < sizeof request) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&request, buffer, sizeof request);
    if (request.Length != sizeof request || request.CdbLength > 16 ||
        request.SenseInfoOffset + request.SenseInfoLength > outLength ||
        request.DataBufferOffset + request.DataTransferLength > std::max(inLength, outLength))
        return Fail(ERROR_INVALID_PARAMETER);
    const UCHAR* cdb = request.Cdb;
    const std::uint8_t protocol = (cdb[1] >> 1) & 0x0F;
    const TPermitted permitted = Permitted(cdb[14], cdb[4]);
    const bool in =
        protocol == 4 && (cdb[2] & 0x08) && request.DataIn == SCSI_IOCTL_DATA_IN && request.DataTransferLength == 512;
    const bool none = protocol == 3 && request.DataIn != SCSI_IOCTL_DATA_OUT && request.DataTransferLength == 0;
    if (request.CdbLength != 16 || cdb[0] != 0x85 || permitted == TPermitted::No ||
        (permitted == TPermitted::DataIn ? !in : !none)) {
        Note(target.Number, "SCSI pass-through of opcode " + std::to_string(cdb[0]) + " protocol " +
                                std::to_string(protocol) + " command " + std::to_string(cdb[14]) + "/" +
                                std::to_string(cdb[4]));
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::uint8_t* sense = buffer + request.SenseInfoOffset;
    std::array<std::uint8_t, 22> reply{};
    if (translates) {
        // CK_COND: CHECK CONDITION, descriptor sense with the ATA status return descriptor.
        // A drive that aborts the command: ERR in the status, ABRT in the error register.
        const bool done = RunAta(target, cdb[14], cdb[4], buffer + request.DataBufferOffset, "SAT");
        reply = {0x72, 0x01, 0x00,   0x1D, 0,      0, 0,       14, 0x09,    0x0C, 0x00,
                 0x00, 0x00, cdb[6], 0,    cdb[8], 0, cdb[10], 0,  cdb[12], 0,    0x50};
        reply[20] = cdb[13];
        if (!done) {
            reply[11] = 0x04;
            reply[21] = 0x51;
            request.DataTransferLength = 0;
        }
    } else {
        // ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE, in fixed format; nothing transferred.
        reply = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
        request.DataTransferLength = 0;
    }
    const std::size_t senseLength = std::min<std::size_t>(request.SenseInfoLength, reply[0] == 0x72 ? 22 : 18);
    std::copy_n(reply.begin(), senseLength, sense);
    request.SenseInfoLength = static_cast<UCHAR>(senseLength);
    request.ScsiStatus = 0x02;
    std::memcpy(buffer, &request, sizeof request);
    *returned = std::max<DWORD>(request.DataBufferOffset + request.DataTransferLength,
                                request.SenseInfoOffset + request.SenseInfoLength);
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
