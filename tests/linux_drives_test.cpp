// The pure parts of the Linux drive layer: the sense data of ATA pass-through, the commands let
// through and the source of their replies, the numbering of disks, reads through the bounce
// buffer and made-up identities.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "platform/ata/identify.h"
#include "platform/ata/passthrough.h"
#include "platform/drive_records.h"
#include "platform/linux/drives_disks.h"
#include "platform/linux/drives_identify.h"
#include "platform/linux/drives_read.h"
#include "platform/linux/sg_ata.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using ata::TAtaOutcome;
using ata::TAtaReturn;

// ---------------------------------------------------------------- sense data

// Descriptor sense with the ATA Status Return descriptor, as a successful command with CK_COND
// returns it (key RECOVERED ERROR, "ATA pass-through information available").
Bytes DescriptorSense(std::uint8_t key, std::uint8_t error, std::uint8_t status) {
    return {0x72, key,  0x00, 0x1D,  0,    0,    0,    14,  //
            0x09, 0x0C, 0x00, error, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0x00, 0x00, 0xA0, status};
}

TAtaOutcome Judge(const Bytes& sense, std::uint8_t scsiStatus = 0x02, std::int32_t residue = 0) {
    return ata::JudgeReply(ata::TScsiReply{scsiStatus, 0, 0x08, sense, residue});
}

TEST(SenseDecoding, DescriptorFormatCarriesTheAtaStatusDescriptor) {
    const auto sense = ata::DecodeSense(DescriptorSense(0x01, 0x00, 0x50));
    ASSERT_TRUE(sense);
    EXPECT_EQ(sense->Key, 0x01);
    EXPECT_EQ(sense->Ascq, 0x1D);
    ASSERT_TRUE(sense->Ata);
    EXPECT_EQ(*sense->Ata, (TAtaReturn{0x00, 0x50, 0xA0, 0x01}));

    // another descriptor (information, 12 bytes) in front of it
    const Bytes twoDescriptors = {0x72, 0x0B, 0x00, 0x00, 0,    0,    0,    26,  //
                                  0x00, 0x0A, 0x80, 0,    0,    0,    0,    0,    0,    0,    0,    0x07, 0x09,
                                  0x0C, 0x00, 0x04, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0x00, 0x00, 0xA0, 0x51};
    const auto second = ata::DecodeSense(twoDescriptors);
    ASSERT_TRUE(second && second->Ata);
    EXPECT_EQ(*second->Ata, (TAtaReturn{0x04, 0x51, 0xA0, 0x01}));
}

TEST(SenseDecoding, DescriptorCutShortCarriesNoRegisters) {
    Bytes sense = DescriptorSense(0x01, 0x00, 0x50);
    sense.resize(18);
    const auto decoded = ata::DecodeSense(sense);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->Ata);
    EXPECT_EQ(Judge(sense), TAtaOutcome::Failed);
}

TEST(SenseDecoding, FixedFormatOfOlderKernelsHoldsTheRegistersInBytes8To11) {
    const Bytes abort = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04, 0x41, 0xA0, 0x01, 0x00, 0x00};
    const auto sense = ata::DecodeSense(abort);
    ASSERT_TRUE(sense && sense->Ata);
    EXPECT_EQ(sense->Key, 0x0B);
    EXPECT_EQ(*sense->Ata, (TAtaReturn{0x04, 0x41, 0xA0, 0x01}));
    EXPECT_EQ(Judge(abort), TAtaOutcome::Failed);
}

