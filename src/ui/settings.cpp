// The scan settings dialog (ui/menus.h).
// Thread: main.
#include <string>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "ui/box.h"
#include "ui/menus.h"

namespace {

constexpr int ValueColumn = 37;

void DrawLbaField(int row, std::string_view label, std::int64_t lba, bool highlighted) {
    const std::string value = std::to_string(lba);
    SetCursor(BoxColumn + 2, row);
    SetColor(highlighted ? clWhiteOnCyan : clWhiteOnBlue);
    WriteText(label);
    SetColor(highlighted ? clYellowOnCyan : clYellowOnBlue);
    WriteRaw({std::string_view(value)});
    SetColor(highlighted ? clWhiteOnCyan : clWhiteOnBlue);
    WriteBlanks(19 - static_cast<int>(value.size()));
}

void DrawRecheckField(bool recheck, bool highlighted) {
    SetCursor(BoxColumn + 2, 12);
    SetColor(highlighted ? clWhiteOnCyan : clWhiteOnBlue);
    WriteRaw({" ["});
    SetColor(highlighted ? clYellowOnCyan : clYellowOnBlue);
    WriteRaw({recheck ? 'x' : ' '});
    SetColor(highlighted ? clWhiteOnCyan : clWhiteOnBlue);
    WriteText("] Повторная проверка блоков     ");
}

void DrawHintLine(int row, std::string_view text) {
    DrawBoxEdges(row);
    SetColor(clGreyOnBlue);
    WriteText(text);
    CloseBoxRow();
}

}  // namespace

void DrawSettingsItems(bool recheck, int field, std::int64_t startLba, std::int64_t endLba) {
    DrawLbaField(9, " Начальный LBA: ", startLba, field == 0);
    DrawLbaField(10, " Конечный LBA:  ", endLba, field == 1);
    DrawRecheckField(recheck, field == 2);
    CloseBoxRow();
}

void DrawScanSettings(bool recheck, int field, std::int64_t startLba, std::int64_t endLba) {
    ShowCursor(false);
    DrawBoxRule(8, '\xC9', '\xCD', '\xBB');
    for (int row : {9, 10, 12}) DrawBoxEdges(row);
    DrawSettingsItems(recheck, field, startLba, endLba);
    for (int row : {9, 10}) {
        SetCursor(BoxColumn + 2 + BoxInner, row);
        CloseBoxRow();
    }
    DrawEmptyBoxRow(11);
    DrawEmptyBoxRow(13);
    DrawHintLine(14, " Для изменения параметра нажмите   ");
    DrawHintLine(15, " [ENTER] или [SPACEBAR]            ");
    DrawBoxRule(16, '\xC7', '\xC4', '\xB6');
    DrawKeyLine(17, " [F4]", " Начать          ", "[ESC]", " Отмена ");
    DrawBoxRule(18, '\xC8', '\xCD', '\xBC');
}

void EditLbaField(std::int64_t& lba, bool isStart) {
    SetColor(clGreyOnBlue);
    for (int row : {14, 15}) {
        SetCursor(BoxColumn + 2, row);
        WriteBlanks(BoxInner);
    }
    DrawKeyLine(17, " [ENTER]", " Применить    ", "[ESC]", " Отмена ");
    const int row = isStart ? 9 : 10;
    SetCursor(ValueColumn, row);
    // As many cells as the editor can fill, and the one the cursor stands on after the last digit.
    SetColor(clWhite);
    WriteBlanks(LbaFieldDigits() + 1);
    SetCursor(ValueColumn, row);
    ShowCursor(true);
    std::int64_t value = lba;
    if (EditLba(value, isStart)) lba = value;
    ShowCursor(false);
}

bool RunScanSettings() {
    int field = 0;
    const auto draw = [&] { DrawScanSettings(App.RecheckSlowBlocks == 1, field, App.ScanStartLba, App.ScanEndLba); };
    const auto redrawItems = [&] {
        DrawSettingsItems(App.RecheckSlowBlocks == 1, field, App.ScanStartLba, App.ScanEndLba);
    };
    draw();
    for (;;) {
        const std::uint16_t key = WaitMenuKey();
        if (key == vkEscape) return false;
        plat::SleepMs(70);
        switch (key) {
            case vkDown:
                field = (field + 1) % 3;
                redrawItems();
                break;
            case vkUp:
                field = (field + 2) % 3;
                redrawItems();
                break;
            case vkReturn:
            case vkSpace:
                if (field == 2) {
                    App.RecheckSlowBlocks ^= 1;
                    redrawItems();
                } else {
                    EditLbaField(field == 0 ? App.ScanStartLba : App.ScanEndLba, field == 0);
                    draw();
                }
                break;
            case vkF4:
                return true;
            default:
                break;
        }
    }
}
