// Win32 physical drives: \\.\PhysicalDriveN, positioned reads and DeviceIoControl.
#include <windows.h>
#include <winioctl.h>

#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/error_text.h"

namespace plat {
namespace {

using win32::ErrorText;

HANDLE Native(DriveHandle drive) { return reinterpret_cast<HANDLE>(drive); }

constexpr int Drives = 16;

// Why each drive number last failed to open or to answer; empty when it did not fail.
std::array<std::string, Drives> LastFailure;
std::array<bool, Drives> Missing{};  // no such device

// The handles opened for control requests, with their drive numbers, for the notes.
std::array<std::pair<HANDLE, int>, Drives> ControlHandles{};

}  // namespace

DriveHandle OpenDrive(int number, DriveAccess access) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(number);
    const HANDLE handle = access == DriveAccess::Read
                              ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr)
                              : CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (number >= 0 && number < Drives) {
        const auto n = static_cast<std::size_t>(number);
        const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        Missing[n] = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        LastFailure[n] = error == ERROR_SUCCESS ? std::string() : path + ": " + ErrorText(error);
        if (handle != INVALID_HANDLE_VALUE && access == DriveAccess::Control)
            for (auto& slot : ControlHandles)
                if (slot.first == nullptr) {
                    slot = {handle, number};
                    break;
                }
    }
    return handle == INVALID_HANDLE_VALUE ? InvalidDrive : reinterpret_cast<DriveHandle>(handle);
}

void CloseDrive(DriveHandle drive) {
    for (auto& slot : ControlHandles)
        if (slot.first == Native(drive)) slot = {};
    CloseHandle(Native(drive));
}

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
    const bool done =
        DeviceIoControl(Native(drive), code, const_cast<std::uint8_t*>(in.data()), static_cast<DWORD>(in.size()),
                        out.data(), static_cast<DWORD>(out.size()), &returned, nullptr) != FALSE;
    if (!done && code == SMART_GET_VERSION)  // detection passes the drive over
        for (const auto& [handle, number] : ControlHandles)
            if (handle == Native(drive))
                LastFailure[static_cast<std::size_t>(number)] =
                    DrivePath(number) + ": no answer to the SMART version request: " + ErrorText(GetLastError());
    return done;
}

std::string DrivePath(int number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

int DriveNumberOfPath(const std::string& path) {
    constexpr std::string_view Prefix = "\\\\.\\physicaldrive";
    if (path.size() <= Prefix.size() || path.size() > Prefix.size() + 2) return -1;
    for (std::size_t i = 0; i < Prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[i])) != Prefix[i]) return -1;
    int number = 0;
    for (std::size_t i = Prefix.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return -1;
        number = number * 10 + (path[i] - '0');
    }
    return number < Drives ? number : -1;
}

std::vector<std::string> DriveProbeNotes() {
    std::vector<std::string> notes;
    bool anyPresent = false;
    for (std::size_t n = 0; n < Drives; ++n) {
        anyPresent = anyPresent || !Missing[n];
        if (!LastFailure[n].empty() && !Missing[n]) notes.push_back(LastFailure[n]);
    }
    if (!anyPresent) notes.push_back("no \\\\.\\PhysicalDrive0 to 15 exists");
    return notes;
}

}  // namespace plat