TEST(SenseDecoding, FixedFormatOfNewerKernelsHoldsTheRegistersInBytes3To6) {
    const Bytes abort = {0x70, 0x00, 0x0B, 0x04, 0x41, 0xA0, 0x01, 0x0A, 0x00, 0x4F, 0xC2, 0x00, 0x00, 0x00};
    const auto sense = ata::DecodeSense(abort);
    ASSERT_TRUE(sense && sense->Ata);
    EXPECT_EQ(*sense->Ata, (TAtaReturn{0x04, 0x41, 0xA0, 0x01}));
    EXPECT_EQ(Judge(abort), TAtaOutcome::Failed);

    const Bytes success = {0x70, 0x00, 0x01, 0x00, 0x50, 0xA0, 0x01, 0x0A, 0x00, 0x4F, 0xC2, 0x00, 0x00, 0x1D};
    const auto ok = ata::DecodeSense(success);
    ASSERT_TRUE(ok && ok->Ata);
    EXPECT_EQ(*ok->Ata, (TAtaReturn{0x00, 0x50, 0xA0, 0x01}));
    EXPECT_EQ(ok->Ascq, 0x1D);
    EXPECT_EQ(Judge(success), TAtaOutcome::Done);
}

TEST(SenseDecoding, BytesThatAreNoSenseDataDecodeToNothing) {
    EXPECT_FALSE(ata::DecodeSense(Bytes{}));
    EXPECT_FALSE(ata::DecodeSense(Bytes{0x00, 0x00, 0x05}));
    EXPECT_FALSE(ata::DecodeSense(Bytes{0x7F, 0x00, 0x05, 0x00}));
    EXPECT_FALSE(ata::DecodeSense(Bytes{0x72, 0x05}));
}

TEST(SenseDecoding, TheDriveStatusDecidesTheOutcome) {
    EXPECT_EQ(Judge(DescriptorSense(0x01, 0x00, 0x50)), TAtaOutcome::Done);
    EXPECT_EQ(Judge(DescriptorSense(0x0B, 0x04, 0x51)), TAtaOutcome::Failed);  // ERR
    EXPECT_EQ(Judge(DescriptorSense(0x0B, 0x00, 0x70)), TAtaOutcome::Failed);  // DF
    EXPECT_EQ(Judge(DescriptorSense(0x0B, 0x00, 0xD0)), TAtaOutcome::Failed);  // BSY
    // a data-in command that did not deliver its sector
    EXPECT_EQ(Judge(DescriptorSense(0x01, 0x00, 0x50), 0x02, 512), TAtaOutcome::Failed);
}

TEST(SenseDecoding, TransportErrorsFailWhateverTheSense) {
    const Bytes ok = DescriptorSense(0x01, 0x00, 0x50);
    EXPECT_EQ(ata::JudgeReply({0x02, 0x07, 0x08, ok, 0}), TAtaOutcome::Failed);  // host: DID_ERROR
    EXPECT_EQ(ata::JudgeReply({0x02, 0x00, 0x06, ok, 0}), TAtaOutcome::Failed);  // driver: timeout
    EXPECT_EQ(ata::JudgeReply({0x08, 0x00, 0x00, ok, 0}), TAtaOutcome::Failed);  // SCSI BUSY
    EXPECT_EQ(ata::JudgeReply({0x02, 0x00, 0x00, {}, 0}), TAtaOutcome::Failed);  // check, no sense
}

TEST(SenseDecoding, GoodStatusWithoutSenseIsSuccess) {
    EXPECT_EQ(ata::JudgeReply({0x00, 0x00, 0x00, {}, 0}), TAtaOutcome::Done);
    EXPECT_EQ(ata::JudgeReply({0x00, 0x00, 0x00, {}, 512}), TAtaOutcome::Failed);
    // a bridge that miscounts a sector it delivered; one that delivered none
    EXPECT_EQ(ata::JudgeReply({0x00, 0x00, 0x00, {}, 8, 512}), TAtaOutcome::Done);
    EXPECT_EQ(ata::JudgeReply({0x00, 0x00, 0x00, {}, 512, 512}), TAtaOutcome::Failed);
}

