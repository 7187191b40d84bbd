// The surface scan (scan/engine.h): the timed block reads, their classes, the re-check of slow
// blocks, and the view and the listener told of each block.
// Thread: main.
#include "scan/engine.h"

#include <algorithm>
#include <string>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "drives/open_drive.h"
#include "drives/panel.h"
#include "platform/drive_records.h"
#include "scan/screen.h"

namespace {

struct TClassLook {
    char Glyph;
    std::uint8_t Color;
};

constexpr TClassLook ClassLooks[] = {
    {'\xB0', clDarkGrey}, {'\xB1', clDarkGrey}, {'\xB2', clDarkGrey}, {'\xDB', clGreen},
    {'\xDB', clRed},      {'\xDB', clLightRed}, {'*', clLightRed},    {'X', clLightRed},
};

// One buffer for every block: a full block of the longest logical sectors.
std::span<std::uint8_t> BlockBuffer() {
    static const std::span<std::uint8_t> buffer =
        plat::ReadBuffer(std::size_t{MaxBlockSectors} * plat::LargestSectorSize);
    return buffer;
}

std::uint32_t CurrentSectorSize() { return App.DriveSectorSizes[static_cast<std::size_t>(App.CurrentDrive + 1)]; }

// The last read's time in microseconds, truncated.
std::uint64_t ReadMicros = 0;

// The read's time in whole milliseconds, truncated, on the fine clock: a millisecond tick (or the
// 10-16 ms tick of some systems) would put a read of a few milliseconds into a class by chance.
std::uint32_t TimedRead() {
    App.ReadStartTick = plat::PerformanceCounter();
    const std::uint32_t sectorSize = CurrentSectorSize();
    App.ReadBytes = ReadBlock(static_cast<std::uint16_t>(App.BlockSectors), BlockBuffer(), App.CurrentLba, sectorSize);
    const std::uint64_t elapsed = plat::PerformanceCounter() - App.ReadStartTick;
    const std::uint64_t frequency = plat::PerformanceFrequency();
    ReadMicros = elapsed / frequency * 1'000'000 + elapsed % frequency * 1'000'000 / frequency;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(elapsed * 1000 / frequency, UINT32_MAX));
}

const TScanListener* Listener = nullptr;
std::string AwakeNote;  // why the last scan did not keep the system awake

// Counts the block in its class and tells the view and the listener.
void Classified(const TScanView& view, TBlockClass blockClass, bool driveGone) {
    if (blockClass == bcUNRB)
        ++App.UnreadableBlocks;
    else if (blockClass == bcPUNRB)
        ++App.PartialBlocks;
    else
        ++App.LatencyCounts[blockClass];
    const TBlockResult block{App.CurrentLba, App.BlockSectors, blockClass, App.ReadMs,
                             App.ReadBytes,  ReadMicros,       driveGone};
    view.BlockDone(block);
    if (Listener) Listener->BlockDone(block);
}

// ---------------------------------------------------------------- the scan screen as the view

void FailureSignal() {
    plat::Beep(950, 90);
    plat::Beep(500, 70);
}

void DrawBlock(const TBlockResult& block) {
    SetColor(ClassLooks[block.Class].Color);
    PlotMapCell(ClassLooks[block.Class].Glyph, block.Class, App.BlockEndLba);
    if (block.Class < bcPUNRB) {
        SetColor(clDarkGrey);
        return;
    }
    AddDamagedBlock(std::to_string(block.Lba));
    if (App.UnreadableBlocks + App.PartialBlocks == 1) FailureSignal();
}

// The scan screen stops at ESC, and at a request from outside to end the program while a report
// follows the scan (it is written before the program ends).
bool StopOnScreen() { return plat::Interrupted() || PollEscape(); }

constexpr TScanView ScreenView{StopOnScreen, DrawBlock, ShowPercent};

}  // namespace

void SetScanListener(const TScanListener* listener) { Listener = listener; }

const std::string& ScanAwakeNote() { return AwakeNote; }

