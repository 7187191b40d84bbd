// The device-control records as DeviceIoControl receives them on Windows, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/drive_records.h"
#include "power/spindle.h"
#include "smart/table.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A cleared SENDCMDINPARAMS record with one command written into it.
std::unique_ptr<plat::TSendCmdRecord> SendCmd(std::uint32_t bufferSize, const plat::TIdeRegs& regs, int drive) {
    auto record = std::make_unique<plat::TSendCmdRecord>();
    record->fill(0);
    plat::WriteSendCmd(*record, bufferSize, regs, drive);
    return record;
}

// The 13 command bytes: cBufferSize, IDEREGS, bDriveNumber.
Bytes Head(const plat::TSendCmdRecord& record) { return Bytes(record.begin(), record.begin() + 13); }

bool RestIsZero(const plat::TSendCmdRecord& record) {
    return std::all_of(record.begin() + 13, record.end(), [](std::uint8_t b) { return b == 0; });
}

// CTL_CODE of the Windows DDK.
constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function, std::uint32_t method,
                                std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

}  // namespace

TEST(Win32Records, ControlCodesAreTheDdkOnes) {
    constexpr std::uint32_t DiskBase = 0x0007, ScsiBase = 0x0004, Buffered = 0, Read = 1, ReadWrite = 3;
    EXPECT_EQ(plat::SMART_GET_VERSION, CtlCode(DiskBase, 0x0020, Buffered, Read));
    EXPECT_EQ(plat::SMART_SEND_DRIVE_COMMAND, CtlCode(DiskBase, 0x0021, Buffered, ReadWrite));
    EXPECT_EQ(plat::SMART_RCV_DRIVE_DATA, CtlCode(DiskBase, 0x0022, Buffered, ReadWrite));
    EXPECT_EQ(plat::IOCTL_IDE_PASS_THROUGH, CtlCode(ScsiBase, 0x040A, Buffered, ReadWrite));
}

TEST(Win32Records, SendCmdRecordIs8230BytesPassedAs8229) {
    EXPECT_EQ(sizeof(plat::TSendCmdRecord), 8230u);
    EXPECT_EQ(plat::SendCmdInputLength, 8229u);
    EXPECT_EQ(plat::IdentifyReplyLength, 528u);
}

TEST(Win32Records, SmartEnable) {
    const auto d0 = SendCmd(0, plat::SmartEnableRegs(0), 0);
    EXPECT_EQ(Head(*d0), (Bytes{0, 0, 0, 0, 0xD8, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0}));
    EXPECT_TRUE(RestIsZero(*d0));
    const auto d1 = SendCmd(0, plat::SmartEnableRegs(1), 1);
    EXPECT_EQ(Head(*d1), (Bytes{0, 0, 0, 0, 0xD8, 0x01, 0x01, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 1}));
    EXPECT_TRUE(RestIsZero(*d1));
}

TEST(Win32Records, Identify) {
    const auto d0 = SendCmd(512, plat::IdentifyRegs(0), 0);
    EXPECT_EQ(Head(*d0), (Bytes{0x00, 0x02, 0, 0, 0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0}));
    EXPECT_TRUE(RestIsZero(*d0));
    const auto d1 = SendCmd(512, plat::IdentifyRegs(1), 1);
    EXPECT_EQ(Head(*d1), (Bytes{0x00, 0x02, 0, 0, 0x00, 0x01, 0x01, 0x00, 0x00, 0xB0, 0xEC, 0x00, 1}));
}

TEST(Win32Records, SmartReadThresholdsAndData) {
    const auto thresholds = SendCmd(512, SmartReadThresholdsRegs(0), 0);
    EXPECT_EQ(Head(*thresholds), (Bytes{0x00, 0x02, 0, 0, 0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0}));
    const auto data = SendCmd(512, SmartReadDataRegs(1), 1);
    EXPECT_EQ(Head(*data), (Bytes{0x00, 0x02, 0, 0, 0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 1}));
    EXPECT_TRUE(RestIsZero(*thresholds));
    EXPECT_TRUE(RestIsZero(*data));
}

TEST(Win32Records, DeviceBitFollowsBitZeroOfTheDriveNumber) {
    EXPECT_EQ(plat::DriveHeadFor(2), 0xA0);
    EXPECT_EQ(plat::DriveHeadFor(3), 0xB0);
    const auto d15 = SendCmd(512, plat::IdentifyRegs(15), 15);
    EXPECT_EQ((*d15)[9], 0xB0);
    EXPECT_EQ((*d15)[12], 15);
}

// The program writes one command over the previous one in the same record.
TEST(Win32Records, CommandWrittenOverAnotherLeavesNoTrace) {
    const auto reused = SendCmd(512, plat::IdentifyRegs(1), 1);
    plat::WriteSendCmd(*reused, 0, plat::SmartEnableRegs(0), 0);
    EXPECT_EQ(*reused, *SendCmd(0, plat::SmartEnableRegs(0), 0));
}

TEST(Win32Records, IdePassThrough) {
    const plat::TIdePassThrough stop = plat::BuildIdePassThrough(SpindleRegs(true));
    EXPECT_EQ(Bytes(stop.begin(), stop.end()), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xE6, 0x00, 0, 0, 0, 0}));
    const plat::TIdePassThrough spinUp = plat::BuildIdePassThrough(SpindleRegs(false));
    EXPECT_EQ(Bytes(spinUp.begin(), spinUp.end()), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x10, 0x00, 0, 0, 0, 0}));
}