TEST(SenseDecoding, IllegalRequestWithoutRegistersMeansNoAtaBehindTheDevice) {
    // a SCSI disk refusing the unknown operation code: fixed sense, INVALID COMMAND OPERATION CODE
    const Bytes invalidOpcode = {0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                                 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto sense = ata::DecodeSense(invalidOpcode);
    ASSERT_TRUE(sense);
    EXPECT_FALSE(sense->Ata);
    EXPECT_EQ(sense->Key, 0x05);
    EXPECT_EQ(sense->Asc, 0x20);
    EXPECT_EQ(Judge(invalidOpcode), TAtaOutcome::NoAta);
    // the same in descriptor format
    EXPECT_EQ(Judge(Bytes{0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0}), TAtaOutcome::NoAta);
    // another key without registers is a failure of a drive that may well take ATA
    EXPECT_EQ(Judge(Bytes{0x70, 0x00, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x04, 0x02}), TAtaOutcome::Failed);
}

// ---------------------------------------------------------------- commands

plat::TIdeRegs Regs(std::uint8_t command, std::uint8_t features = 0) {
    return plat::TIdeRegs{features, 1, 1, 0x4F, 0xC2, 0xA0, command, 0};
}

TEST(AtaCommands, OnlyReadingAndPowerCommandsPass) {
    using plat::TAtaData;
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xEC)), TAtaData::In512);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xB0, 0xD0)), TAtaData::In512);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xB0, 0xD1)), TAtaData::In512);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xB0, 0xD8)), TAtaData::None);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xB0, 0xD9)), TAtaData::None);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xB0, 0xDA)), TAtaData::None);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0xE6)), TAtaData::None);
    EXPECT_EQ(ata::PermittedDataPhase(Regs(0x10)), TAtaData::None);
    // SMART WRITE LOG, SMART EXECUTE OFF-LINE, WRITE SECTORS, WRITE DMA, DATA SET MANAGEMENT,
    // SECURITY ERASE UNIT, DOWNLOAD MICROCODE, SET MAX
    for (const auto& [command, features] : std::vector<std::pair<std::uint8_t, std::uint8_t>>{
             {0xB0, 0xD6}, {0xB0, 0xD4}, {0x30, 0}, {0xCA, 0}, {0x06, 0}, {0xF4, 0}, {0x92, 0}, {0xF9, 0}}) {
        EXPECT_FALSE(ata::PermittedDataPhase(Regs(command, features))) << int{command} << "/" << int{features};
    }
}

TEST(AtaCommands, PassThroughBlockCarriesTheRegisters) {
    const auto identify = ata::AtaPassThroughCdb(plat::TIdeRegs{0, 1, 1, 0, 0, 0xA0, 0xEC, 0}, plat::TAtaData::In512);
    const std::array<std::uint8_t, 16> expectIdentify = {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0xA0, 0xEC, 0};
    EXPECT_EQ(identify, expectIdentify);

    // SMART ENABLE for an odd Windows drive number: the master/slave bit is dropped, no CK_COND
    const auto enable =
        ata::AtaPassThroughCdb(plat::TIdeRegs{0xD8, 1, 1, 0x4F, 0xC2, 0xB0, 0xB0, 0}, plat::TAtaData::None);
    const std::array<std::uint8_t, 16> expectEnable = {0x85, 0x06, 0x00, 0, 0xD8, 0,    1,    0,
                                                       1,    0,    0x4F, 0, 0xC2, 0xA0, 0xB0, 0};
    EXPECT_EQ(enable, expectEnable);

    // SMART RETURN STATUS answers in the registers: CK_COND; the 12-byte form carries the same
    const plat::TIdeRegs status{0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0};
    EXPECT_EQ(ata::AtaPassThroughCdb(status, plat::TAtaData::None)[2], 0x20);
    const std::array<std::uint8_t, 16> expect12 = {0xA1, 0x06, 0x20, 0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0};
    EXPECT_EQ(ata::AtaPassThrough12Cdb(status, plat::TAtaData::None), expect12);
}

