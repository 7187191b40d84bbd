// The choice of a drive, its identity panel and the one-line drive header (drives/panel.h).
// Thread: main.
#include "drives/panel.h"

#include <string>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "drives/identity.h"

namespace {

constexpr int EntryColumn = 30;  // the prompt is 30 columns long

void PutEntryChar(plat::Coord pos, char c) { plat::WriteCharacters(App.OutputHandle, std::string_view(&c, 1), pos); }

}  // namespace

void SelectDrive() {
    plat::FlushInput(App.InputHandle);
    WriteAtLineStart("Введите номер жесткого диска: ");
    plat::Coord pos = plat::GetScreenBufferInfo(App.OutputHandle).CursorPosition;
    std::string typed;
    for (;;) {
        plat::WaitForInput(App.InputHandle);
        const plat::InputRecord r = plat::ReadInput(App.InputHandle);
        if (r.EventType == plat::KeyEvent && r.KeyDown) {
            const char c = r.AsciiChar;
            if (c >= '0' && c <= '9' && pos.X <= EntryColumn + 1) {
                typed = pos.X == EntryColumn ? std::string(1, c) : typed.substr(0, 1) + c;
                PutEntryChar(pos, c);
                ++pos.X;
                GotoColumn(pos.X);
            } else if (c == vkBack && pos.X >= EntryColumn + 1) {
                --pos.X;
                typed = pos.X == EntryColumn ? std::string() : typed.substr(0, 1);
                PutEntryChar(pos, '\0');
                GotoColumn(pos.X);
            } else if (c == vkReturn && IsDigits(typed)) {
                const int n = std::stoi(typed);
                // A number in a gap of the list, or of a drive that told no capacity, names
                // nothing that could be scanned.
                if (n >= 1 && n <= App.DriveCount && App.DriveSectors[static_cast<std::size_t>(n)] > 0) {
                    App.CurrentDrive = n;
                    break;
                }
                ErrorBeep();
            }
        }
        EndOnF10(r.VirtualKeyCode);
    }
    WriteRawLine();
}

void ShowDrivePanel(int d) {
    TGeneralHDDInfo info;
    if (!ReadDriveIdentity(d, info)) return;
    SetColor(clWhite);
    GotoColumn(0);
    WriteRaw({std::string_view(info.Model)});
    SetColor(clDarkGrey);
    WriteRawLine({" ", SizeInMB(info.Sectors, info.SectorSize), " MB"});
    GotoColumn(0);
    WriteAtLineStart("Серийный номер: ");
    SetColor(clWhite);
    WriteRawLine({std::string_view(info.Serial)});
    SetColor(clDarkGrey);
    GotoColumn(0);
    WriteAtLineStart("Всего логических блоков (LBA): ");
    SetColor(clWhite);
    WriteRawLine({info.Sectors});
    SetColor(clDarkGrey);
    GotoColumn(0);
    WriteAtLineStart("FW: ");
    SetColor(clWhite);
    WriteRaw({std::string_view(info.Firmware), " "});
    SetColor(clDarkGrey);
    WriteText("Кэш: ");
    SetColor(clWhite);
    WriteRawLine({std::int64_t{info.CacheKB}, " KB"});
    SetColor(clDarkGrey);
    App.DriveSectors[static_cast<std::size_t>(d + 1)] = info.Sectors;
    App.DriveSectorSizes[static_cast<std::size_t>(d + 1)] = info.SectorSize;
    App.DriveIdentity = info;
}

void ShowDriveHeader(int d) {
    TGeneralHDDInfo info;
    if (!ReadDriveIdentity(d, info)) return;
    App.DriveIdentity = info;
    ClearRow(0, 3);
    SetColor(clWhite);
    WriteRaw({std::string_view(info.Model), " "});
    SetCursor(0, 4);
}
