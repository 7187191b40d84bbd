// The host files of the simulation on Windows: the scenario text, and disk images (a file, or a
// device such as \\.\PhysicalDrive1).
// Thread: main.
#include <windows.h>
#include <winioctl.h>

#include <array>

#include "platform/sim/image.h"
#include "platform/win32/error_text.h"

namespace sim {
namespace {

using plat::win32::ErrorText;

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t Open(const std::string& path, DWORD flags) {
    return reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       nullptr, OPEN_EXISTING, flags, nullptr));
}

bool IsOpen(std::intptr_t handle) { return Native(handle) != INVALID_HANDLE_VALUE; }

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A disk or volume: its size and logical sector size, which a file does not have.
bool DiskSize(HANDLE handle, std::uint64_t& size, std::uint32_t& sectorSize) {
    DISK_GEOMETRY geometry{};
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned,
                         nullptr) ||
        !DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
        return false;
    size = static_cast<std::uint64_t>(length.Length.QuadPart);
    sectorSize = geometry.BytesPerSector;
    return true;
}

// A file on a file system (not a disk, console, pipe or other device): its size.
bool FileSize(HANDLE handle, std::uint64_t& size) {
    std::uint64_t diskSize = 0;
    std::uint32_t sectorSize = 0;
    LARGE_INTEGER fileSize{};
    if (GetFileType(handle) != FILE_TYPE_DISK || DiskSize(handle, diskSize, sectorSize) ||
        !GetFileSizeEx(handle, &fileSize))
        return false;
    size = static_cast<std::uint64_t>(fileSize.QuadPart);
    return true;
}

std::uint32_t ReadAt(std::intptr_t handle, std::uint64_t offset, std::span<std::uint8_t> buffer, DWORD& error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (ReadFile(Native(handle), buffer.data(), static_cast<DWORD>(buffer.size()), &read, &at)) return read;
    error = GetLastError();
    return 0;
}

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, std::uint32_t limitMiB, std::string& error) {
    const std::uint64_t limit = std::uint64_t{limitMiB} << 20;
    const std::string tooLarge = "larger than " + std::to_string(limitMiB) + " MiB";
    if (IsDirectory(path)) {
        error = "it is a directory";
        return std::nullopt;
    }
    // Opening a pipe or a device does not wait; reading it might, so only a file is read.
    const HANDLE file = Native(Open(path, FILE_ATTRIBUTE_NORMAL));
    if (file == INVALID_HANDLE_VALUE) {
        error = ErrorText(GetLastError());
        return std::nullopt;
    }
    std::uint64_t size = 0;
    if (!FileSize(file, size) || size > limit) {
        error = size > limit ? tooLarge : "not a regular file";
        CloseHandle(file);
        return std::nullopt;
    }
    std::string text;
    std::array<char, 16384> chunk;
    DWORD got = 0;
    bool ok = true;
    while (text.size() <= limit &&
           (ok = ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) != 0) && got > 0)
        text.append(chunk.data(), got);
    if (!ok) error = ErrorText(GetLastError());
    if (ok && text.size() > limit) error = tooLarge;  // it grew since it was looked at
    CloseHandle(file);
    if (!ok || text.size() > limit) return std::nullopt;
    return text;
}

std::optional<TImage> OpenImage(const std::string& path, std::string& error) {
    const std::string notImage = "image " + path + " is neither a file nor a disk";
    if (IsDirectory(path)) {
        error = notImage;
        return std::nullopt;
    }
    const std::intptr_t buffered = Open(path, FILE_ATTRIBUTE_NORMAL);
    if (!IsOpen(buffered)) {
        error = "cannot open image " + path + ": " + ErrorText(GetLastError());
        return std::nullopt;
    }
    TImage image;
    if (DiskSize(Native(buffered), image.Size, image.SectorSize)) {
        // A disk is read unbuffered only: a read it refuses fails as it would on a drive.
        CloseHandle(Native(buffered));
        image.Handle = Open(path, FILE_FLAG_NO_BUFFERING);
        if (!IsOpen(image.Handle)) {
            error = "cannot open image " + path + " for direct reads: " + ErrorText(GetLastError());
            return std::nullopt;
        }
        return image;
    }
    if (!FileSize(Native(buffered), image.Size)) {
        CloseHandle(Native(buffered));
        error = notImage;
        return std::nullopt;
    }
    image.BufferedHandle = buffered;
    image.Handle = Open(path, FILE_FLAG_NO_BUFFERING);
    if (!IsOpen(image.Handle)) image.Handle = buffered;
    return image;
}

std::uint32_t ReadImage(const TImage& image, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    DWORD error = ERROR_SUCCESS;
    const std::uint32_t read = ReadAt(image.Handle, offset, buffer, error);
    // Unbuffered reads of a file want sector-aligned offsets, lengths and buffers.
    if (error == ERROR_INVALID_PARAMETER && IsOpen(image.BufferedHandle) && image.Handle != image.BufferedHandle)
        return ReadAt(image.BufferedHandle, offset, buffer, error);
    return read;
}

std::uint64_t ImageSizeNow(const TImage& image) {
    std::uint64_t size = 0;
    std::uint32_t sectorSize = 0;
    const HANDLE handle = Native(IsOpen(image.BufferedHandle) ? image.BufferedHandle : image.Handle);
    if (DiskSize(handle, size, sectorSize) || FileSize(handle, size)) return size;
    return 0;
}

void CloseImage(TImage& image) {
    if (image.Handle != image.BufferedHandle && IsOpen(image.Handle)) CloseHandle(Native(image.Handle));
    if (IsOpen(image.BufferedHandle)) CloseHandle(Native(image.BufferedHandle));
    image = TImage{};
}

}  // namespace sim