// The replies seen from real adapters: a SCSI disk that rejects the opcode (no ATA behind it), a
// host adapter that errs on it or cannot carry a 16-byte command (both host errors), a drive
// that aborts it. Whatever the reason, a disk with a capacity keeps an identity to be scanned by.
TEST(AtaCommands, IdentifyThatDoesNotCompleteTakesTheKernelsIdentity) {
    using ata::TReplySource;
    constexpr std::uint64_t Capacity = 64 << 20;
    for (const TAtaOutcome outcome : {TAtaOutcome::NoAta, TAtaOutcome::Failed}) {
        EXPECT_EQ(ata::ChooseReplySource(0xEC, outcome, Capacity), TReplySource::MadeUp) << int(outcome);
        // without a capacity there is nothing to scan: the drive stays without an identity
        EXPECT_EQ(ata::ChooseReplySource(0xEC, outcome, 0), TReplySource::None) << int(outcome);
        // SMART and spindle commands have no stand-in
        for (const std::uint8_t command : {0xB0, 0xE6, 0x10})
            EXPECT_EQ(ata::ChooseReplySource(command, outcome, Capacity), TReplySource::None) << int{command};
    }
    for (const std::uint8_t command : {0xEC, 0xB0, 0xE6, 0x10})
        EXPECT_EQ(ata::ChooseReplySource(command, TAtaOutcome::Done, Capacity), TReplySource::Drive) << int{command};
}

// ---------------------------------------------------------------- disk numbering

TEST(DiskNumbering, WholeDisksOnly) {
    for (const char* name : {"sda", "sdaa", "hdc", "vda", "xvdb", "nvme0n1", "nvme10n2", "mmcblk0", "mmcblk12"}) {
        EXPECT_TRUE(lindrv::IsWholeDiskName(name)) << name;
    }
    for (const char* name :
         {"sda1", "sd", "nvme0n1p1", "nvme0c0n1", "nvme0", "nvme01n1", "mmcblk0p1", "mmcblk0boot0", "mmcblk0rpmb",
          "loop0", "ram0", "zram0", "dm-0", "md0", "md127", "sr0", "nbd0", "sdA", ""}) {
        EXPECT_FALSE(lindrv::IsWholeDiskName(name)) << name;
    }
}

TEST(DiskNumbering, LettersInKernelOrderNumbersNumerically) {
    EXPECT_EQ(lindrv::OrderDisks({"sdaa", "sdz", "sdb", "sda", "sdab", "sdba"}),
              (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "sdab", "sdba"}));
    EXPECT_EQ(lindrv::OrderDisks({"nvme10n1", "nvme1n1", "nvme0n2", "nvme0n1", "nvme2n1"}),
              (std::vector<std::string>{"nvme0n1", "nvme0n2", "nvme1n1", "nvme2n1", "nvme10n1"}));
    EXPECT_EQ(lindrv::OrderDisks({"vda", "sdb", "nvme0n1", "mmcblk1", "sda", "hda", "mmcblk0", "xvda"}),
              (std::vector<std::string>{"hda", "mmcblk0", "mmcblk1", "nvme0n1", "sda", "sdb", "vda", "xvda"}));
}

TEST(DiskNumbering, PartitionsAndVirtualDevicesAreDroppedAndSixteenAtMostKept) {
    std::vector<std::string> names = {"loop0", "sda1", "dm-0", "zram0"};
    for (char c = 't'; c >= 'a'; --c) names.push_back(std::string("sd") + c);
    const auto disks = lindrv::OrderDisks(names);
    ASSERT_EQ(disks.size(), 16u);
    EXPECT_EQ(disks.front(), "sda");
    EXPECT_EQ(disks.back(), "sdp");
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/ph-linux-drives-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }
    void Write(const std::string& relative, const std::string& text) const {
        std::filesystem::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative) << text;
    }

private:
    std::filesystem::path path_;
};

TEST(DiskNumbering, SysfsEntriesNeedADeviceBehindThem) {
    const TempDir sys;
    std::filesystem::create_directories(sys.Path() / "devices/target0");
    for (const char* name : {"sdb", "sda", "sr0", "nvme0n1"}) {
        std::filesystem::create_directories(sys.Path() / name);
        std::filesystem::create_directory_symlink(sys.Path() / "devices/target0", sys.Path() / name / "device");
    }
    for (const char* name : {"loop0", "sdc", "md0"}) std::filesystem::create_directories(sys.Path() / name);
    // a dangling device link counts as no device
    std::filesystem::create_directories(sys.Path() / "sdd");
    std::filesystem::create_directory_symlink(sys.Path() / "devices/gone", sys.Path() / "sdd/device");

    EXPECT_EQ(lindrv::ListWholeDisks(sys.Path().string()), (std::vector<std::string>{"nvme0n1", "sda", "sdb"}));
    EXPECT_TRUE(lindrv::ListWholeDisks((sys.Path() / "missing").string()).empty());
}

