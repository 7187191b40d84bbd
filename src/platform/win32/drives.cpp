// Win32 physical drives: \\.\PhysicalDrive0 to 63, positioned reads and DeviceIoControl.
//
// A drive whose driver answers the SMART interface gets every request as the program sends it.
// One that does not (NVMe, USB bridges, SATA on some drivers) but has a capacity is listed too:
// the SMART version request succeeds, IDENTIFY DEVICE is made up from what Windows knows
// (storage.h) unless IOCTL_ATA_PASS_THROUGH or, on a SCSI-like bus, ATA PASS-THROUGH carries the
// ATA commands, and the SMART commands go that way or fail. The spindle's IDE pass-through, which
// only the old ATA port drivers take, goes those ways too. Reads follow Windows' own view of a
// disk: its length and logical sector size (drive_reads.cpp).
// Thread: main.

// clang-format off
// The seam's records before the SDK headers, whose SMART macros would replace their names; the
// code below uses the SDK's names, which records_layout.cpp proves to be the same codes.
#include "platform/drive_records.h"
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
#include "platform/win32/drive_reads.h"
#include "platform/win32/error_text.h"
// clang-format on

namespace plat {
namespace {

using win32::ErrorText;

HANDLE Native(DriveHandle drive) { return reinterpret_cast<HANDLE>(drive); }

// What became of each drive number's latest open and identity request.
struct TNumber {
    bool Tried = false;
    DWORD Error = ERROR_SUCCESS;  // of the open
    std::string Failure;          // why it failed to open or to answer; empty when it did not
    std::vector<std::string> Remarks;
};
std::array<TNumber, win32::DriveNumbers> Numbers{};

// How the ATA commands on a control handle reach the drive.
enum class TRoute {
    Unknown,      // no SMART version request yet
    Smart,        // the driver's SMART interface
    PassThrough,  // IOCTL_ATA_PASS_THROUGH, else SCSI ATA PASS-THROUGH on a SCSI-like bus; else
                  // IDENTIFY made up and every other command failing
};

// The handles opened for control requests, with their drive numbers and routes.
struct TControl {
    HANDLE Handle = nullptr;
    int Number = -1;
    TRoute Route = TRoute::Unknown;
    bool FactsKnown = false;
    win32::TStorageFacts Facts;
};
std::array<TControl, 16> Controls{};

TControl* FindControl(HANDLE handle) {
    for (TControl& control : Controls)
        if (control.Handle != nullptr && control.Handle == handle) return &control;
    return nullptr;
}

TNumber& NumberOf(const TControl& control) { return Numbers[static_cast<std::size_t>(control.Number)]; }

const win32::TStorageFacts& Facts(TControl& control) {
    if (!control.FactsKnown) {
        control.Facts = win32::QueryStorageFacts(control.Handle);
        if (control.Facts.Disk.Model.empty()) control.Facts.Disk.Model = DrivePath(control.Number);
    }
    control.FactsKnown = true;
    return control.Facts;
}

bool NativeControl(HANDLE handle, std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    DWORD returned = 0;
    // DeviceIoControl takes a non-const input pointer but only reads through it.
    return win32::sys::DeviceIoControl(handle, code, const_cast<std::uint8_t*>(in.data()),
                                       static_cast<DWORD>(in.size()), out.data(), static_cast<DWORD>(out.size()),
                                       &returned, nullptr) != FALSE;
}

// One ATA command by IOCTL_ATA_PASS_THROUGH, else as ATA PASS-THROUGH where the bus may carry it.
ata::TAtaOutcome SendPassThrough(TControl& control, const plat::TIdeRegs& regs, plat::TAtaData phase,
                                 std::span<std::uint8_t> data) {
    const ata::TAtaOutcome outcome = win32::SendAtaPassThrough(control.Handle, regs, phase, data);
    if (outcome != ata::TAtaOutcome::NoAta || !win32::CarriesSat(Facts(control).BusType)) return outcome;
    return win32::SendSatCommand(control.Handle, regs, phase, data);
}

// An ATA request carried out by pass-through (`passThrough`) or not at all, IDENTIFY made up
// where it does not complete.
bool CarryOut(TControl& control, bool passThrough, const std::optional<plat::TAtaRequest>& request,
              std::span<std::uint8_t> out) {
    if (!request) return false;
    const win32::TStorageFacts& facts = Facts(control);
    return ata::CarryOutRequest(
        *request, out, facts.Bytes,
        [&](const plat::TIdeRegs& regs, plat::TAtaData phase, std::span<std::uint8_t> data) {
            return passThrough ? SendPassThrough(control, regs, phase, data) : ata::TAtaOutcome::NoAta;
        },
        [&] { return ata::SynthesizeIdentify(facts.Disk); });
}

// The remarks on the identity just read: the bus of a virtual disk, and where Windows' view of
// the disk differs. A drive whose identity tells more than Windows can read ends where Windows says
// (the words of its capacity rewritten); one Windows reads in sectors of another size is read
// through whole sectors of Windows'.
void RemarkOnIdentity(TControl& control, std::span<std::uint8_t> reply) {
    TNumber& number = NumberOf(control);
    const win32::TStorageFacts& facts = Facts(control);
    number.Remarks.clear();
    if (const std::string bus = win32::VirtualBusName(facts.BusType); !bus.empty())
        number.Remarks.push_back("a virtual disk (" + bus + " bus): its timings measure the host's storage");
    const std::span<std::uint8_t> sector = plat::ReplySector(reply);
    if (sector.size() < 512 || facts.Bytes == 0) return;
    const plat::TIdentifyCapacity identity =
        plat::IdentifyCapacity(std::span<const std::uint8_t, 512>(sector.data(), 512));
    const auto identityBytes = static_cast<std::uint64_t>(identity.Sectors) * identity.SectorSize;
    if (identityBytes > facts.Bytes) {
        number.Remarks.push_back("the drive tells " + std::to_string(identity.Sectors) + " sectors, Windows reads " +
                                 std::to_string(facts.Bytes / identity.SectorSize) + ": the rest lies beyond its end");
        ata::SetIdentifySectors(std::span<std::uint8_t, 512>(sector.data(), 512), facts.Bytes / identity.SectorSize);
    }
    if (facts.Disk.SectorSize != identity.SectorSize && identity.Sectors > 0)
        number.Remarks.push_back("the drive's sectors are " + std::to_string(identity.SectorSize) +
                                 " bytes, Windows reads it in " + std::to_string(facts.Disk.SectorSize) + "-byte ones");
}

bool IsAtaRequest(std::uint32_t code) {
    return code == SMART_SEND_DRIVE_COMMAND || code == SMART_RCV_DRIVE_DATA || code == IOCTL_IDE_PASS_THROUGH;
}

bool IsIdentify(const std::optional<plat::TAtaRequest>& request) {
    return request && request->Regs.bCommandReg == plat::AtaIdentify;
}

// An ATA request on the SMART route: as sent; a failed IDENTIFY takes the identity Windows knows
// and a failed IDE pass-through (the spindle's, which storahci and stornvme refuse) goes by
// pass-through. Without a SMART version request first, a failed request goes by pass-through.
bool SmartRequest(TControl& control, std::uint32_t code, const std::optional<plat::TAtaRequest>& request,
                  std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    if (NativeControl(control.Handle, code, in, out)) return true;
    if (control.Route == TRoute::Smart && code != IOCTL_IDE_PASS_THROUGH)
        return IsIdentify(request) && CarryOut(control, false, request, out);
    if (control.Route == TRoute::Unknown && Facts(control).Bytes == 0) return false;
    if (control.Route == TRoute::Unknown) control.Route = TRoute::PassThrough;
    return CarryOut(control, true, request, out);
}

bool ControlDrive(TControl& control, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    if (code == SMART_GET_VERSION) {
        if (NativeControl(control.Handle, code, in, out)) {
            control.Route = TRoute::Smart;
            return true;
        }
        const DWORD error = GetLastError();
        if (Facts(control).Bytes > 0) {
            control.Route = TRoute::PassThrough;
            return true;
        }
        NumberOf(control).Failure = DrivePath(control.Number) +
                                    ": no capacity, and no answer to the SMART version request: " + ErrorText(error);
        return false;
    }
    if (!IsAtaRequest(code)) return NativeControl(control.Handle, code, in, out);
    const std::optional<plat::TAtaRequest> request = plat::DecodeAtaRequest(code, in);
    const bool done = control.Route == TRoute::PassThrough ? CarryOut(control, true, request, out)
                                                           : SmartRequest(control, code, request, in, out);
    if (done && IsIdentify(request) && code == SMART_RCV_DRIVE_DATA) RemarkOnIdentity(control, out);
    return done;
}

// A sentence for a process that could open no drive because it is not elevated.
constexpr std::string_view NotElevated =
    "no drive can be opened without Administrator rights: start the program with \"Run as administrator\"";

}  // namespace

DriveHandle OpenDrive(int number, DriveAccess access) {
    const std::string path = DrivePath(number);
    // Both ways shared: a fan controller, a hardware monitor or the program's own SMART reading may
    // hold the disk open for writing, as Windows' guidance for physical drives expects. The scan's
    // handle itself only reads.
    const HANDLE handle =
        win32::sys::CreateFileA(path.c_str(), access == DriveAccess::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (number < 0 || number >= win32::DriveNumbers) return InvalidDrive;
    TNumber& tried = Numbers[static_cast<std::size_t>(number)];
    tried.Tried = true;
    tried.Error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    tried.Failure = tried.Error == ERROR_SUCCESS ? std::string() : path + ": " + ErrorText(tried.Error);
    if (handle == INVALID_HANDLE_VALUE) return InvalidDrive;
    if (access == DriveAccess::Read) win32::BeginReads(handle);
    for (TControl& control : Controls)
        if (access == DriveAccess::Control && control.Handle == nullptr) {
            control = TControl{};
            control.Handle = handle;
            control.Number = number;
            break;
        }
    return reinterpret_cast<DriveHandle>(handle);
}

void CloseDrive(DriveHandle drive) {
    if (TControl* control = FindControl(Native(drive))) *control = TControl{};
    win32::EndReads(Native(drive));
    win32::sys::CloseHandle(Native(drive));
}

namespace {
DWORD LastReadError = ERROR_SUCCESS;  // of the last ReadDrive
// ERROR_NO_SUCH_DEVICE, "a device which does not exist was specified", which mingw's headers lack.
constexpr DWORD NoSuchDevice = 433;
}  // namespace

std::uint32_t ReadDrive(DriveHandle drive, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    LastReadError = ERROR_SUCCESS;
    const std::uint32_t read = win32::ReadAligned(Native(drive), offset, buffer);
    if (read < buffer.size()) LastReadError = GetLastError();
    return read;
}

// A disk surprise-removed fails its handle's requests with "device not connected", "no such
// device" or "device does not exist"; a medium taken out with "not ready".
bool DriveGone(DriveHandle, std::uint64_t) {
    switch (LastReadError) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case NoSuchDevice:
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
    return number < win32::DriveNumbers ? number : -1;
}

namespace {

// What the latest search came to: which numbers exist, and whether every one of them refused access.
struct TSearch {
    int Last = -1;  // the highest number tried
    bool AnyPresent = false;
    bool AllDenied = true;
};

bool IsMissing(const TNumber& number) {
    return number.Error == ERROR_FILE_NOT_FOUND || number.Error == ERROR_PATH_NOT_FOUND;
}

TSearch LatestSearch() {
    TSearch search;
    for (std::size_t n = 0; n < Numbers.size(); ++n) {
        const TNumber& number = Numbers[n];
        if (!number.Tried) continue;
        search.Last = static_cast<int>(n);
        search.AnyPresent = search.AnyPresent || !IsMissing(number);
        search.AllDenied = search.AllDenied && (IsMissing(number) || number.Error == ERROR_ACCESS_DENIED);
    }
    return search;
}

}  // namespace

std::vector<std::string> DriveProbeNotes() {
    const TSearch search = LatestSearch();
    if (search.Last < 0) return {};
    if (!search.AnyPresent) return {"no \\\\.\\PhysicalDrive0 to " + std::to_string(search.Last) + " exists"};
    if (search.AllDenied) return {std::string(NotElevated)};
    std::vector<std::string> notes;
    for (const TNumber& number : Numbers)
        if (number.Tried && !number.Failure.empty() && !IsMissing(number)) notes.push_back(number.Failure);
    return notes;
}

std::vector<std::string> DriveRemarks(int number) {
    if (number < 0 || number >= win32::DriveNumbers) return {};
    return Numbers[static_cast<std::size_t>(number)].Remarks;
}

}  // namespace plat
