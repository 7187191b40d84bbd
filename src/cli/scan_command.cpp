// --scan: the surface scan without the 80 x 25 screen, its progress on the standard error and a
// summary on the standard output, for scripts and remote shells.
// Thread: main.
#include <array>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <string>

#include "app/state.h"
#include "cli/unattended.h"
#include "cli/unattended_parts.h"
#include "drives/open_drive.h"
#include "report/documents.h"
#include "report/report.h"
#include "scan/engine.h"

namespace cli {

using namespace parts;

namespace {

// ---------------------------------------------------------------- the scan's progress

struct TProgress {
    bool Terminal = false;
    std::uint32_t StartTick = 0;
    std::uint32_t DrawnTick = 0;
    std::uint64_t BytesRead = 0;  // what the reads delivered: the speed is of data read
};
TProgress Progress;

// The six latency counts of the scan's record (64-bit, as the summary's).
std::string Counts(const char* separator) {
    const std::array<std::uint64_t, 8>& classes = report::LastScan().Classes;
    std::string text;
    for (std::size_t c = 0; c < bcPUNRB; ++c) text += (c ? separator : "") + std::to_string(classes[c]);
    return text;
}

std::string Duration(std::uint64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", seconds / 3600, static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

// Percent, the LBA reached (the first not read yet), speed, time left and the counters.
std::string ProgressText(std::int64_t reached) {
    const std::int64_t done = reached - App.ScanStartLba;
    const std::int64_t left = App.ScanEndLba + 1 - reached;
    const std::uint32_t ms = plat::TickCount() - Progress.StartTick;
    const double mbPerSecond = ms ? static_cast<double>(Progress.BytesRead) / 1e6 / (ms / 1000.0) : 0.0;
    const std::string eta =
        done > 0 && left > 0
            ? Duration(static_cast<std::uint64_t>(static_cast<double>(left) * ms / 1000.0 / static_cast<double>(done)))
            : Duration(0);
    char text[256];
    const std::array<std::uint64_t, 8>& classes = report::LastScan().Classes;
    std::snprintf(
        text, sizeof text, "%3" PRId64 "%% LBA %" PRId64 " %.1f MB/s %s left %s PUNRB %" PRIu64 " UNRB %" PRIu64,
        App.ShownPercent, reached, mbPerSecond, eta.c_str(), Counts("/").c_str(), classes[bcPUNRB], classes[bcUNRB]);
    return text;
}

void DrawProgress(std::int64_t reached) {
    Progress.DrawnTick = plat::TickCount();
    if (Progress.Terminal)
        std::fprintf(stderr, "\r%s\x1b[K", ProgressText(reached).c_str());
    else
        std::fprintf(stderr, "%s\n", ProgressText(reached).c_str());
    std::fflush(stderr);
}

bool StopRequested() { return plat::Interrupted(); }

// On a terminal the line is redrawn at most ten times a second.
void BlockDone(const TBlockResult& block) {
    Progress.BytesRead += block.Bytes;
    if (Progress.Terminal && plat::TickCount() - Progress.DrawnTick >= 100)
        DrawProgress(App.CurrentLba + App.BlockSectors);
}

// Elsewhere one line a whole percent.
void PercentChanged() {
    if (!Progress.Terminal) DrawProgress(App.CurrentLba + App.BlockSectors);
}

constexpr TScanView ProgressView{StopRequested, BlockDone, PercentChanged, true};

// The summary and the status count in the scan's record, in 64 bits: the screen's counters are
// 32-bit and wrap on a drive of more than 2^32 blocks.
// A drive that goes away mid-scan is a failing drive or cable.
int ScanStatus() {
    if (report::LastScan().GoneLba >= 0) return ExitDamaged;
    if (App.ScanAborted == 1) return ExitStopped;
    switch (report::Verdict(report::LastScan().Classes)) {
        case report::TVerdict::Damaged:
            return ExitDamaged;
        case report::TVerdict::Slow:
            return ExitSlow;
        default:
            return ExitHealthy;
    }
}

// The first LBA of every damaged block on one line, streamed from the record's runs.
// The first LBAs of the damaged blocks, the first MostDamagedShown of them: a drive that fails
// from some point on has millions, which the damaged list report holds whole.
constexpr std::uint64_t MostDamagedShown = 1000;

void PrintDamaged(const report::TScanRecord& record) {
    const std::uint64_t damaged = record.Classes[bcPUNRB] + record.Classes[bcUNRB];
    if (damaged == 0) {
        Print("damaged: none");
        return;
    }
    std::string line = "damaged:";
    std::uint64_t shown = 0;
    bool lineStart = true;
    try {
        report::WriteDamagedList(record, [&](std::string_view lines) {
            for (const char c : lines) {
                if (shown == MostDamagedShown) return;
                if (c == '\n') ++shown;
                if (c != '\n' && lineStart) line += ' ';
                if (c != '\n') line += c;
                lineStart = c == '\n';
            }
        });
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    if (damaged > shown) line += " (and " + std::to_string(damaged - shown) + " more)";
    Print(line);
}

void PrintScanSummary() {
    Print(DriveLine());
    Print("range: " + std::to_string(App.ScanStartLba) + "-" + std::to_string(App.ScanEndLba));
    const report::TScanRecord& record = report::LastScan();
    const std::array<std::uint64_t, 8>& classes = record.Classes;
    Print("blocks: " + std::to_string(record.Blocks));
    Print(std::string("outcome: ") + (record.GoneLba >= 0    ? "drive_gone at LBA " + std::to_string(record.GoneLba)
                                      : App.ScanAborted == 1 ? "stopped"
                                                             : "completed"));
    const char* labels[] = {"<5ms", "<30ms", "<50ms", "<150ms", "<300ms", ">300ms", "PUNRB", "UNRB"};
    std::string counters = "classes:";
    for (std::size_t c = 0; c < classes.size(); ++c)
        counters += std::string(" ") + labels[c] + " " + std::to_string(classes[c]);
    Print(counters);
    PrintDamaged(record);
    Print("verdict: " + report::OutcomeText(record));
    for (const std::string& line : report::LastScanSmartLines()) Print("smart: " + line);
    if (!ScanAwakeNote().empty()) Print("note: the system was not kept from sleeping: " + ScanAwakeNote());
    SayReports(false);
}

}  // namespace

int ScanUnattended(const TCommandLine& line, bool demo) {
    Demo = demo;
    const std::optional<int> d = ResolveDrive(line.Drive);
    if (!d || !ChooseDrive(*d, line.Drive)) return ExitError;
    const std::int64_t last = App.DriveSectors[static_cast<std::size_t>(*d + 1)] - 1;
    App.ScanStartLba = line.FirstLba.value_or(0);
    App.ScanEndLba = line.LastLba.value_or(last);
    if (App.ScanEndLba > last || App.ScanStartLba > App.ScanEndLba) {
        Fail("the range " + std::to_string(App.ScanStartLba) + "-" + std::to_string(App.ScanEndLba) +
             " lies outside drive " + line.Drive + ", whose sectors are 0-" + std::to_string(last));
        return ExitError;
    }
    App.RecheckSlowBlocks = line.Recheck ? 1 : 0;
    // Named now: a drive that goes away takes its device path with it.
    const std::string name = DriveName(*d, line.Drive);
    drives::TOpenDrive drive(*d, plat::DriveAccess::Read);
    if (!drive.IsOpen()) {
        Fail("drive " + line.Drive + " (" + plat::DrivePath(*d) + ") cannot be opened for reading");
        SayWhyDrivesDidNotAnswer(*d);
        return ExitError;
    }
    report::SetReportNote(NoteReport);
    report::KeepScanRecords();
    plat::CatchInterrupts();
    Progress.Terminal = plat::StandardErrorIsTerminal();
    Progress.StartTick = plat::TickCount();
    App.DriveHandle = drive.Handle();
    ScanBlocks(ProgressView);
    App.DriveHandle = plat::InvalidDrive;
    drive.Close();
    const std::int64_t gone = report::LastScan().GoneLba;
    if (App.ScanAborted == 0 && gone < 0) App.ShownPercent = 100;
    DrawProgress(gone >= 0 ? gone : App.CurrentLba);
    if (Progress.Terminal) std::fputs("\n", stderr);
    if (gone >= 0)
        Fail(name + " went away at LBA " + std::to_string(gone) +
             ": the scan ends there, and nothing from there on was read");
    PrintScanSummary();
    return ScanStatus();
}

}  // namespace cli