// ---------------------------------------------------------------- reads through the bounce buffer

class ImageFile {
public:
    explicit ImageFile(std::size_t bytes) : data_(bytes) {
        for (std::size_t i = 0; i < bytes; ++i) data_[i] = static_cast<std::uint8_t>((i * 7 + i / 4096) & 0xFF);
        char pattern[] = "/tmp/ph-linux-read-XXXXXX";
        fd_ = mkstemp(pattern);
        unlink(pattern);
        EXPECT_EQ(write(fd_, data_.data(), bytes), static_cast<ssize_t>(bytes));
    }
    ~ImageFile() { close(fd_); }
    int Fd() const { return fd_; }
    Bytes Slice(std::size_t from, std::size_t length) const {
        return Bytes(data_.begin() + static_cast<std::ptrdiff_t>(from),
                     data_.begin() + static_cast<std::ptrdiff_t>(from + length));
    }

private:
    Bytes data_;
    int fd_ = -1;
};

TEST(BounceReads, UnalignedRequestsOfA4KnDeviceGetExactlyTheirBytes) {
    const ImageFile image(1 << 20);
    alignas(4096) static std::array<std::uint8_t, 130560> buffer;
    // offsets and lengths in 512-byte sectors, as the scan asks for them
    for (const auto& [offset, length] : std::vector<std::pair<std::size_t, std::size_t>>{
             {512, 1024}, {0, 130560}, {3584, 512}, {4096 * 5 + 512, 130560}, {1000, 3}}) {
        buffer.fill(0xEE);
        ASSERT_EQ(lindrv::ReadBlocks(image.Fd(), 4096, offset, std::span(buffer).first(length)), length)
            << offset << "+" << length;
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length)),
                  image.Slice(offset, length))
            << offset << "+" << length;
        if (length < buffer.size()) {
            EXPECT_EQ(buffer[length], 0xEE) << "wrote past the request";
        }
    }
}

TEST(BounceReads, RequestsLargerThanTheBounceBufferAreReadInPieces) {
    const ImageFile image(1 << 20);
    std::vector<std::uint8_t> buffer(600 * 1024 + 512);
    const std::size_t offset = 4096 + 512;
    ASSERT_EQ(lindrv::ReadBlocks(image.Fd(), 4096, offset, std::span(buffer).subspan(1)), buffer.size() - 1);
    EXPECT_EQ(Bytes(buffer.begin() + 1, buffer.end()), image.Slice(offset, buffer.size() - 1));
}

TEST(BounceReads, TheEndOfTheDeviceCutsTheCountOfRequestedBytes) {
    const ImageFile image(64 * 1024);
    alignas(4096) static std::array<std::uint8_t, 8192> buffer;
    EXPECT_EQ(lindrv::ReadBlocks(image.Fd(), 4096, 64 * 1024 - 1536, buffer), 1536u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 1536), image.Slice(64 * 1024 - 1536, 1536));
    EXPECT_EQ(lindrv::ReadBlocks(image.Fd(), 4096, 64 * 1024 + 512, buffer), 0u);
    // the aligned path reports the same
    EXPECT_EQ(lindrv::ReadBlocks(image.Fd(), 512, 64 * 1024 - 1536, buffer), 1536u);
    EXPECT_EQ(lindrv::ReadBlocks(image.Fd(), 512, 64 * 1024, buffer), 0u);
}

