// Win32 physical drives: \\.\PhysicalDriveN, positioned reads and DeviceIoControl.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

HANDLE Native(DriveHandle drive) { return reinterpret_cast<HANDLE>(drive); }

}  // namespace

DriveHandle OpenDrive(int number, DriveAccess access) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(number);
    const HANDLE handle = access == DriveAccess::Read
                              ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr)
                              : CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? InvalidDrive : reinterpret_cast<DriveHandle>(handle);
}

void CloseDrive(DriveHandle drive) { CloseHandle(Native(drive)); }

std::uint32_t ReadDrive(DriveHandle drive, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const auto low = static_cast<DWORD>(offset);
    auto high = static_cast<LONG>(offset >> 32);
    if (SetFilePointer(Native(drive), static_cast<LONG>(low), &high, FILE_BEGIN) != low) return 0;
    DWORD read = 0;
    if (!ReadFile(Native(drive), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return 0;
    return read;
}

bool DriveControl(DriveHandle drive, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    DWORD returned = 0;
    // DeviceIoControl takes a non-const input pointer but only reads through it.
    return DeviceIoControl(Native(drive), code, const_cast<std::uint8_t*>(in.data()), static_cast<DWORD>(in.size()),
                           out.data(), static_cast<DWORD>(out.size()), &returned, nullptr) != FALSE;
}

}  // namespace plat
