// Physical drives on Linux: drive N is the N-th whole disk under /sys/block (see drives_disks.h),
// and a block device named on the command line takes the number after them; all opened
// read-only; reads go around the page cache (O_DIRECT), ATA commands through SG_IO. The table of
// open disks is locked.
// Thread: main.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ata/identify.h"
#include "platform/ata/passthrough.h"
#include "platform/drive_records.h"
#include "platform/linux/drives_disks.h"
#include "platform/linux/drives_identify.h"
#include "platform/linux/drives_read.h"
#include "platform/linux/sg_ata.h"
#include "platform/platform.h"

namespace {

constexpr const char* SysBlock = "/sys/block";
// Every block device, partitions among them, by its kernel name.
constexpr const char* SysClassBlock = "/sys/class/block";

// A block device the user named that is not one of the whole disks (a partition, a loop, md or
// device-mapper device): its number, the path it resolved to, its device number and kernel name.
struct TNamedDevice {
    int Number = -1;
    std::string Path;
    dev_t Device = 0;
    std::string Name;
};
TNamedDevice Named;
// Why the last path given to DriveNumberOfPath is no drive, as "PATH: reason"; empty for none.
std::string PathRefusal;

struct TOpenDisk {
    int Fd = -1;
    int Number = -1;
    bool Named = false;             // the named device: its identity is always the kernel's
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

// The device of drive `number`: its path and kernel name; empty when there is none.
struct TDevicePath {
    std::string Path;
    std::string Name;
};

TDevicePath DeviceOf(int number) {
    if (number < 0) return {};
    if (number == Named.Number) return {Named.Path, Named.Name};
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    if (static_cast<std::size_t>(number) >= disks.size()) return {};
    const std::string& name = disks[static_cast<std::size_t>(number)];
    return {"/dev/" + name, name};
}

void NoteFailure(int number, const std::string& path, const std::string& why) {
    if (number >= 0 && static_cast<std::size_t>(number) < LastFailure.size())
        LastFailure[static_cast<std::size_t>(number)] = path + ": " + why;
}

// The kernel's name of a block device (sda1, loop0, dm-1), from its device number.
std::string KernelName(dev_t device) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), error);
    return error ? std::string() : target.filename().string();
}

// What a path that is not a block device is, for the line that refuses it.
std::string NotBlockDevice(const struct stat& status) {
    const char* kind = S_ISREG(status.st_mode)   ? "a regular file"
                       : S_ISCHR(status.st_mode) ? "a character device"
                       : S_ISDIR(status.st_mode) ? "a directory"
                                                 : "not a device";
    return std::string(kind) + ", not a block device: only a drive or another block device is scanned";
}

// Opens the named device, which must still be the block device it was when it was named (a path
// replaced meanwhile by a pipe or another device is not opened, and opening never waits).
// `replaced` tells such a path from one that failed to open.
int OpenNamedDevice(int flags, bool& replaced) {
    const int fd = open(Named.Path.c_str(), flags | O_NONBLOCK);
    if (fd < 0) return fd;
    struct stat status {};
    // The file status flags without O_NONBLOCK: reads wait for the device again.
    if (fstat(fd, &status) != 0 || !S_ISBLK(status.st_mode) || status.st_rdev != Named.Device ||
        fcntl(fd, F_SETFL, flags) != 0) {
        close(fd);
        replaced = true;
        return -1;
    }
    return fd;
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
    if (facts.Model.empty()) facts = lindrv::SysfsFacts(disk.Named ? SysClassBlock : SysBlock, disk.NameText());
    ata::SetSectors(facts, disk.Bytes, disk.BlockSize);
    return ata::SynthesizeIdentify(facts);
}

// The controller's SMART / Health Information log, through the namespace's device.
bool ReadNvmeHealthLog(const TOpenDisk& disk, std::span<std::uint8_t> out) {
    if (!disk.NameText().starts_with("nvme")) return false;
    alignas(4096) std::array<std::uint8_t, plat::NvmeLogBytes> log{};
    nvme_admin_cmd command{};
    command.opcode = lindrv::NvmeGetLogPage;
    command.nsid = 0xFFFFFFFF;  // the whole controller
    command.addr = reinterpret_cast<std::uintptr_t>(log.data());
    command.data_len = log.size();
    command.cdw10 = lindrv::GetLogPageDword10(plat::NvmeHealthLogPage, log.size());
    return ioctl(disk.Fd, NVME_IOCTL_ADMIN_CMD, &command) == 0 && plat::WriteNvmeHealthReply(out, log);
}

bool CarryOutAtaCommand(const TOpenDisk& disk, const plat::TAtaRequest& request, std::span<std::uint8_t> out) {
    return ata::CarryOutRequest(
        request, out, disk.Bytes,
        [&](const plat::TIdeRegs& regs, plat::TAtaData phase, std::span<std::uint8_t> data) {
            // A partition passes ATA commands on to its whole disk, whose capacity is not the
            // partition's.
            if (disk.Named && regs.bCommandReg == plat::AtaIdentify) return ata::TAtaOutcome::NoAta;
            return lindrv::SendAtaCommand(disk.Fd, regs, phase, data);
        },
        [&] { return MadeUpIdentify(disk); });
}

}  // namespace

