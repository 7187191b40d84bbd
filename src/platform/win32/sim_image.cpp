// Disk images of simulated drives on Windows: a file, or a device such as \\.\PhysicalDrive1.
#include <windows.h>
#include <winioctl.h>

#include "platform/sim/image.h"

namespace sim {
namespace {

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t Open(const std::string& path, DWORD flags) {
    return reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       nullptr, OPEN_EXISTING, flags, nullptr));
}

bool IsOpen(std::intptr_t handle) { return Native(handle) != INVALID_HANDLE_VALUE; }

std::string ErrorText(DWORD code) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(code) : message;
}

// The size of a file, or of a disk device, which has no file size.
bool ImageSize(HANDLE handle, std::uint64_t& size) {
    LARGE_INTEGER fileSize{};
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &fileSize)) {
        size = static_cast<std::uint64_t>(fileSize.QuadPart);
        return true;
    }
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
        return false;
    size = static_cast<std::uint64_t>(length.Length.QuadPart);
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

std::optional<TImage> OpenImage(const std::string& path, std::string& error) {
    const std::intptr_t buffered = Open(path, FILE_ATTRIBUTE_NORMAL);
    if (!IsOpen(buffered)) {
        error = "cannot open image " + path + ": " + ErrorText(GetLastError());
        return std::nullopt;
    }
    TImage image;
    image.BufferedHandle = buffered;
    if (!ImageSize(Native(buffered), image.Size)) {
        CloseHandle(Native(buffered));
        error = "image " + path + " is neither a file nor a disk";
        return std::nullopt;
    }
    image.Handle = Open(path, FILE_FLAG_NO_BUFFERING);
    if (!IsOpen(image.Handle)) image.Handle = buffered;
    return image;
}

std::uint32_t ReadImage(const TImage& image, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    DWORD error = ERROR_SUCCESS;
    const std::uint32_t read = ReadAt(image.Handle, offset, buffer, error);
    // Unbuffered reads want sector-aligned offsets, lengths and buffers.
    if (error == ERROR_INVALID_PARAMETER && image.Handle != image.BufferedHandle)
        return ReadAt(image.BufferedHandle, offset, buffer, error);
    return read;
}

void CloseImage(TImage& image) {
    if (image.Handle != image.BufferedHandle && IsOpen(image.Handle)) CloseHandle(Native(image.Handle));
    if (IsOpen(image.BufferedHandle)) CloseHandle(Native(image.BufferedHandle));
    image = TImage{};
}

}  // namespace sim
