// The SMART attribute table (smart/table.h): the requests, the rows and the paged table screen.
// Thread: main.
#include "smart/table.h"

#include <algorithm>
#include <memory>
#include <string>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "drives/open_drive.h"
#include "drives/panel.h"

namespace {

constexpr int FirstPageRows = 15;
constexpr std::size_t SlotBytes = 12;

// Appends two blanks (none before the first field), then the text followed by blanks up to
// `width` (never cut).
void AddField(std::string& row, const std::string& text, std::size_t width) {
    row.append(row.size() == 1 ? 0 : 2, ' ');
    row.append(text);
    if (text.size() < width) row.append(width - text.size(), ' ');
}

// The Raw column: five digits and two blanks on the screen, all fifteen digits of 2^48 - 1 in the
// text output.
constexpr std::size_t RawWidth = 7;
constexpr std::size_t WholeRawWidth = 15;

void WriteRule() {
    SetColor(clWhite);
    WriteRaw({std::string_view(std::string(80, '\xC4'))});
    SetColor(clDarkGrey);
}

void PageBreak() {
    SetCursor(0, 23);
    SetColor(clWhite);
    WriteText("Нажмите [ENTER] для перехода на следующую страницу...");
    plat::SleepMs(400);
    WaitForEnter();
    SetColor(clDarkGrey);
    SetCursor(0, 7);
    WriteRaw({std::string_view(std::string(17 * 80, ' '))});
    SetCursor(0, 7);
}

const std::uint8_t* Entry(const std::array<std::uint8_t, 512>& sector, std::size_t slot) {
    return sector.data() + 2 + slot * SlotBytes;
}

unsigned Raw16(const std::uint8_t* entry) { return entry[5] | (entry[6] << 8); }

std::uint64_t Raw48(const std::uint8_t* entry) {
    std::uint64_t raw = 0;
    for (int i = 10; i >= 5; --i) raw = (raw << 8) | entry[i];
    return raw;
}

TSmartListener Listener = nullptr;

}  // namespace

plat::TIdeRegs SmartReadThresholdsRegs(int drive) {
    return plat::TIdeRegs{0xD1, 1, 1, 0x4F, 0xC2, plat::DriveHeadFor(drive), plat::AtaSmart, 0};
}

plat::TIdeRegs SmartReadDataRegs(int drive) {
    return plat::TIdeRegs{0xD0, 1, 1, 0x4F, 0xC2, plat::DriveHeadFor(drive), plat::AtaSmart, 0};
}

std::string SmartTableHeading(bool wholeRaw) {
    std::string header(SmartTableHeader);
    if (wholeRaw) header.insert(header.find("Threshold"), WholeRawWidth - RawWidth, ' ');
    return header;
}

bool IsAttributeListed(std::uint16_t id) {
    return std::find(App.ListedAttributeIds.begin(), App.ListedAttributeIds.end(), id) != App.ListedAttributeIds.end();
}

void SetSmartListener(TSmartListener listener) { Listener = listener; }

// The ATA SMART requests; true with both sectors read.
bool ReadAtaSmart(const drives::TOpenDrive& drive, int d, TSmartSectors& sectors, bool identifyMayFail) {
    auto request = std::make_unique<plat::TSendCmdRecord>();
    auto reply = std::make_unique<std::array<std::uint8_t, SmartReceiveReplyLength>>();
    const auto input = std::span<const std::uint8_t>(*request).first(plat::SendCmdInputLength);
    const auto send = [&](std::uint32_t code, std::uint32_t bufferSize, const plat::TIdeRegs& regs,
                          std::uint32_t replyLength) {
        plat::WriteSendCmd(*request, bufferSize, regs, d);
        return plat::DriveControl(drive.Handle(), code, input, std::span(*reply).first(replyLength));
    };
    const auto sector = [&] { return reply->begin() + plat::SendCmdOutDataOffset; };
    std::array<std::uint8_t, 24> version{};
    request->fill(0);
    if (!plat::DriveControl(drive.Handle(), plat::SMART_GET_VERSION, {}, version) ||
        !send(plat::SMART_SEND_DRIVE_COMMAND, 0, plat::SmartEnableRegs(d), SmartSendReplyLength))
        return false;
    if (!send(plat::SMART_RCV_DRIVE_DATA, 512, plat::IdentifyRegs(d), SmartReceiveReplyLength) && !identifyMayFail)
        return false;
    if (!send(plat::SMART_RCV_DRIVE_DATA, 512, SmartReadThresholdsRegs(d), SmartReceiveReplyLength)) return false;
    std::copy_n(sector(), 512, sectors.Thresholds.begin());
    reply->fill(0);
    if (!send(plat::SMART_RCV_DRIVE_DATA, 512, SmartReadDataRegs(d), SmartReceiveReplyLength)) return false;
    std::copy_n(sector(), 512, sectors.Values.begin());
    return true;
}

