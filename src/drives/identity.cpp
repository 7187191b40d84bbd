// A drive's identity from its IDENTIFY DEVICE data, the drive list and the detection screen
// (drives/identity.h).
// Thread: main.
#include "drives/identity.h"

#include <algorithm>
#include <memory>
#include <set>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "drives/open_drive.h"
#include "platform/drive_records.h"

namespace {

// Control bytes would move the cursor, ring the bell or break a line: they show as "?".
void MaskControlBytes(std::string& text) {
    for (char& c : text)
        if (static_cast<std::uint8_t>(c) < 32 || c == 127) c = '?';
}

// Takes at most `length` bytes from `byte` on, stopping before a zero byte, appends a blank and
// swaps the byte pairs of the result.
std::string IdentityText(std::span<const std::uint8_t, 512> data, std::size_t byte, std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length && data[byte + i] != 0; ++i) text += static_cast<char>(data[byte + i]);
    text += ' ';
    SwapBytePairs(text);
    return text;
}

// Says, once the program has ended, why the drives that were tried did not answer: each reason
// once, however often the search was repeated, under a heading that sets them apart from the
// shell's lines (the screen only guesses at missing rights).
void SayWhyNoDriveAnswered() {
    static std::set<std::string> said;
    const std::string name(plat::ProgramName());
    for (const std::string& note : plat::DriveProbeNotes()) {
        if (said.empty()) plat::SayAtExit("\n" + name + ": NO DRIVE ANSWERED. The reason, device by device:", true);
        if (said.insert(note).second) plat::SayAtExit(name + ": " + note, true);
    }
}

}  // namespace

void SwapBytePairs(std::span<char> buffer) {
    for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) std::swap(buffer[i], buffer[i + 1]);
}

void DecodeIdentity(std::span<const std::uint8_t, 512> data, TGeneralHDDInfo& info) {
    const plat::TIdentifyCapacity capacity = plat::IdentifyCapacity(data);
    info.Sectors = capacity.Sectors;
    info.AddressBits = capacity.AddressBits;
    info.SectorSize = capacity.SectorSize;
    info.Model = IdentityText(data, 54, 40);
    while (!info.Model.empty() && info.Model.size() >= 2 && info.Model[info.Model.size() - 2] == ' ')
        info.Model.pop_back();
    info.Firmware = IdentityText(data, 46, 8);
    info.Serial = IdentityText(data, 20, 20);
    while (!info.Serial.empty() && info.Serial.front() == ' ') info.Serial.erase(0, 1);
    for (std::string* text : {&info.Model, &info.Firmware, &info.Serial}) MaskControlBytes(*text);
    info.CacheKB = (data[42] | (data[43] << 8)) >> 1;
}

bool ReadDriveIdentity(int d, TGeneralHDDInfo& info) {
    const drives::TOpenDrive drive(d, plat::DriveAccess::Control);
    if (!drive.IsOpen()) return false;
    const plat::DriveHandle handle = drive.Handle();
    std::array<std::uint8_t, 24> version{};
    if (!plat::DriveControl(handle, plat::SMART_GET_VERSION, {}, version)) return false;

    auto request = std::make_unique<plat::TSendCmdRecord>();
    request->fill(0);
    // A drive that answers the version request but not IDENTIFY gets an all-zero identity.
    std::array<std::uint8_t, plat::IdentifyReplyLength> reply{};
    const auto input = std::span<const std::uint8_t>(*request).first(plat::SendCmdInputLength);
    plat::WriteSendCmd(*request, 0, plat::SmartEnableRegs(d), d);
    plat::DriveControl(handle, plat::SMART_SEND_DRIVE_COMMAND, input, reply);
    reply.fill(0);
    plat::WriteSendCmd(*request, 512, plat::IdentifyRegs(d), d);
    if (!plat::DriveControl(handle, plat::SMART_RCV_DRIVE_DATA, input, reply)) reply.fill(0);
    DecodeIdentity(std::span<const std::uint8_t, 512>(reply.data() + plat::SendCmdOutDataOffset, 512), info);
    return true;
}

std::int64_t SizeInMB(std::int64_t sectors, std::uint32_t sectorSize) { return sectors * (sectorSize / 512) / 2048; }

void ListDrives() {
    for (int d = 0; d < MaxDrives; ++d) {
        TGeneralHDDInfo info;
        if (!ReadDriveIdentity(d, info)) continue;
        App.DriveCount = d + 1;
        SetColor(clLightGreen);
        GotoColumn(0);
        WriteRaw({"[", std::int64_t{d + 1}, "] "});
        SetColor(clWhite);
        WriteRaw({std::string_view(info.Model)});
        SetColor(clDarkGrey);
        WriteRawLine({" ", SizeInMB(info.Sectors, info.SectorSize), " MB"});
        App.DriveSectors[static_cast<std::size_t>(d + 1)] = info.Sectors;
        App.DriveSectorSizes[static_cast<std::size_t>(d + 1)] = info.SectorSize;
    }
}

void DetectDrives() {
    for (;;) {
        SetCursor(2, 3);
        SetColor(clDarkGrey);
        ShowCursor(true);
        WriteLine("Определение устройств...");
        ShowCursor(false);
        WriteRawLine();
        SetCursor(26, 3);
        plat::SleepMs(700);
        SetCursor(0, 3);
        WriteBlanks(79);
        SetCursor(0, 3);
        ListDrives();
        if (App.DriveCount >= 1) {
            WriteRawLine();
            return;
        }
        SayWhyNoDriveAnswered();
        SetColor(clLightRed);
        WriteLine("Жесткие диски не определены!");
        SetColor(clRed);
        WriteLine("Возможно, отсутствуют права администратора.");
        SetColor(clWhite);
        WriteAtLineStart("Нажмите [ENTER], чтобы повторить поиск...");
        SetColor(clDarkGrey);
        WaitForEnter();
        for (int row = 3; row <= 5; ++row) {
            SetCursor(0, row);
            WriteBlanks(79);
        }
    }
}
