// Compile-time proof that the records the portable code builds (drives/requests.h) are the
// Windows SDK's SENDCMDINPARAMS, SENDCMDOUTPARAMS, GETVERSIONINPARAMS and IDEREGS, and that its
// control codes are the SDK's. The portable names are read before the SDK headers, whose macros
// of the same names would replace them.
// clang-format off
#include "drives/requests.h"

namespace {
constexpr std::uint32_t PortableGetVersion = drives::SMART_GET_VERSION;
constexpr std::uint32_t PortableSendCommand = drives::SMART_SEND_DRIVE_COMMAND;
constexpr std::uint32_t PortableReceiveData = drives::SMART_RCV_DRIVE_DATA;
constexpr std::uint32_t PortableIdePassThrough = drives::IOCTL_IDE_PASS_THROUGH;
constexpr std::uint32_t PortableQueryProperty = drives::IOCTL_STORAGE_QUERY_PROPERTY;
}  // namespace

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
// clang-format on

static_assert(PortableGetVersion == SMART_GET_VERSION);
static_assert(PortableSendCommand == SMART_SEND_DRIVE_COMMAND);
static_assert(PortableReceiveData == SMART_RCV_DRIVE_DATA);
static_assert(PortableIdePassThrough == IOCTL_IDE_PASS_THROUGH);
static_assert(PortableQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);

static_assert(sizeof(IDEREGS) == sizeof(drives::TIdeRegs));
static_assert(offsetof(IDEREGS, bFeaturesReg) == offsetof(drives::TIdeRegs, bFeaturesReg));
static_assert(offsetof(IDEREGS, bSectorCountReg) == offsetof(drives::TIdeRegs, bSectorCountReg));
static_assert(offsetof(IDEREGS, bSectorNumberReg) == offsetof(drives::TIdeRegs, bSectorNumberReg));
static_assert(offsetof(IDEREGS, bCylLowReg) == offsetof(drives::TIdeRegs, bCylLowReg));
static_assert(offsetof(IDEREGS, bCylHighReg) == offsetof(drives::TIdeRegs, bCylHighReg));
static_assert(offsetof(IDEREGS, bDriveHeadReg) == offsetof(drives::TIdeRegs, bDriveHeadReg));
static_assert(offsetof(IDEREGS, bCommandReg) == offsetof(drives::TIdeRegs, bCommandReg));

// drives::WriteSendCmd: cBufferSize at 0, the registers at 4, bDriveNumber at 12.
static_assert(offsetof(SENDCMDINPARAMS, cBufferSize) == 0);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) == 4);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) + 512 <= drives::SendCmdInputLength);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == drives::SendCmdOutDataOffset);
static_assert(sizeof(GETVERSIONINPARAMS) == 24);

// The IDE pass-through record: IDEREGS, then the 32-bit size of the data that follows.
static_assert(sizeof(drives::TIdePassThrough) == sizeof(IDEREGS) + sizeof(ULONG));

// The NVMe health query: STORAGE_PROPERTY_QUERY with the STORAGE_PROTOCOL_SPECIFIC_DATA as its
// AdditionalParameters; the reply a STORAGE_PROTOCOL_DATA_DESCRIPTOR, the log after it.
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) == drives::ProtocolDataAt);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == drives::ProtocolDataAt);
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == drives::ProtocolDataBytes);
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == drives::ProtocolDataAt + drives::ProtocolDataBytes);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) == 16);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength) == 20);
static_assert(StorageDeviceProtocolSpecificProperty == 50 && PropertyStandardQuery == 0);
static_assert(ProtocolTypeNvme == 3 && NVMeDataTypeLogPage == 2);
