// The layout of the drive records, checked as the program is compiled: the records of
// platform/drive_records.h are the Windows SDK's SENDCMDINPARAMS, SENDCMDOUTPARAMS,
// GETVERSIONINPARAMS and IDEREGS, and its control codes are the SDK's. The seam's names are read
// before the SDK headers, whose macros of the same names would replace them. Nothing in it runs.
// Thread: main.
// clang-format off
#include "platform/drive_records.h"

namespace {
constexpr std::uint32_t PortableGetVersion = plat::SMART_GET_VERSION;
constexpr std::uint32_t PortableSendCommand = plat::SMART_SEND_DRIVE_COMMAND;
constexpr std::uint32_t PortableReceiveData = plat::SMART_RCV_DRIVE_DATA;
constexpr std::uint32_t PortableIdePassThrough = plat::IOCTL_IDE_PASS_THROUGH;
constexpr std::uint32_t PortableQueryProperty = plat::IOCTL_STORAGE_QUERY_PROPERTY;
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

static_assert(sizeof(IDEREGS) == sizeof(plat::TIdeRegs));
static_assert(offsetof(IDEREGS, bFeaturesReg) == offsetof(plat::TIdeRegs, bFeaturesReg));
static_assert(offsetof(IDEREGS, bSectorCountReg) == offsetof(plat::TIdeRegs, bSectorCountReg));
static_assert(offsetof(IDEREGS, bSectorNumberReg) == offsetof(plat::TIdeRegs, bSectorNumberReg));
static_assert(offsetof(IDEREGS, bCylLowReg) == offsetof(plat::TIdeRegs, bCylLowReg));
static_assert(offsetof(IDEREGS, bCylHighReg) == offsetof(plat::TIdeRegs, bCylHighReg));
static_assert(offsetof(IDEREGS, bDriveHeadReg) == offsetof(plat::TIdeRegs, bDriveHeadReg));
static_assert(offsetof(IDEREGS, bCommandReg) == offsetof(plat::TIdeRegs, bCommandReg));

// plat::WriteSendCmd: cBufferSize at 0, the registers at 4, bDriveNumber at 12.
static_assert(offsetof(SENDCMDINPARAMS, cBufferSize) == 0);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) == 4);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) + 512 <= plat::SendCmdInputLength);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == plat::SendCmdOutDataOffset);
static_assert(sizeof(GETVERSIONINPARAMS) == 24);

// The IDE pass-through record: IDEREGS, then the 32-bit size of the data that follows.
static_assert(sizeof(plat::TIdePassThrough) == sizeof(IDEREGS) + sizeof(ULONG));

// The NVMe health query: STORAGE_PROPERTY_QUERY with the STORAGE_PROTOCOL_SPECIFIC_DATA as its
// AdditionalParameters; the reply a STORAGE_PROTOCOL_DATA_DESCRIPTOR, the log after it.
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) == plat::ProtocolDataAt);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == plat::ProtocolDataAt);
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == plat::ProtocolDataBytes);
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == plat::ProtocolDataAt + plat::ProtocolDataBytes);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) == 16);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength) == 20);
static_assert(StorageDeviceProtocolSpecificProperty == 50 && PropertyStandardQuery == 0);
static_assert(ProtocolTypeNvme == 3 && NVMeDataTypeLogPage == 2);

// The records the drive layer reads and writes itself (storage.cpp) and the fake devices of
// platenhawk-drives-check answer with, at the offsets 64-bit Windows gives them.
static_assert(IOCTL_DISK_GET_LENGTH_INFO == 0x0007405C && IOCTL_DISK_GET_DRIVE_GEOMETRY_EX == 0x000700A0);
static_assert(IOCTL_SCSI_PASS_THROUGH == 0x0004D004);
static_assert(StorageDeviceProperty == 0 && StorageAccessAlignmentProperty == 6);
static_assert(BusTypeScsi == 1 && BusTypeUsb == 7 && BusTypeRAID == 8 && BusTypeSas == 10 && BusTypeSata == 11 &&
              BusTypeNvme == 17);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, QueryType) == 4 && sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset) == 20);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28 && sizeof(STORAGE_BUS_TYPE) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength) == 32);
static_assert(offsetof(STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR, BytesPerLogicalSector) == 16);
static_assert(offsetof(STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR, BytesPerPhysicalSector) == 20);
static_assert(sizeof(GET_LENGTH_INFORMATION) == 8);
static_assert(offsetof(DISK_GEOMETRY, BytesPerSector) == 20 && sizeof(DISK_GEOMETRY) == 24);
static_assert(offsetof(DISK_GEOMETRY_EX, DiskSize) == 24 && offsetof(DISK_GEOMETRY_EX, Data) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == 2 && offsetof(SCSI_PASS_THROUGH, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == 7 && offsetof(SCSI_PASS_THROUGH, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == 12 && offsetof(SCSI_PASS_THROUGH, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == 24 &&
              offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 36 && sizeof(SCSI_PASS_THROUGH) == 56);
static_assert(SCSI_IOCTL_DATA_OUT == 0 && SCSI_IOCTL_DATA_IN == 1 && SCSI_IOCTL_DATA_UNSPECIFIED == 2);
