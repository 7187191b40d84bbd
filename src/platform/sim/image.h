// The host files of the simulation: the scenario text, and the disk images (a file or a block
// device) that simulated drives read from; one twin per OS. Both are looked at before they are
// opened and opened so that nothing blocks: a FIFO or a device is refused, not waited for.
// Thread: main.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

// The whole text of a regular file of at most `limitMiB` MiB; the reason on failure ("it is a
// directory", "not a regular file", "larger than 16 MiB", the system's error text).
std::optional<std::string> ReadSmallFile(const std::string& path, std::uint32_t limitMiB, std::string& error);

struct TImage {
    std::intptr_t Handle = -1;
    std::intptr_t BufferedHandle = -1;  // a file's reads that direct I/O refuses; none for a device
    std::uint64_t Size = 0;
    std::uint32_t SectorSize = 0;  // a device's logical sector size; 0 for a file
};

// Opens the image for reading: a regular file with direct I/O where the file system allows it,
// a block device with direct I/O only; the error text on failure.
std::optional<TImage> OpenImage(const std::string& path, std::string& error);
// Reads `buffer.size()` bytes at `offset`; returns the bytes delivered, 0 on failure. Only a
// file's reads fall back to buffered I/O; a device's misaligned read fails, as on a drive.
std::uint32_t ReadImage(const TImage& image, std::uint64_t offset, std::span<std::uint8_t> buffer);
// The image's size as it is now: a file may have been cut short since it was opened.
std::uint64_t ImageSizeNow(const TImage& image);
void CloseImage(TImage& image);

}  // namespace sim
