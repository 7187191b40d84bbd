#include "report/report.h"

#include <string_view>

#include "app/state.h"
#include "report/documents.h"
#include "report/files.h"
#include "report/picture.h"
#include "smart/table.h"

namespace report {
namespace {

std::string Folder;
bool KeepRecords = false;
TScanRecord Record;
std::vector<std::string> SmartLines;  // of the last scan that wrote reports

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

void ScanStarted() {
    Record.Drive = ChosenDriveFacts();
    Record.Started = plat::LocalDateTime();
    Record.Recheck = App.RecheckSlowBlocks == 1;
    Record.Stopped = false;
    BeginScan(Record, App.ScanStartLba, App.ScanEndLba, MaxBlockSectors);
    Record.Smart = {};
    if (!Folder.empty()) ReadSmartQuietly(App.CurrentDrive, Record.Smart.Before);
}

void ScanBlock(const TBlockResult& block) { AddBlock(Record, block, MaxBlockSectors); }

// A scan that read nothing has nothing to report.
void ScanFinished() {
    Record.Finished = plat::LocalDateTime();
    Record.Stopped = App.ScanAborted == 1;
    SmartLines.clear();
    if (!Folder.empty() && Record.Blocks > 0) {
        ReadSmartQuietly(App.CurrentDrive, Record.Smart.After);
        Record.Smart.Taken = true;
        SmartLines = SmartChangeLines(Record.Smart, "->");
        const std::string stem = ReportStem(Folder, Record.Started, Record.Drive.Serial, "scan", ".json");
        WriteReportFile(Folder, stem + ".json", [](const TEmit& emit) { WriteScanJson(Record, emit); });
        if (HasDamage(Record))
            WriteReportFile(Folder, stem + "-damaged.txt", [](const TEmit& emit) { WriteDamagedList(Record, emit); });
        const std::vector<std::uint8_t> png = SurfacePng(Record);
        WriteReportFile(Folder, stem + ".png", std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    }
    if (!KeepRecords) Record = TScanRecord{};
}

constexpr TScanListener ScanListener{ScanStarted, ScanBlock, ScanFinished};

void FollowScans() { SetScanListener(Folder.empty() && !KeepRecords ? nullptr : &ScanListener); }

void SmartRead(const TSmartReading& reading) {
    const TDriveFacts drive = ChosenDriveFacts();
    const plat::DateTime now = plat::LocalDateTime();
    const std::string stem = ReportStem(Folder, now, drive.Serial, "smart", ".json");
    WriteReportFile(Folder, stem + ".json", [&](const TEmit& emit) { WriteSmartJson(drive, now, reading, emit); });
}

}  // namespace

TDriveFacts ChosenDriveFacts() {
    const TGeneralHDDInfo& info = App.DriveIdentity;
    return TDriveFacts{App.CurrentDrive + 1, Trim(info.Model), Trim(info.Serial),
                       Trim(info.Firmware),  info.Sectors,     info.SectorSize};
}

const std::vector<std::string>& LastScanSmartLines() { return SmartLines; }

void EnableReports(std::string folder) {
    Folder = std::move(folder);
    FollowScans();
    SetSmartListener(Folder.empty() ? nullptr : SmartRead);
}

void KeepScanRecords() {
    KeepRecords = true;
    FollowScans();
}

const TScanRecord& LastScan() { return Record; }

}  // namespace report
