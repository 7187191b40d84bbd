// The host files of the simulation on POSIX systems (image.h): the scenario text and the disk
// images.
// Thread: main.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/sim/image.h"

namespace sim {
namespace {

// Opens `path` for reading without waiting (a FIFO put in place of the file cannot block the
// open) and checks that it is still the file `seen` describes; the descriptor then blocks again.
int OpenSeen(const std::string& path, int flags, const struct stat& seen, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat now {};
    if (::fstat(fd, &now) != 0 || now.st_dev != seen.st_dev || now.st_ino != seen.st_ino) {
        ::close(fd);
        error = "it was replaced while it was opened";
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, std::uint32_t limitMiB, std::string& error) {
    const std::uint64_t limit = std::uint64_t{limitMiB} << 20;
    const std::string tooLarge = "larger than " + std::to_string(limitMiB) + " MiB";
    struct stat seen {};
    if (::stat(path.c_str(), &seen) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(seen.st_mode) || static_cast<std::uint64_t>(seen.st_size) > limit) {
        error = S_ISDIR(seen.st_mode) ? "it is a directory" : !S_ISREG(seen.st_mode) ? "not a regular file" : tooLarge;
        return std::nullopt;
    }
    const int fd = OpenSeen(path, 0, seen, error);
    if (fd < 0) return std::nullopt;
    std::string text;
    std::array<char, 16384> chunk;
    ssize_t got = 0;
    while ((got = ::read(fd, chunk.data(), chunk.size())) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = std::strerror(errno);
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
        if (text.size() > limit) {  // it grew since it was looked at
            error = tooLarge;
            break;
        }
    }
    ::close(fd);
    if (got != 0) return std::nullopt;
    return text;
}

std::optional<TImage> OpenImage(const std::string& path, std::string& error) {
    struct stat seen {};
    if (::stat(path.c_str(), &seen) != 0) {
        error = "cannot open image " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(seen.st_mode) && !S_ISBLK(seen.st_mode)) {
        error = "image " + path + " is neither a file nor a block device";
        return std::nullopt;
    }
    std::string why;
    TImage image;
    image.Handle = OpenSeen(path, O_DIRECT, seen, why);
    if (S_ISBLK(seen.st_mode)) {
        // A device is read direct only: a read it refuses fails as it would on a drive.
        if (image.Handle < 0) {
            error = "cannot open image " + path + " for direct reads: " + why;
            return std::nullopt;
        }
        int sectorSize = 0;
        const int fd = static_cast<int>(image.Handle);
        if (::ioctl(fd, BLKGETSIZE64, &image.Size) != 0 || ::ioctl(fd, BLKSSZGET, &sectorSize) != 0) {
            error = "cannot size image " + path + ": " + std::strerror(errno);
            CloseImage(image);
            return std::nullopt;
        }
        image.SectorSize = static_cast<std::uint32_t>(sectorSize);
        return image;
    }
    image.BufferedHandle = OpenSeen(path, 0, seen, why);
    if (image.BufferedHandle < 0) {
        error = "cannot open image " + path + ": " + why;
        CloseImage(image);
        return std::nullopt;
    }
    if (image.Handle < 0) image.Handle = image.BufferedHandle;  // the file system refuses direct I/O
    image.Size = static_cast<std::uint64_t>(seen.st_size);
    return image;
}

std::uint32_t ReadImage(const TImage& image, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const auto at = static_cast<off_t>(offset);
    ssize_t got = ::pread(static_cast<int>(image.Handle), buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINVAL && image.BufferedHandle >= 0 && image.Handle != image.BufferedHandle)
        got = ::pread(static_cast<int>(image.BufferedHandle), buffer.data(), buffer.size(), at);
    return got < 0 ? 0 : static_cast<std::uint32_t>(got);
}

std::uint64_t ImageSizeNow(const TImage& image) {
    const int fd = static_cast<int>(image.Handle);
    struct stat now {};
    if (::fstat(fd, &now) != 0) return 0;
    if (!S_ISBLK(now.st_mode)) return static_cast<std::uint64_t>(now.st_size);
    std::uint64_t size = 0;
    return ::ioctl(fd, BLKGETSIZE64, &size) == 0 ? size : 0;
}

void CloseImage(TImage& image) {
    if (image.Handle != image.BufferedHandle && image.Handle >= 0) ::close(static_cast<int>(image.Handle));
    if (image.BufferedHandle >= 0) ::close(static_cast<int>(image.BufferedHandle));
    image = TImage{};
}

}  // namespace sim
