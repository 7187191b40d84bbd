// Reports (report/report.h): the listeners that follow the scan and the SMART table, and the files
// they write.
// Thread: main.
#include "report/report.h"

#include <string_view>

#include "app/state.h"
#include "report/documents.h"
#include "report/files.h"
#include "report/mapfile.h"
#include "report/picture.h"
#include "smart/table.h"

namespace report {
namespace {

bool Reporting = false;  // into a folder the user named
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
    if (Reporting) ReadSmartQuietly(App.CurrentDrive, Record.Smart.Before);
}

void ScanBlock(const TBlockResult& block) { AddBlock(Record, block, MaxBlockSectors); }

// A scan that read nothing has nothing to report.
void ScanFinished() {
    Record.Finished = plat::LocalDateTime();
    Record.Stopped = App.ScanAborted == 1;
    SmartLines.clear();
    if (Reporting && Record.Blocks > 0) {
        ReadSmartQuietly(App.CurrentDrive, Record.Smart.After);
        Record.Smart.Taken = true;
        SmartLines = SmartChangeLines(Record.Smart, "->");
        const TReportPart parts[] = {
            {".json", [](const TEmit& emit) { WriteScanJson(Record, emit); }},
            {"-damaged.txt",
             HasDamage(Record) ? [](const TEmit& emit) { WriteDamagedList(Record, emit); } : TProduce()},
            {"-surface.csv", [](const TEmit& emit) { emit(SurfaceCsv(Record.Surface)); }},
            {".png",
             [](const TEmit& emit) {
                 const std::vector<std::uint8_t> png = SurfacePng(Record);
                 emit(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
             }},
            {".map", [](const TEmit& emit) { WriteMapfile(Record, emit); }},
        };
        WriteReport(Record.Started, Record.Drive.Serial, "scan", parts);
    }
    if (!KeepRecords) Record = TScanRecord{};
}

constexpr TScanListener ScanListener{ScanStarted, ScanBlock, ScanFinished};

void FollowScans() { SetScanListener(!Reporting && !KeepRecords ? nullptr : &ScanListener); }

void SmartRead(const TSmartReading& reading) {
    const TDriveFacts drive = ChosenDriveFacts();
    const plat::DateTime now = plat::LocalDateTime();
    const TReportPart parts[] = {{".json", [&](const TEmit& emit) { WriteSmartJson(drive, now, reading, emit); }}};
    WriteReport(now, drive.Serial, "smart", parts);
}

}  // namespace

TDriveFacts ChosenDriveFacts() {
    const TGeneralHDDInfo& info = App.DriveIdentity;
    return TDriveFacts{App.CurrentDrive + 1,
                       Trim(info.Model),
                       Trim(info.Serial),
                       Trim(info.Firmware),
                       info.Sectors,
                       info.SectorSize,
                       plat::DriveRemarks(App.CurrentDrive)};
}

const std::vector<std::string>& LastScanSmartLines() { return SmartLines; }

std::string EnableReports(const std::string& folder) {
    Reporting = !folder.empty();
    FollowScans();
    SetSmartListener(Reporting ? SmartRead : nullptr);
    return UseReportFolder(folder);
}

void KeepScanRecords() {
    KeepRecords = true;
    FollowScans();
}

const TScanRecord& LastScan() { return Record; }

}  // namespace report
