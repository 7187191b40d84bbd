// Positioned reads of a block device opened with O_DIRECT (drives_read.h).
// Thread: main.
#include "platform/linux/drives_read.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace lindrv {
namespace {

// Reads the device cannot take as they are go through this buffer, one at a time.
constexpr std::uint64_t BounceBytes = 256 * 1024;
alignas(4096) std::array<std::uint8_t, BounceBytes> Bounce;
std::mutex BounceLock;
int LastError = 0;  // of the last read, as LastReadError gives it

std::int64_t ReadAt(int fd, std::uint8_t* to, std::uint64_t length, std::uint64_t offset) {
    ssize_t got;
    do got = pread(fd, to, length, static_cast<off_t>(offset));
    while (got < 0 && errno == EINTR);
    LastError = got < 0 ? errno : static_cast<std::uint64_t>(got) < length ? EndOfDevice : 0;
    return got;
}

std::uint32_t ReadThroughBounce(int fd, std::uint64_t block, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (block > BounceBytes) return 0;
    const std::lock_guard lock(BounceLock);
    const std::uint64_t coveredEnd = (offset + buffer.size() + block - 1) / block * block;
    std::uint64_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t want = offset + done;
        const std::uint64_t start = want / block * block;
        const std::uint64_t length = std::min(coveredEnd, start + BounceBytes) - start;
        const std::int64_t got = ReadAt(fd, Bounce.data(), length, start);
        if (got <= 0 || static_cast<std::uint64_t>(got) <= want - start) break;
        const std::uint64_t useful =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(got) - (want - start), buffer.size() - done);
        std::memcpy(buffer.data() + done, Bounce.data() + (want - start), useful);
        done += useful;
        if (static_cast<std::uint64_t>(got) < length) break;
    }
    return static_cast<std::uint32_t>(done);
}

}  // namespace

int LastReadError() { return LastError; }

std::uint32_t ReadBlocks(int fd, std::uint32_t blockSize, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (buffer.empty() || blockSize == 0 || (blockSize & (blockSize - 1)) != 0) return 0;
    const std::uint64_t mask = blockSize - 1;
    if (((reinterpret_cast<std::uintptr_t>(buffer.data()) | offset | buffer.size()) & mask) != 0)
        return ReadThroughBounce(fd, blockSize, offset, buffer);
    const std::int64_t got = ReadAt(fd, buffer.data(), buffer.size(), offset);
    return got > 0 ? static_cast<std::uint32_t>(got) : 0;
}

}  // namespace lindrv
