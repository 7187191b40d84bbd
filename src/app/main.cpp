// The program's start sequence and main loop (app/main.h): the background threads started, the
// console set up, a drive chosen, then the main menu's tasks until F10 ends the program.
// Thread: main.
#include "app/main.h"

#include "app/setup.h"
#include "app/state.h"
#include "app/threads.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "drives/identity.h"
#include "drives/panel.h"
#include "power/spindle.h"
#include "scan/engine.h"
#include "scan/screen.h"
#include "smart/table.h"
#include "ui/menus.h"

namespace {

void ClosingPrompt() {
    SetCursor(0, 23);
    SetColor(clWhite);
    WriteText("Нажмите [ENTER] для продолжения...");
    SetColor(clDarkGrey);
    plat::SleepMs(400);
    WaitForEnter();
}

void RedrawPanel() {
    DrawWorkArea();
    ShowDrivePanel(App.CurrentDrive);
    WriteRawLine();
}

void RunSurfaceScan() {
    if (!RunScanSettings()) return;
    if (!ScanSurface()) return;
    WriteRawLine();
    plat::SleepMs(1000);
    SetColor(clDarkGrey);
    if (App.MapCursor.Y == 17) ScrollMap();
    if (App.MapCursor.Y == 18) {
        ScrollMap();
        ScrollMap();
    }
    SetCursor(0, 22);
    if (App.ScanAborted == 1) {
        SetColor(clLightRed);
        WriteText("Прервано пользователем.");
    } else {
        SetColor(clLightGreen);
        WriteText("Проверка поверхности завершена!");
    }
    plat::Beep(1500, 70);
    plat::SleepMs(40);
    plat::Beep(1500, 70);
    ClosingPrompt();
    RedrawPanel();
}

void RunSpindleCommand(bool stop) {
    SetCursor(0, 23);
    SetColor(clWhite);
    WriteText(stop ? "Остановка шпинделя. Пожалуйста, подождите..." : "Раскрутка шпинделя. Пожалуйста, подождите...");
    SetColor(clDarkGrey);
    SpindleCommand(App.CurrentDrive, stop);
    SetCursor(0, 23);
    SetColor(clDarkGrey);
    WriteText(std::string(44, ' '));
}

}  // namespace

void ChooseDrive() {
    ShowCursor(true);
    SelectDrive();
    ShowCursor(false);
    DrawWorkArea();
    App.ScanEndLba = App.DriveSectors[static_cast<std::size_t>(App.CurrentDrive)] - 1;
    --App.CurrentDrive;
    ShowDrivePanel(App.CurrentDrive);
    WriteRawLine();
}

void ReselectDrive() {
    ResetState();
    DrawWorkArea();
    DetectDrives();
    ChooseDrive();
}

void Main() {
    plat::StartThread(MouseNudgeThread);
    plat::RaisePriority();
    plat::AllocateConsole();
    ResetState();
    SetUpConsole();
    plat::StartThread(ClockThread);
    plat::StartThread(TickerThread);
    DrawMainScreen();
    DetectDrives();
    ChooseDrive();
    for (;;) {
        ResetOperation();
        while (!RunMainMenu()) ReselectDrive();
        switch (App.MenuChoice) {
            case 0:
                RunSurfaceScan();
                break;
            case 1:
                DrawWorkArea();
                ShowSmartTable();
                ClosingPrompt();
                RedrawPanel();
                break;
            default:
                RunSpindleCommand(App.MenuChoice == 2);
                break;
        }
    }
}
