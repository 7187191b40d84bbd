// Which block devices count as physical drives, and in which order they are numbered.
// Thread: main.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lindrv {

inline constexpr std::size_t MaxDisks = 16;

// True for the name of a whole disk: sd, hd, vd or xvd followed by letters (sda, sdaa),
// nvme<controller>n<namespace> (nvme0n1) and mmcblk<n>. Partitions, loop, ram, zram, dm-, md,
// optical drives, the boot areas of eMMC and the hidden paths of multipath NVMe are not.
bool IsWholeDiskName(std::string_view name);

// The numbering order: by kind (the name's letters before its number), then by number, letter
// suffixes counted the way the kernel hands them out (sdz before sdaa), digits numerically
// (nvme2n1 before nvme10n1).
bool DiskNameLess(std::string_view a, std::string_view b);

// The whole disks among `names`, in numbering order, at most MaxDisks of them.
std::vector<std::string> OrderDisks(std::vector<std::string> names);

// The whole disks listed in the sysfs block folder (normally /sys/block) that have a device
// behind them, in numbering order, at most MaxDisks of them.
std::vector<std::string> ListWholeDisks(const std::string& sysBlock);

}  // namespace lindrv