namespace plat {

DriveHandle OpenDrive(int number, DriveAccess access) {
    const TDevicePath device = DeviceOf(number);
    TOpenDisk disk;
    if (device.Path.empty() || device.Name.size() >= disk.Name.size()) return InvalidDrive;
    std::copy(device.Name.begin(), device.Name.end(), disk.Name.begin());
    disk.Named = number == Named.Number;
    const int flags = O_RDONLY | O_CLOEXEC | (access == DriveAccess::Read ? O_DIRECT : 0);
    bool replaced = false;
    disk.Fd = disk.Named ? OpenNamedDevice(flags, replaced) : open(device.Path.c_str(), flags);
    if (disk.Fd < 0) {
        NoteFailure(number, device.Path, replaced ? "no longer the block device it was" : std::strerror(errno));
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

namespace {

// What the file behind a loop device holds now, past the loop's offset: the device keeps the size
// it had when the file was attached, and its reads fail where the file has since been cut short.
std::optional<std::uint64_t> LoopFileBytes(int fd) {
    struct stat device {};
    if (fstat(fd, &device) != 0 || !S_ISBLK(device.st_mode)) return std::nullopt;
    const std::string loop = "/sys/dev/block/" + std::to_string(major(device.st_rdev)) + ":" +
                             std::to_string(minor(device.st_rdev)) + "/loop/";
    std::ifstream named(loop + "backing_file");
    std::string path;
    if (!std::getline(named, path)) return std::nullopt;
    std::uint64_t offset = 0;
    std::ifstream(loop + "offset") >> offset;
    struct stat file {};
    if (stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return std::nullopt;
    const auto bytes = static_cast<std::uint64_t>(file.st_size);
    return bytes > offset ? bytes - offset : 0;
}

}  // namespace

// A device unplugged or removed fails its reads with ENODEV or ENXIO (ENOMEDIUM for a medium
// taken out) and reports a size of 0; one that shrank ends before the read.
bool DriveGone(DriveHandle drive, std::uint64_t end) {
    const std::optional<TOpenDisk> disk = FindDisk(drive);
    if (!disk) return true;
    const int error = lindrv::LastReadError();
    if (error == ENODEV || error == ENXIO || error == ENOMEDIUM || error == lindrv::EndOfDevice) return true;
    std::uint64_t bytes = 0;
    if (ioctl(disk->Fd, BLKGETSIZE64, &bytes) != 0) return errno == ENODEV || errno == ENXIO;
    const std::optional<std::uint64_t> held = LoopFileBytes(disk->Fd);
    return bytes < end || (held && *held < end);
}

bool DriveControl(DriveHandle drive, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    const std::optional<TOpenDisk> disk = FindDisk(drive);
    if (!disk) return false;
    if (code == plat::SMART_GET_VERSION) {
        if (disk->Bytes == 0) NoteFailure(disk->Number, DeviceOf(disk->Number).Path, "reports no capacity");
        return disk->Bytes > 0;
    }
    if (plat::IsNvmeHealthQuery(code, in)) return ReadNvmeHealthLog(*disk, out);
    const std::optional<plat::TAtaRequest> request = plat::DecodeAtaRequest(code, in);
    if (!request) return false;
    return CarryOutAtaCommand(*disk, *request, out);
}

std::string DrivePath(int number) { return DeviceOf(number).Path; }

// A whole disk keeps its number; any other block device takes the number after the whole disks,
// for the rest of the run.
int DriveNumberOfPath(const std::string& path) {
    PathRefusal.clear();
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(path, error);
    if (error) return -1;
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    if (device.parent_path() == "/dev") {
        const auto found = std::find(disks.begin(), disks.end(), device.filename().string());
        if (found != disks.end()) return static_cast<int>(found - disks.begin());
    }
    struct stat status {};
    if (stat(device.c_str(), &status) != 0) return -1;
    if (!S_ISBLK(status.st_mode)) {
        PathRefusal = path + ": " + NotBlockDevice(status);
        return -1;
    }
    if (Named.Number >= 0 && status.st_rdev == Named.Device) return Named.Number;
    if (Named.Number >= 0 || disks.size() >= lindrv::MaxDisks) {
        PathRefusal = path + ": no drive number left for it";
        return -1;
    }
    Named = TNamedDevice{static_cast<int>(disks.size()), device.string(), status.st_rdev, KernelName(status.st_rdev)};
    if (Named.Name.empty()) Named.Name = device.filename().string();
    return Named.Number;
}

std::vector<std::string> DriveRemarks(int) { return {}; }

std::vector<std::string> DriveProbeNotes() {
    if (!PathRefusal.empty()) return {PathRefusal};
    const std::vector<std::string> disks = lindrv::ListWholeDisks(SysBlock);
    if (disks.empty() && Named.Number < 0) return {std::string("no disk under ") + SysBlock};
    std::vector<std::string> notes;
    for (std::size_t n = 0; n < LastFailure.size(); ++n)
        if (!LastFailure[n].empty()) notes.push_back(LastFailure[n]);
    return notes;
}

}  // namespace plat