TEST(BounceReads, FailedReadsDeliverNothing) {
    alignas(4096) static std::array<std::uint8_t, 4096> buffer;
    EXPECT_EQ(lindrv::ReadBlocks(-1, 512, 0, buffer), 0u);
    EXPECT_EQ(lindrv::ReadBlocks(-1, 4096, 512, std::span(buffer).first(512)), 0u);
    const ImageFile image(8192);
    EXPECT_EQ(lindrv::ReadBlocks(image.Fd(), 1 << 20, 512, std::span(buffer).first(512)), 0u);  // block too big
    EXPECT_EQ(lindrv::ReadBlocks(image.Fd(), 3000, 0, buffer), 0u);                             // no power of two
}

// ---------------------------------------------------------------- made-up identities

std::uint16_t Word(const std::array<std::uint8_t, 512>& data, std::size_t w) {
    return static_cast<std::uint16_t>(data[2 * w] | (data[2 * w + 1] << 8));
}

// An ATA string field read back: the bytes of each word swapped.
std::string AtaText(const std::array<std::uint8_t, 512>& data, std::size_t word, std::size_t words) {
    std::string text;
    for (std::size_t w = word; w < word + words; ++w) {
        text += static_cast<char>(data[2 * w + 1]);
        text += static_cast<char>(data[2 * w]);
    }
    return text;
}

TEST(MadeUpIdentity, LargeDiskUsesThe48BitCount) {
    const auto data = ata::SynthesizeIdentify({"Samsung SSD 980 PRO 1TB", "S5GXNF0R123456", "5B2QGXA7", 1953525168});
    EXPECT_EQ(AtaText(data, 27, 20), "Samsung SSD 980 PRO 1TB                 ");
    EXPECT_EQ(AtaText(data, 10, 10), "S5GXNF0R123456      ");
    EXPECT_EQ(AtaText(data, 23, 4), "5B2QGXA7");
    EXPECT_EQ(Word(data, 60), 0xFFFF);
    EXPECT_EQ(Word(data, 61), 0x0FFF);
    const std::uint64_t lba48 = Word(data, 100) | (std::uint64_t{Word(data, 101)} << 16) |
                                (std::uint64_t{Word(data, 102)} << 32) | (std::uint64_t{Word(data, 103)} << 48);
    EXPECT_EQ(lba48, 1953525168u);
    EXPECT_TRUE(Word(data, 83) & 0x0400);
    EXPECT_TRUE(Word(data, 86) & 0x0400);
    EXPECT_EQ(Word(data, 1), 16383);
    EXPECT_EQ(data[510], 0xA5);
    EXPECT_EQ(std::accumulate(data.begin(), data.end(), 0u) & 0xFF, 0u) << "checksum";
}

TEST(MadeUpIdentity, SmallDiskFitsThe28BitCount) {
    const auto data = ata::SynthesizeIdentify({"QEMU NVMe Ctrl", "", "1.0", 131072});
    EXPECT_EQ(Word(data, 60) | (Word(data, 61) << 16), 131072);
    EXPECT_EQ(Word(data, 100) | (Word(data, 101) << 16), 131072);
    EXPECT_EQ(AtaText(data, 10, 10), std::string(20, ' '));
    EXPECT_EQ(AtaText(data, 23, 4), "1.0     ");
    EXPECT_EQ(Word(data, 1), 131072 / (16 * 63));
    EXPECT_EQ(std::accumulate(data.begin(), data.end(), 0u) & 0xFF, 0u) << "checksum";
}

TEST(MadeUpIdentity, LogicalSectorSizeAsADriveReportsIt) {
    // 4096-byte sectors: word 106 valid with bit 12, words 117-118 the size in 16-bit words
    const auto large = ata::SynthesizeIdentify({"QEMU NVMe Ctrl", "", "", 16384, 4096});
    EXPECT_EQ(Word(large, 106), 0x5000);
    EXPECT_EQ(Word(large, 117), 2048);
    EXPECT_EQ(Word(large, 118), 0);
    EXPECT_EQ(Word(large, 60) | (Word(large, 61) << 16), 16384) << "the count is in logical sectors";
    EXPECT_EQ(Word(large, 100) | (Word(large, 101) << 16), 16384);
    EXPECT_EQ(std::accumulate(large.begin(), large.end(), 0u) & 0xFF, 0u) << "checksum";
    // a size whose word count needs the high word
    const auto huge = ata::SynthesizeIdentify({"X", "", "", 8, 1u << 18});
    EXPECT_EQ(Word(huge, 117), 0);
    EXPECT_EQ(Word(huge, 118), 2);
    // 512-byte sectors: word 106 valid, nothing else said
    const auto plain = ata::SynthesizeIdentify({"QEMU HARDDISK", "", "", 131072, 512});
    EXPECT_EQ(Word(plain, 106), 0x4000);
    EXPECT_EQ(Word(plain, 117), 0);
    EXPECT_EQ(Word(plain, 118), 0);
}

