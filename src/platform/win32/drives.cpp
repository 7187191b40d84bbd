// Win32 physical drives: \\.\PhysicalDriveN, positioned reads and DeviceIoControl, on the main
// thread (identity, SMART, spindle) and the scan thread (reads).
//
// A drive whose driver answers the SMART interface gets every request as the program sends it.
// One that does not (NVMe, USB bridges, SATA on some drivers) but has a capacity is listed too:
// the SMART version request succeeds, IDENTIFY DEVICE is made up from what Windows knows
// (storage.h) unless a SCSI-like bus carries the ATA commands as ATA PASS-THROUGH (16), and the
// SMART commands go that way or fail.
// clang-format off
// The portable records before the SDK headers, whose SMART macros would replace their names; the
// code below uses the SDK's names, which records_check.cpp proves to be the same codes.
#include "drives/requests.h"
#include "platform/ata/passthrough.h"
#include "platform/win32/storage.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/drive_calls.h"
#include "platform/win32/error_text.h"
// clang-format on

namespace plat {
namespace {

using win32::ErrorText;

HANDLE Native(DriveHandle drive) { return reinterpret_cast<HANDLE>(drive); }

constexpr int Drives = 16;

// Why each drive number last failed to open or to answer; empty when it did not fail.
std::array<std::string, Drives> LastFailure;
std::array<bool, Drives> Missing{};  // no such device

// How the ATA commands on a control handle reach the drive.
enum class TRoute {
    Unknown,  // no SMART version request yet
    Smart,    // the driver's SMART interface
    Sat,      // ATA PASS-THROUGH (16), or made up where the bridge refuses it
    MadeUp,   // none: IDENTIFY is made up, every other command fails
};

// The handles opened for control requests, with their drive numbers and routes.
struct TControl {
    HANDLE Handle = nullptr;
    int Number = -1;
    TRoute Route = TRoute::Unknown;
    bool FactsKnown = false;
    win32::TStorageFacts Facts;
};
std::array<TControl, Drives> Controls{};

TControl* FindControl(HANDLE handle) {
    for (TControl& control : Controls)
        if (control.Handle != nullptr && control.Handle == handle) return &control;
    return nullptr;
}

const win32::TStorageFacts& Facts(TControl& control) {
    if (!control.FactsKnown) {
        control.Facts = win32::QueryStorageFacts(control.Handle);
        if (control.Facts.Disk.Model.empty()) control.Facts.Disk.Model = DrivePath(control.Number);
    }
    control.FactsKnown = true;
    return control.Facts;
}

// Chooses how commands reach a drive that does not answer the SMART interface; false when
// Windows gives no capacity for it either.
bool ChooseOtherRoute(TControl& control) {
    if (Facts(control).Bytes == 0) return false;
    control.Route = win32::CarriesSat(control.Facts.BusType) ? TRoute::Sat : TRoute::MadeUp;
    return true;
}

bool NativeControl(HANDLE handle, std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    DWORD returned = 0;
    // DeviceIoControl takes a non-const input pointer but only reads through it.
    return win32::sys::DeviceIoControl(handle, code, const_cast<std::uint8_t*>(in.data()),
                                       static_cast<DWORD>(in.size()), out.data(), static_cast<DWORD>(out.size()),
                                       &returned, nullptr) != FALSE;
}

// An ATA request carried out as ATA PASS-THROUGH (`sat`) or not at all, IDENTIFY made up where
// it does not complete.
bool CarryOut(TControl& control, bool sat, const std::optional<drives::TAtaRequest>& request,
              std::span<std::uint8_t> out) {
    if (!request) return false;
    const win32::TStorageFacts& facts = Facts(control);
    return ata::CarryOutRequest(
        *request, out, facts.Bytes,
        [&](const drives::TIdeRegs& regs, drives::TAtaData phase, std::span<std::uint8_t> data) {
            return sat ? win32::SendSatCommand(control.Handle, regs, phase, data) : ata::TAtaOutcome::NoAta;
        },
        [&] { return ata::SynthesizeIdentify(facts.Disk); });
}

bool IsAtaRequest(std::uint32_t code) {
    return code == SMART_SEND_DRIVE_COMMAND || code == SMART_RCV_DRIVE_DATA || code == IOCTL_IDE_PASS_THROUGH;
}

bool ControlDrive(TControl& control, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    if (code == SMART_GET_VERSION) {
        if (NativeControl(control.Handle, code, in, out)) {
            control.Route = TRoute::Smart;
            return true;
        }
        const DWORD error = GetLastError();
        if (ChooseOtherRoute(control)) return true;
        LastFailure[static_cast<std::size_t>(control.Number)] =
            DrivePath(control.Number) +
            ": no capacity, and no answer to the SMART version request: " + ErrorText(error);
        return false;
    }
    if (!IsAtaRequest(code)) return NativeControl(control.Handle, code, in, out);
    const std::optional<drives::TAtaRequest> request = drives::DecodeAtaRequest(code, in);
    if (control.Route == TRoute::Smart || control.Route == TRoute::Unknown) {
        if (NativeControl(control.Handle, code, in, out)) return true;
        // A driver that answers the version request but fails IDENTIFY: the identity Windows knows.
        if (control.Route == TRoute::Smart)
            return request && request->Regs.bCommandReg == drives::AtaIdentify &&
                   CarryOut(control, false, request, out);
        // A command sent without the version request first (the spindle's): once more, through
        // ATA PASS-THROUGH where the bus may carry it.
        if (!ChooseOtherRoute(control) || control.Route != TRoute::Sat) return false;
    }
    return CarryOut(control, control.Route == TRoute::Sat, request, out);
}

}  // namespace

DriveHandle OpenDrive(int number, DriveAccess access) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(number);
    const HANDLE handle =
        access == DriveAccess::Read
            ? win32::sys::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
            : win32::sys::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (number >= 0 && number < Drives) {
        const auto n = static_cast<std::size_t>(number);
        const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        Missing[n] = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        LastFailure[n] = error == ERROR_SUCCESS ? std::string() : path + ": " + ErrorText(error);
        if (handle != INVALID_HANDLE_VALUE && access == DriveAccess::Control)
            for (TControl& control : Controls)
                if (control.Handle == nullptr) {
                    control = TControl{};
                    control.Handle = handle;
                    control.Number = number;
                    break;
                }
    }
    return handle == INVALID_HANDLE_VALUE ? InvalidDrive : reinterpret_cast<DriveHandle>(handle);
}

