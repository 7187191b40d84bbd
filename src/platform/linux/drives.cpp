// Physical drives on Linux: drive N is the N-th whole disk under /sys/block (see drives_disks.h),
// opened read-only; reads go around the page cache (O_DIRECT), ATA commands through SG_IO.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drives/requests.h"
#include "platform/ata/identify.h"
#include "platform/ata/passthrough.h"
#include "platform/linux/drives_disks.h"
#include "platform/linux/drives_identify.h"
#include "platform/linux/drives_read.h"
#include "platform/linux/sg_ata.h"
#include "platform/platform.h"

namespace {

constexpr const char* SysBlock = "/sys/block";

struct TOpenDisk {
    int Fd = -1;
    int Number = -1;
    std::array<char, 32> Name{};    // fixed storage: looking a handle up allocates nothing
    std::uint32_t BlockSize = 512;  // logical block size
    std::uint64_t Bytes = 0;
    std::string_view NameText() const { return Name.data(); }
};

// A handle is an index into this table.
constexpr std::size_t MaxOpenDisks = 16;
std::array<TOpenDisk, MaxOpenDisks> OpenDisks;
std::mutex OpenDisksLock;

// Why each drive number last failed to open or to answer; empty when it did not fail.
std::array<std::string, lindrv::MaxDisks> LastFailure;

void NoteFailure(int number, const std::string& name, const std::string& why) {
    if (number >= 0 && static_cast<std::size_t>(number) < LastFailure.size())
        LastFailure[static_cast<std::size_t>(number)] = "/dev/" + name + ": " + why;
}

std::optional<TOpenDisk> FindDisk(plat::DriveHandle drive) {
    if (drive < 0 || static_cast<std::size_t>(drive) >= MaxOpenDisks) return std::nullopt;
    const std::lock_guard lock(OpenDisksLock);
    const TOpenDisk& disk = OpenDisks[static_cast<std::size_t>(drive)];
    if (disk.Fd < 0) return std::nullopt;
    return disk;
}

// IDENTIFY DEVICE data for a disk that takes no ATA command or refuses IDENTIFY, in the disk's
// logical sectors.
std::array<std::uint8_t, 512> MadeUpIdentify(const TOpenDisk& disk) {
    ata::TDiskFacts facts;
    if (disk.NameText().starts_with("nvme")) {
        alignas(4096) std::array<std::uint8_t, 4096> controller{};
        nvme_admin_cmd command{};
        command.opcode = lindrv::NvmeIdentify;
        command.addr = reinterpret_cast<std::uintptr_t>(controller.data());
        command.data_len = controller.size();
        command.cdw10 = 1;  // the controller data structure
        if (ioctl(disk.Fd, NVME_IOCTL_ADMIN_CMD, &command) == 0) facts = lindrv::NvmeControllerFacts(controller);
    }
    if (facts.Model.empty()) facts = lindrv::SysfsFacts(SysBlock, disk.NameText());
    ata::SetSectors(facts, disk.Bytes, disk.BlockSize);
    return ata::SynthesizeIdentify(facts);
}

// The controller's SMART / Health Information log, through the namespace's device.
bool ReadNvmeHealthLog(const TOpenDisk& disk, std::span<std::uint8_t> out) {
    if (!disk.NameText().starts_with("nvme")) return false;
    alignas(4096) std::array<std::uint8_t, drives::NvmeLogBytes> log{};
    nvme_admin_cmd command{};
    command.opcode = lindrv::NvmeGetLogPage;
    command.nsid = 0xFFFFFFFF;  // the whole controller
    command.addr = reinterpret_cast<std::uintptr_t>(log.data());
    command.data_len = log.size();
    command.cdw10 = lindrv::GetLogPageDword10(drives::NvmeHealthLogPage, log.size());
    return ioctl(disk.Fd, NVME_IOCTL_ADMIN_CMD, &command) == 0 && drives::WriteNvmeHealthReply(out, log);
}

bool CarryOutAtaCommand(const TOpenDisk& disk, const drives::TAtaRequest& request, std::span<std::uint8_t> out) {
    return ata::CarryOutRequest(
        request, out, disk.Bytes,
        [&](const drives::TIdeRegs& regs, drives::TAtaData phase, std::span<std::uint8_t> data) {
            return lindrv::SendAtaCommand(disk.Fd, regs, phase, data);
        },
        [&] { return MadeUpIdentify(disk); });
}

}  // namespace