TEST(MadeUpIdentity, SectorsTheProgramReadsIn) {
    const auto sectors = [](std::uint64_t bytes, std::uint32_t size) {
        ata::TDiskFacts facts;
        ata::SetSectors(facts, bytes, size);
        return std::pair(facts.Sectors, facts.SectorSize);
    };
    EXPECT_EQ(sectors(64 << 20, 512), std::pair(std::uint64_t{131072}, 512u));
    EXPECT_EQ(sectors(64 << 20, 4096), std::pair(std::uint64_t{16384}, 4096u));
    EXPECT_EQ(sectors(4000787030016, 4096), std::pair(std::uint64_t{976754646}, 4096u));
    // longer sectors than the program reads in: counted in 512-byte sectors, the whole disk
    EXPECT_EQ(sectors(64 << 20, 16384), std::pair(std::uint64_t{131072}, 512u));
}

TEST(MadeUpIdentity, StringsAreCutToTheirFieldsAndCleaned) {
    std::array<std::uint8_t, 8> field{};
    ata::PutAtaString(field, "AB\tCDEFGHIJ");
    EXPECT_EQ(std::string(field.begin(), field.end()), "BAC EDGF");
    const auto data = ata::SynthesizeIdentify({std::string(50, 'M'), std::string(25, 'S'), "FIRMWARE9", 1});
    EXPECT_EQ(AtaText(data, 27, 20), std::string(40, 'M'));
    EXPECT_EQ(AtaText(data, 10, 10), std::string(20, 'S'));
    EXPECT_EQ(AtaText(data, 23, 4), "FIRMWARE");
    EXPECT_EQ(Word(data, 47), 0) << "the model must not run into the next word";
}

TEST(MadeUpIdentity, NvmeControllerStrings) {
    std::array<std::uint8_t, 4096> controller{};
    const auto put = [&](std::size_t at, std::string_view text) {
        std::copy(text.begin(), text.end(), controller.begin() + at);
    };
    put(4, "1234ABCD            ");
    put(24, "QEMU NVMe Ctrl                          ");
    put(64, "8.0.0   ");
    const ata::TDiskFacts facts = lindrv::NvmeControllerFacts(controller);
    EXPECT_EQ(facts.Model, "QEMU NVMe Ctrl");
    EXPECT_EQ(facts.Serial, "1234ABCD");
    EXPECT_EQ(facts.Firmware, "8.0.0");
    EXPECT_TRUE(lindrv::NvmeControllerFacts(std::span(controller).first(40)).Model.empty());
}

TEST(NvmeCommands, GetLogPageAsksForWholeDwordsOfTheLog) {
    EXPECT_EQ(lindrv::GetLogPageDword10(0x02, 512), 0x007F0002u) << "127 dwords more than one, log 02h";
    EXPECT_EQ(lindrv::GetLogPageDword10(0x01, 4), 0x00000001u);
    EXPECT_EQ(lindrv::GetLogPageDword10(0x02, 16384), 0x0FFF0002u);
}