void CloseDrive(DriveHandle drive) {
    if (TControl* control = FindControl(Native(drive))) *control = TControl{};
    win32::sys::CloseHandle(Native(drive));
}

namespace {
DWORD LastReadError = ERROR_SUCCESS;  // of the last ReadDrive
}  // namespace

std::uint32_t ReadDrive(DriveHandle drive, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const auto low = static_cast<DWORD>(offset);
    auto high = static_cast<LONG>(offset >> 32);
    LastReadError = ERROR_SUCCESS;
    if (win32::sys::SetFilePointer(Native(drive), static_cast<LONG>(low), &high, FILE_BEGIN) != low) {
        LastReadError = GetLastError();
        return 0;
    }
    DWORD read = 0;
    if (!win32::sys::ReadFile(Native(drive), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
        LastReadError = GetLastError();
        return 0;
    }
    return read;
}

// A disk surprise-removed fails its handle's requests with "device not connected", "no such
// device" or "device does not exist"; a medium taken out with "not ready".
bool DriveGone(DriveHandle, std::uint64_t) {
    switch (LastReadError) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NO_SUCH_DEVICE:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NOT_READY:
        case ERROR_FILE_INVALID:
            return true;
        default:
            return false;
    }
}

bool DriveControl(DriveHandle drive, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    if (TControl* control = FindControl(Native(drive))) return ControlDrive(*control, code, in, out);
    return NativeControl(Native(drive), code, in, out);
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