namespace plat {

DriveHandle OpenDrive(int number, DriveAccess access) {
    if (number < 0) return InvalidDrive;
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    if (static_cast<std::size_t>(number) >= disks.size()) return InvalidDrive;
    const std::string& name = disks[static_cast<std::size_t>(number)];
    TOpenDisk disk;
    if (name.size() >= disk.Name.size()) return InvalidDrive;
    std::copy(name.begin(), name.end(), disk.Name.begin());
    const int flags = O_RDONLY | O_CLOEXEC | (access == DriveAccess::Read ? O_DIRECT : 0);
    disk.Fd = open(("/dev/" + name).c_str(), flags);
    if (disk.Fd < 0) {
        NoteFailure(number, name, std::strerror(errno));
        return InvalidDrive;
    }
    disk.Number = number;
    LastFailure[static_cast<std::size_t>(number)].clear();
    int blockSize = 0;
    if (ioctl(disk.Fd, BLKSSZGET, &blockSize) == 0 && blockSize > 0)
        disk.BlockSize = static_cast<std::uint32_t>(blockSize);
    if (ioctl(disk.Fd, BLKGETSIZE64, &disk.Bytes) != 0) disk.Bytes = 0;
    const std::lock_guard lock(OpenDisksLock);
    for (std::size_t slot = 0; slot < MaxOpenDisks; ++slot) {
        if (OpenDisks[slot].Fd >= 0) continue;
        OpenDisks[slot] = disk;
        return static_cast<DriveHandle>(slot);
    }
    close(disk.Fd);
    return InvalidDrive;
}

void CloseDrive(DriveHandle drive) {
    if (drive < 0 || static_cast<std::size_t>(drive) >= MaxOpenDisks) return;
    const std::lock_guard lock(OpenDisksLock);
    TOpenDisk& disk = OpenDisks[static_cast<std::size_t>(drive)];
    if (disk.Fd >= 0) close(disk.Fd);
    disk = TOpenDisk{};
}

std::uint32_t ReadDrive(DriveHandle drive, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const std::optional<TOpenDisk> disk = FindDisk(drive);
    if (!disk) return 0;
    return lindrv::ReadBlocks(disk->Fd, disk->BlockSize, offset, buffer);
}

bool DriveControl(DriveHandle drive, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    const std::optional<TOpenDisk> disk = FindDisk(drive);
    if (!disk) return false;
    if (code == drives::SMART_GET_VERSION) {
        if (disk->Bytes == 0) NoteFailure(disk->Number, std::string(disk->NameText()), "reports no capacity");
        return disk->Bytes > 0;
    }
    if (drives::IsNvmeHealthQuery(code, in)) return ReadNvmeHealthLog(*disk, out);
    const std::optional<drives::TAtaRequest> request = drives::DecodeAtaRequest(code, in);
    if (!request) return false;
    return CarryOutAtaCommand(*disk, *request, out);
}

std::string DrivePath(int number) {
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    if (number < 0 || static_cast<std::size_t>(number) >= disks.size()) return {};
    return "/dev/" + disks[static_cast<std::size_t>(number)];
}

int DriveNumberOfPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(path, error);
    if (error || device.parent_path() != "/dev") return -1;
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    const auto found = std::find(disks.begin(), disks.end(), device.filename().string());
    return found == disks.end() ? -1 : static_cast<int>(found - disks.begin());
}

std::vector<std::string> DriveProbeNotes() {
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    if (disks.empty()) return {std::string("no disk under ") + SysBlock};
    std::vector<std::string> notes;
    for (std::size_t n = 0; n < disks.size(); ++n)
        if (!LastFailure[n].empty()) notes.push_back(LastFailure[n]);
    return notes;
}

}  // namespace plat
