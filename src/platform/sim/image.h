// Reading a disk image (a file or a block device) for a simulated drive; one twin per OS.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

struct TImage {
    std::intptr_t Handle = -1;
    std::intptr_t BufferedHandle = -1;  // for reads direct I/O refuses
    std::uint64_t Size = 0;
};

// Opens the image for reading, direct I/O where the file system allows it; the error text on
// failure.
std::optional<TImage> OpenImage(const std::string& path, std::string& error);
// Reads `buffer.size()` bytes at `offset`; returns the bytes delivered, 0 on failure.
std::uint32_t ReadImage(const TImage& image, std::uint64_t offset, std::span<std::uint8_t> buffer);
void CloseImage(TImage& image);

}  // namespace sim
