// Positioned reads of a block device opened with O_DIRECT.
// Thread: main.
#pragma once

#include <cstdint>
#include <span>

namespace lindrv {

// Reads `buffer.size()` bytes at byte `offset` from `fd`, whose logical block size (a power of
// two) is `blockSize`. A buffer, offset and length aligned to the block size go to the device as
// they are; anything else reads the covering range of whole blocks through a bounce buffer and
// copies the requested bytes out. Returns the bytes of the request delivered: 0 when the read
// fails, fewer than asked when the device stops early.
std::uint32_t ReadBlocks(int fd, std::uint32_t blockSize, std::uint64_t offset, std::span<std::uint8_t> buffer);

// The last read of the device: the error it failed with, EndOfDevice when it found the device's
// end (a short read: a loop device whose file was cut short ends there though its size says
// otherwise), or 0.
inline constexpr int EndOfDevice = -1;
int LastReadError();

}  // namespace lindrv
