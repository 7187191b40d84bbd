// The drive contract of the seam: the device-control records through which the program talks to a
// drive (the Win32 SMART, IDE pass-through and NVMe query records, byte for byte), the capacity its
// IDENTIFY DEVICE data tells, and the largest sector the program reads in. The portable program
// builds the records; backends without the Win32 interface decode them back into ATA registers and
// carry the command out their own way.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace plat {

// Logical sectors the program reads in: powers of two from 512 to this many bytes.
inline constexpr std::uint32_t LargestSectorSize = 4096;

inline constexpr std::uint32_t SMART_GET_VERSION = 0x00074080;
inline constexpr std::uint32_t SMART_SEND_DRIVE_COMMAND = 0x0007C084;
inline constexpr std::uint32_t SMART_RCV_DRIVE_DATA = 0x0007C088;
inline constexpr std::uint32_t IOCTL_IDE_PASS_THROUGH = 0x0004D028;

// IDEREGS: the task-file registers of one ATA command.
struct TIdeRegs {
    std::uint8_t bFeaturesReg = 0;
    std::uint8_t bSectorCountReg = 0;
    std::uint8_t bSectorNumberReg = 0;
    std::uint8_t bCylLowReg = 0;
    std::uint8_t bCylHighReg = 0;
    std::uint8_t bDriveHeadReg = 0;
    std::uint8_t bCommandReg = 0;
    std::uint8_t bReserved = 0;
    friend bool operator==(const TIdeRegs&, const TIdeRegs&) = default;
};

inline constexpr std::uint8_t AtaSmart = 0xB0, AtaIdentify = 0xEC, AtaSleep = 0xE6, AtaRecalibrate = 0x10;

// SENDCMDINPARAMS: cBufferSize, IDEREGS, bDriveNumber, 3 + 16 reserved bytes, then data.
inline constexpr std::size_t SendCmdRecordSize = 8230;
inline constexpr std::uint32_t SendCmdInputLength = 8229;
using TSendCmdRecord = std::array<std::uint8_t, SendCmdRecordSize>;

// SENDCMDOUTPARAMS: cBufferSize, the 12-byte DRIVERSTATUS, then the returned sector.
inline constexpr std::size_t SendCmdOutDataOffset = 16;
inline constexpr std::size_t IdentifyReplyLength = SendCmdOutDataOffset + 512;

// The 12-byte IDE pass-through record: IDEREGS, then a 32-bit data size.
using TIdePassThrough = std::array<std::uint8_t, 12>;

// Drive/head register of a SMART or IDENTIFY request: device bit from bit 0 of the drive number.
std::uint8_t DriveHeadFor(int drive);

// Fills the command fields of a cleared SENDCMDINPARAMS record (reserved bytes stay as they are).
void WriteSendCmd(TSendCmdRecord& record, std::uint32_t bufferSize, const TIdeRegs& regs, int drive);
TIdePassThrough BuildIdePassThrough(const TIdeRegs& regs);

TIdeRegs SmartEnableRegs(int drive);
TIdeRegs IdentifyRegs(int drive);

// ---- NVMe health through IOCTL_STORAGE_QUERY_PROPERTY

inline constexpr std::uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x002D1400;
inline constexpr std::uint32_t NvmeHealthLogPage = 0x02;
inline constexpr std::size_t NvmeLogBytes = 512;

// STORAGE_PROPERTY_QUERY (PropertyId StorageDeviceProtocolSpecificProperty, PropertyStandardQuery)
// whose AdditionalParameters are a STORAGE_PROTOCOL_SPECIFIC_DATA asking for NVMe log page 02h,
// followed by room for the log. The same buffer receives the STORAGE_PROTOCOL_DATA_DESCRIPTOR: its
// Version and Size, the STORAGE_PROTOCOL_SPECIFIC_DATA, then the log at ProtocolDataOffset from it.
inline constexpr std::size_t ProtocolDataAt = 8;      // the STORAGE_PROTOCOL_SPECIFIC_DATA, both ways
inline constexpr std::size_t ProtocolDataBytes = 40;  // its size, and the log's offset from it
inline constexpr std::size_t NvmeQueryBytes = ProtocolDataAt + ProtocolDataBytes + NvmeLogBytes;
using TNvmeQuery = std::array<std::uint8_t, NvmeQueryBytes>;

TNvmeQuery BuildNvmeHealthQuery();
// Whether an IOCTL_STORAGE_QUERY_PROPERTY input asks for the NVMe health log (as the query above).
bool IsNvmeHealthQuery(std::uint32_t code, std::span<const std::uint8_t> in);
// The log in a reply, when the descriptor says it holds 512 bytes of it; empty otherwise.
std::span<const std::uint8_t> NvmeHealthReply(std::span<const std::uint8_t> out);
// For backends that read the log their own way: the reply as the Windows driver writes it.
bool WriteNvmeHealthReply(std::span<std::uint8_t> out, std::span<const std::uint8_t, NvmeLogBytes> log);

// ---- the capacity of IDENTIFY DEVICE data

struct TIdentifyCapacity {
    std::int64_t Sectors = 0;  // logical sectors
    std::int32_t AddressBits = 0;
    std::uint32_t SectorSize = 512;  // bytes of a logical sector
};

// The 28-bit sector count of words 60-61, or the 48-bit one of words 100-103 when the former is
// 0x0FFFFFFF; the logical sector size of words 106 and 117-118, 512 bytes unless it is a power of
// two up to LargestSectorSize.
TIdentifyCapacity IdentifyCapacity(std::span<const std::uint8_t, 512> data);

// ---- for backends that carry the commands out themselves

enum class TAtaData { None, In512 };

struct TAtaRequest {
    TIdeRegs Regs;
    std::uint8_t DriveNumber = 0;  // 0 where the record names no drive
    TAtaData Data = TAtaData::None;
};

// The ATA command inside a SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA or
// IOCTL_IDE_PASS_THROUGH input record; nothing for another code or a record too short.
std::optional<TAtaRequest> DecodeAtaRequest(std::uint32_t code, std::span<const std::uint8_t> in);

// Where a data-in command's sector goes in the output record; empty when it is too short.
std::span<std::uint8_t> ReplySector(std::span<std::uint8_t> out);

}  // namespace plat
