// The program's one global state record and its two resets (app/state.h).
// Thread: main.
#include "app/state.h"

#include "app/setup.h"

TAppState App;

namespace {

void ResetScan() {
    App.ScanStartLba = 0;
    App.BlockEndLba = 0;
    App.BlockSectors = MaxBlockSectors;
    App.LatencyCounts.fill(0);
    App.UnreadableBlocks = 0;
    App.PartialBlocks = 0;
    App.Percent = 0;
    App.ShownPercent = 0;
    App.MapCursor = plat::Coord{0, 0};
    App.DamagedListCount = 0;
    App.ScanAborted = 0;
    App.RecheckSlowBlocks = 1;
    App.DamagedHeaderPending = 1;
    App.MenuChoice = 0;
    App.ScanRunning = 0;
}

}  // namespace

void ResetState() {
    if (App.TitleText.empty()) {
        App.TitleText = DecodeBase64(StoredTitle);
        App.ForumUrl = DecodeBase64(StoredForumUrl);
    }
    ResetScan();
    App.ScanEndLba = 0;
    App.RecheckDelayMs = 3000;
    App.DriveCount = 0;
    App.DriveSectors.fill(0);
    App.DriveSectorSizes.fill(DefaultSectorSize);
    App.CurrentDrive = 0;
    App.DriveIdentity = TGeneralHDDInfo{};
    App.MenuCursor = 4;
}

void ResetOperation() { ResetScan(); }
