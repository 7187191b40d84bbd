#include "report/report.h"

#include <string_view>

#include "app/state.h"
#include "report/documents.h"
#include "report/files.h"
#include "report/picture.h"
#include "smart/table.h"

namespace report {
namespace {

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
        const TReportPart parts[] = {
            {".json", [](const TEmit& emit) { emit(ScanJson(Record)); }},
            {"-damaged.txt",
             Record.Damaged.empty() ? TProduce() : [](const TEmit& emit) { emit(DamagedList(Record)); }},
            {".png",
             [](const TEmit& emit) {
                 const std::vector<std::uint8_t> png = SurfacePng(Record);
                 emit(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
             }},
        };
        WriteReport(Record.Started, Record.Drive.Serial, "scan", parts);
    }
    Record = TScanRecord{};
}

constexpr TScanListener ScanListener{ScanStarted, ScanBlock, ScanFinished};

void SmartRead(const TSmartReading& reading) {
    const TDriveFacts drive = ChosenDriveFacts();
    const plat::DateTime now = plat::LocalDateTime();
    const TReportPart parts[] = {{".json", [&](const TEmit& emit) { emit(SmartJson(drive, now, reading)); }}};
    WriteReport(now, drive.Serial, "smart", parts);
}

}  // namespace

TDriveFacts ChosenDriveFacts() {
    const TGeneralHDDInfo& info = App.DriveIdentity;
    return TDriveFacts{App.CurrentDrive + 1, Trim(info.Model), Trim(info.Serial),
                       Trim(info.Firmware),  info.Sectors,     info.SectorSize};
}

std::string EnableReports(const std::string& folder) {
    SetScanListener(folder.empty() ? nullptr : &ScanListener);
    SetSmartListener(folder.empty() ? nullptr : SmartRead);
    return UseReportFolder(folder);
}

}  // namespace report