bool ReadNvmeHealth(const drives::TOpenDrive& drive, TNvmeLog& log) {
    const plat::TNvmeQuery request = plat::BuildNvmeHealthQuery();
    plat::TNvmeQuery reply = request;
    if (!plat::DriveControl(drive.Handle(), plat::IOCTL_STORAGE_QUERY_PROPERTY, request, reply)) return false;
    const std::span<const std::uint8_t> found = plat::NvmeHealthReply(reply);
    if (found.empty()) return false;
    std::copy(found.begin(), found.end(), log.begin());
    return true;
}

namespace {

// Opens, reads and closes drive `d`; `holding` is told the handle while the drive is open.
void ReadSmartOf(int d, TSmartReading& reading, plat::DriveHandle* holding, bool identifyMayFail) {
    drives::TOpenDrive drive(d, plat::DriveAccess::Control);
    if (!drive.IsOpen()) {
        reading.Outcome = TSmartOutcome::CannotOpen;
        return;
    }
    if (holding) *holding = drive.Handle();
    if (ReadAtaSmart(drive, d, reading.Ata, identifyMayFail))
        reading.Outcome = TSmartOutcome::Read;
    else
        reading.Outcome = ReadNvmeHealth(drive, reading.Nvme) ? TSmartOutcome::Nvme : TSmartOutcome::Refused;
    drive.Close();
    if (holding) *holding = plat::InvalidDrive;
}

}  // namespace

void ReadSmart(int d, TSmartReading& reading, bool identifyMayFail) {
    ReadSmartOf(d, reading, &App.DriveHandle, identifyMayFail);
    if (Listener) Listener(reading);
}

void ReadSmartQuietly(int d, TSmartReading& reading) { ReadSmartOf(d, reading, nullptr, false); }

std::vector<TSmartRow> SmartTableRows(const TSmartReading& reading, bool whole) {
    std::vector<TSmartRow> rows;
    if (reading.Outcome == TSmartOutcome::Nvme) {
        const auto health = NvmeHealthRowsOf(reading.Nvme);
        for (std::size_t i = 0; i < health.size(); ++i)
            rows.push_back(TSmartRow{NvmeRowText(reading.Nvme, i, whole), health[i].Alarming, i});
        return rows;
    }
    App.ListedAttributeIds.fill(0xFFFF);
    for (std::size_t slot = 0; slot < SmartSlots; ++slot) {
        const std::uint8_t* entry = Entry(reading.Ata.Values, slot);
        if (SmartAttributeName(entry[0]) == "Unknown") continue;
        App.ListedAttributeIds[slot] = entry[0];
        std::string row = " ";
        AddField(row, std::to_string(entry[0]), 4);
        AddField(row, std::string(SmartAttributeLabel(entry[0])), 34);
        AddField(row, std::to_string(entry[3]), 6);
        AddField(row, std::to_string(entry[4]), 6);
        AddField(row, std::to_string(whole ? Raw48(entry) : Raw16(entry)), whole ? WholeRawWidth : RawWidth);
        AddField(row, std::to_string(Entry(reading.Ata.Thresholds, slot)[1]), 12);
        rows.push_back(TSmartRow{row, entry[0] == 5 && Raw16(entry) > 0, slot});
    }
    return rows;
}

void ShowSmartTable() {
    SetCursor(0, 3);
    ShowDriveHeader(App.CurrentDrive);
    SetColor(clDarkGrey);
    WriteText("Пожалуйста, подождите...");
    plat::SleepMs(1200);
    auto reading = std::make_unique<TSmartReading>();
    ReadSmart(App.CurrentDrive, *reading);
    const TSmartOutcome outcome = reading->Outcome;
    if (outcome == TSmartOutcome::CannotOpen) {
        ClearRow(0, 4);
        SetColor(clLightRed);
        WriteAtLineStart("Ошибка доступа к жесткому диску! Нажмите [ENTER] для продолжения...");
        WaitForEnter();
        return;
    }
    if (outcome == TSmartOutcome::Refused) {
        SetColor(clLightRed);
        WriteAtLineStart("Ошибка при получении SMART атрибутов!");
        return;
    }
    ClearRow(0, 4);

    SetCursor(0, 5);
    SetColor(clLightCyan);
    WriteRaw({SmartTableHeader});
    WriteRule();
    int rowsOnPage = 0;
    for (const TSmartRow& row : SmartTableRows(*reading)) {
        if (rowsOnPage >= FirstPageRows) {
            PageBreak();
            rowsOnPage = 1;
        }
        SetColor(row.Alarming ? clLightRed : clDarkGrey);
        WriteRaw({std::string_view(row.Text)});
        ++rowsOnPage;
    }
    WriteRule();
}
