#include "smart/table.h"

#include <algorithm>
#include <memory>
#include <string>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
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

void WriteRow(std::uint8_t id, const std::string& name, std::uint8_t value, std::uint8_t worst, unsigned raw16,
              std::uint8_t threshold) {
    std::string row = " ";
    AddField(row, std::to_string(id), 4);
    AddField(row, name, 34);
    AddField(row, std::to_string(value), 6);
    AddField(row, std::to_string(worst), 6);
    AddField(row, std::to_string(raw16), 7);
    AddField(row, std::to_string(threshold), 12);
    WriteRaw({std::string_view(row)});
}

TSmartListener Listener = nullptr;

}  // namespace

drives::TIdeRegs SmartReadThresholdsRegs(int drive) {
    return drives::TIdeRegs{0xD1, 1, 1, 0x4F, 0xC2, drives::DriveHeadFor(drive), drives::AtaSmart, 0};
}

drives::TIdeRegs SmartReadDataRegs(int drive) {
    return drives::TIdeRegs{0xD0, 1, 1, 0x4F, 0xC2, drives::DriveHeadFor(drive), drives::AtaSmart, 0};
}

bool IsAttributeListed(std::uint16_t id) {
    return std::find(App.ListedAttributeIds.begin(), App.ListedAttributeIds.end(), id) != App.ListedAttributeIds.end();
}

void SetSmartListener(TSmartListener listener) { Listener = listener; }

TSmartOutcome ReadSmartSectors(int d, TSmartSectors& sectors) {
    drives::TOpenDrive drive(d, plat::DriveAccess::Control);
    if (!drive.IsOpen()) return TSmartOutcome::CannotOpen;
    App.DriveHandle = drive.Handle();
    auto request = std::make_unique<drives::TSendCmdRecord>();
    auto reply = std::make_unique<std::array<std::uint8_t, SmartReceiveReplyLength>>();
    const auto input = std::span<const std::uint8_t>(*request).first(drives::SendCmdInputLength);
    const auto send = [&](std::uint32_t code, std::uint32_t bufferSize, const drives::TIdeRegs& regs,
                          std::uint32_t replyLength) {
        drives::WriteSendCmd(*request, bufferSize, regs, d);
        return plat::DriveControl(drive.Handle(), code, input, std::span(*reply).first(replyLength));
    };
    const auto sector = [&] { return reply->begin() + drives::SendCmdOutDataOffset; };
    std::array<std::uint8_t, 24> version{};
    request->fill(0);
    bool read = plat::DriveControl(drive.Handle(), drives::SMART_GET_VERSION, {}, version) &&
                send(drives::SMART_SEND_DRIVE_COMMAND, 0, drives::SmartEnableRegs(d), SmartSendReplyLength) &&
                send(drives::SMART_RCV_DRIVE_DATA, 512, drives::IdentifyRegs(d), SmartReceiveReplyLength) &&
                send(drives::SMART_RCV_DRIVE_DATA, 512, SmartReadThresholdsRegs(d), SmartReceiveReplyLength);
    if (read) {
        std::copy_n(sector(), 512, sectors.Thresholds.begin());
        reply->fill(0);
        read = send(drives::SMART_RCV_DRIVE_DATA, 512, SmartReadDataRegs(d), SmartReceiveReplyLength);
        if (read) std::copy_n(sector(), 512, sectors.Values.begin());
    }
    drive.Close();
    App.DriveHandle = plat::InvalidDrive;
    return read ? TSmartOutcome::Read : TSmartOutcome::Refused;
}

void ShowSmartTable() {
    SetCursor(0, 3);
    ShowDriveHeader(App.CurrentDrive);
    SetColor(clDarkGrey);
    WriteText("Пожалуйста, подождите...");
    plat::SleepMs(1200);
    auto sectors = std::make_unique<TSmartSectors>();
    const TSmartOutcome outcome = ReadSmartSectors(App.CurrentDrive, *sectors);
    if (Listener) Listener(outcome, *sectors);
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
    WriteRaw({" AID   Name                                Value   Worst   Raw      Threshold   "});
    WriteRule();
    App.ListedAttributeIds.fill(0xFFFF);
    int rowsOnPage = 0;
    const std::uint8_t* values = sectors->Values.data() + 2;
    const std::uint8_t* thresholds = sectors->Thresholds.data() + 2;
    for (std::size_t slot = 0; slot < SmartSlots; ++slot) {
        const std::uint8_t* entry = values + slot * SlotBytes;
        const std::string name = SmartAttributeName(entry[0]);
        if (name == "Unknown") continue;
        if (rowsOnPage >= FirstPageRows) {
            PageBreak();
            rowsOnPage = 1;
        }
        App.ListedAttributeIds[slot] = entry[0];
        const unsigned raw16 = entry[5] | (entry[6] << 8);
        SetColor(entry[0] == 5 && raw16 > 0 ? clLightRed : clDarkGrey);
        WriteRow(entry[0], name, entry[3], entry[4], raw16, thresholds[slot * SlotBytes + 1]);
        ++rowsOnPage;
    }
    WriteRule();
}