void ScanBlocks(const TScanView& view) {
    const std::int64_t rangeSectors = App.ScanEndLba - App.ScanStartLba + 1;
    AwakeNote = plat::HoldAwake("surface scan of " + plat::DrivePath(App.CurrentDrive));
    App.CurrentLba = App.ScanStartLba;
    if (Listener) Listener->Started();
    while (App.CurrentLba <= App.ScanEndLba) {
        if (App.CurrentLba + App.BlockSectors > App.ScanEndLba + 1)
            App.BlockSectors = static_cast<std::uint32_t>(App.ScanEndLba + 1 - App.CurrentLba);
        App.BlockEndLba = App.CurrentLba + App.BlockSectors;
        if (view.StopRequested()) {
            App.ScanAborted = 1;
            break;
        }
        const std::uint32_t expected = App.BlockSectors * CurrentSectorSize();
        App.ReadMs = TimedRead();
        if (App.RecheckSlowBlocks == 1 && App.ReadBytes == expected && App.ReadMs > 50) {
            const std::uint32_t firstMs = App.ReadMs;
            const std::uint64_t firstMicros = ReadMicros;
            plat::SleepMs(App.RecheckDelayMs);
            App.ReadMs = (firstMs + TimedRead()) >> 1;
            ReadMicros = (firstMicros + ReadMicros) / 2;
        }
        const bool gone =
            App.ReadBytes < expected &&
            plat::DriveGone(App.DriveHandle, static_cast<std::uint64_t>(App.BlockEndLba) * CurrentSectorSize());
        if (App.ReadBytes == expected)
            Classified(view, LatencyClass(App.ReadMs), false);
        else
            Classified(view, App.ReadBytes == 0 ? bcUNRB : bcPUNRB, gone);
        if (gone && view.EndsWhenDriveGone) break;
        App.Percent = (App.CurrentLba - App.ScanStartLba) * 100 / rangeSectors;
        if (App.Percent != App.ShownPercent) {
            App.ShownPercent = App.Percent;
            view.PercentChanged();
        }
        App.CurrentLba += App.BlockSectors;
    }
    if (Listener) Listener->Finished();
    plat::ReleaseAwake();
}

TBlockClass LatencyClass(std::uint32_t ms) {
    if (ms <= 5) return bcUnder5ms;
    if (ms <= 30) return bcUnder30ms;
    if (ms <= 50) return bcUnder50ms;
    if (ms <= 150) return bcUnder150ms;
    if (ms <= 300) return bcUnder300ms;
    return bcOver300ms;
}

std::uint32_t ReadBlock(std::uint16_t sectors, std::span<std::uint8_t> buffer, std::int64_t lba,
                        std::uint32_t sectorSize) {
    const std::uint64_t offset = static_cast<std::uint64_t>(lba) * sectorSize;
    return plat::ReadDrive(App.DriveHandle, offset, buffer.first(std::size_t{sectors} * sectorSize));
}

bool ScanSurface() {
    ShowCursor(false);
    DrawWorkArea();
    ShowDriveHeader(App.CurrentDrive);
    SetColor(clDarkGrey);
    WriteText("Пожалуйста, подождите...");
    plat::SleepMs(1200);
    const drives::TOpenDrive drive(App.CurrentDrive, plat::DriveAccess::Read);
    if (!drive.IsOpen()) {
        ClearRow(0, 4);
        SetColor(clLightRed);
        WriteAtLineStart("Ошибка доступа к жесткому диску! Нажмите [ENTER] для продолжения...");
        WaitForEnter();
        return false;
    }
    App.DriveHandle = drive.Handle();
    ClearRow(0, 4);
    DrawStatsPanel();
    SetCursor(0, 5);
    SetColor(clDarkGrey);
    plat::FlushInput(App.InputHandle);
    App.ScanRunning = 1;
    if (Listener) plat::DeferEnd(true);
    ScanBlocks(ScreenView);
    if (Listener) plat::DeferEnd(false);
    App.ShownPercent = 100;
    ShowPercent();
    App.DriveHandle = plat::InvalidDrive;
    App.ScanRunning = 0;
    return true;
}
