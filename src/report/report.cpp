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
TScanRecord Record;

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
}

void ScanBlock(const TBlockResult& block) { AddBlock(Record, block, MaxBlockSectors); }

// A scan that read nothing has nothing to report.
void ScanFinished() {
    if (Record.Blocks > 0) {
        Record.Finished = plat::LocalDateTime();
        Record.Stopped = App.ScanAborted == 1;
        const std::string stem = ReportStem(Folder, Record.Started, Record.Drive.Serial, "scan", ".json");
        WriteReportFile(Folder, stem + ".json", ScanJson(Record));
        if (!Record.Damaged.empty()) WriteReportFile(Folder, stem + "-damaged.txt", DamagedList(Record));
        WriteReportFile(Folder, stem + "-surface.csv", SurfaceCsv(Record.Surface));
        const std::vector<std::uint8_t> png = SurfacePng(Record);
        WriteReportFile(Folder, stem + ".png", std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    }
    Record = TScanRecord{};
}

constexpr TScanListener ScanListener{ScanStarted, ScanBlock, ScanFinished};

void SmartRead(const TSmartReading& reading) {
    const TDriveFacts drive = ChosenDriveFacts();
    const plat::DateTime now = plat::LocalDateTime();
    const std::string stem = ReportStem(Folder, now, drive.Serial, "smart", ".json");
    WriteReportFile(Folder, stem + ".json", SmartJson(drive, now, reading));
}

}  // namespace

TDriveFacts ChosenDriveFacts() {
    const TGeneralHDDInfo& info = App.DriveIdentity;
    return TDriveFacts{App.CurrentDrive + 1, Trim(info.Model), Trim(info.Serial),
                       Trim(info.Firmware),  info.Sectors,     info.SectorSize};
}

void EnableReports(std::string folder) {
    Folder = std::move(folder);
    SetScanListener(Folder.empty() ? nullptr : &ScanListener);
    SetSmartListener(Folder.empty() ? nullptr : SmartRead);
}

}  // namespace report