TEST(MadeUpIdentity, SysfsAttributesOfScsiAndVirtioDisks) {
    const TempDir sys;
    const std::string root = sys.Path().string();
    // an ATA disk behind libata: vendor "ATA", the serial in the t10 world-wide id
    sys.Write("sda/device/vendor", "ATA     \n");
    sys.Write("sda/device/model", "QEMU HARDDISK   \n");
    sys.Write("sda/device/rev", "2.5+\n");
    sys.Write("sda/device/wwid", "t10.ATA     QEMU HARDDISK                           QM00005\n");
    const auto ata = lindrv::SysfsFacts(root, "sda");
    EXPECT_EQ(ata.Model, "QEMU HARDDISK");
    EXPECT_EQ(ata.Serial, "QM00005");
    EXPECT_EQ(ata.Firmware, "2.5+");

    // a SCSI disk: vendor before the model, serial from a naa id
    sys.Write("sdb/device/vendor", "SEAGATE \n");
    sys.Write("sdb/device/model", "ST4000NM0023    \n");
    sys.Write("sdb/device/rev", "0004\n");
    sys.Write("sdb/device/wwid", "naa.5000c50012345678abcdef0123456789\n");
    const auto scsi = lindrv::SysfsFacts(root, "sdb");
    EXPECT_EQ(scsi.Model, "SEAGATE ST4000NM0023");
    EXPECT_EQ(scsi.Serial, "5678abcdef0123456789");  // the last 20 characters
    EXPECT_EQ(scsi.Firmware, "0004");

    // a SCSI disk with the unit serial number page: the serial from it, not from the id
    sys.Write("sdd/device/vendor", "QEMU    \n");
    sys.Write("sdd/device/model", "QEMU HARDDISK   \n");
    sys.Write("sdd/device/wwid", "naa.5000c50012345678abcdef0123456789\n");
    sys.Write("sdd/device/vpd_pg80", std::string("\0\x80\0\x0CPHPVSCSI01  ", 16));
    EXPECT_EQ(lindrv::SysfsFacts(root, "sdd").Serial, "PHPVSCSI01");
    // a page cut short gives what it holds; another page or a truncated header gives nothing
    sys.Write("sde/device/vpd_pg80", std::string("\0\x80\0\x20WD-123", 10));
    EXPECT_EQ(lindrv::SysfsFacts(root, "sde").Serial, "WD-123");
    sys.Write("sdf/device/vpd_pg80", std::string("\0\x83\0\x04WXYZ", 8));
    sys.Write("sdf/device/wwid", "t10.QEMU    QEMU HARDDISK   QM00009\n");
    EXPECT_EQ(lindrv::SysfsFacts(root, "sdf").Serial, "QM00009");
    sys.Write("sdg/device/vpd_pg80", std::string("\0\x80\0", 3));
    EXPECT_EQ(lindrv::SysfsFacts(root, "sdg").Serial, "");

    // a model that already names its vendor
    sys.Write("sdc/device/vendor", "QEMU    \n");
    sys.Write("sdc/device/model", "QEMU HARDDISK\n");
    EXPECT_EQ(lindrv::SysfsFacts(root, "sdc").Model, "QEMU HARDDISK");

    // virtio: nothing under device, the serial beside it
    sys.Write("vda/serial", "disk-7\n");
    sys.Write("vda/device/vendor", "0x1af4\n");  // the PCI vendor of virtio devices
    const auto virtio = lindrv::SysfsFacts(root, "vda");
    EXPECT_EQ(virtio.Model, "/dev/vda");
    EXPECT_EQ(virtio.Serial, "disk-7");
    EXPECT_EQ(virtio.Firmware, "");

    // NVMe controller attributes
    sys.Write("nvme0n1/device/model", "Samsung SSD 970 EVO Plus 1TB            \n");
    sys.Write("nvme0n1/device/serial", "S4EWNX0R000000X     \n");
    sys.Write("nvme0n1/device/firmware_rev", "2B2QEXM7\n");
    const auto nvme = lindrv::SysfsFacts(root, "nvme0n1");
    EXPECT_EQ(nvme.Model, "Samsung SSD 970 EVO Plus 1TB");
    EXPECT_EQ(nvme.Serial, "S4EWNX0R000000X");
    EXPECT_EQ(nvme.Firmware, "2B2QEXM7");
}

}  // namespace
