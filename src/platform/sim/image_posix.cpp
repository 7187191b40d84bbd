#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/image.h"

namespace sim {

std::optional<TImage> OpenImage(const std::string& path, std::string& error) {
    const int buffered = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (buffered < 0) {
        error = "cannot open image " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::uint64_t size = 0;
    if (::fstat(buffered, &st) == 0 && S_ISBLK(st.st_mode))
        ::ioctl(buffered, BLKGETSIZE64, &size);
    else if (::fstat(buffered, &st) == 0 && S_ISREG(st.st_mode))
        size = static_cast<std::uint64_t>(st.st_size);
    else {
        ::close(buffered);
        error = "image " + path + " is neither a file nor a block device";
        return std::nullopt;
    }
    TImage image;
    image.BufferedHandle = buffered;
    image.Handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
    if (image.Handle < 0) image.Handle = buffered;
    image.Size = size;
    return image;
}

std::uint32_t ReadImage(const TImage& image, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const auto at = static_cast<off_t>(offset);
    ssize_t got = ::pread(static_cast<int>(image.Handle), buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINVAL && image.Handle != image.BufferedHandle)
        got = ::pread(static_cast<int>(image.BufferedHandle), buffer.data(), buffer.size(), at);
    return got < 0 ? 0 : static_cast<std::uint32_t>(got);
}

void CloseImage(TImage& image) {
    if (image.Handle != image.BufferedHandle && image.Handle >= 0) ::close(static_cast<int>(image.Handle));
    if (image.BufferedHandle >= 0) ::close(static_cast<int>(image.BufferedHandle));
    image = TImage{};
}

}  // namespace sim
