// The framed main menu (ui/menus.h).
// Thread: main.
#include <string_view>

#include "app/state.h"
#include "console/keyboard.h"
#include "console/output.h"
#include "ui/box.h"
#include "ui/menus.h"

namespace {

struct TMenuItem {
    std::string_view Label;
    int TrailingBlanks;
};

constexpr TMenuItem MenuItems[] = {
    {" Проверка поверхности", 14},
    {" Чтение атрибутов SMART", 12},
    {" Остановить шпиндель", 15},
    {" Раскрутить шпиндель", 15},
};

void DrawItem(int index, int highlighted) {
    SetCursor(BoxColumn + 2, 9 + index);
    SetColor(index == highlighted ? clWhiteOnCyan : clWhiteOnBlue);
    WriteText(MenuItems[index].Label);
    WriteBlanks(MenuItems[index].TrailingBlanks);
}

}  // namespace

void DrawMenuItems(int highlighted) {
    ShowCursor(false);
    for (int i = 0; i < 4; ++i) DrawItem(i, highlighted);
}

void DrawMainMenu(int highlighted) {
    ShowCursor(false);
    DrawBoxRule(8, '\xC9', '\xCD', '\xBB');
    for (int i = 0; i < 4; ++i) {
        DrawBoxEdges(9 + i);
        DrawItem(i, highlighted);
        CloseBoxRow();
    }
    DrawEmptyBoxRow(13);
    DrawBoxRule(14, '\xC7', '\xC4', '\xB6');
    DrawKeyLine(15, " [ENTER]", " Продолжить   ", "[ESC]", " Отмена ");
    DrawBoxRule(16, '\xC8', '\xCD', '\xBC');
    SetColor(clLightGrey);
    for (int row = 17; row <= 18; ++row) {
        SetCursor(BoxColumn, row);
        WriteBlanks(39);
    }
}

bool RunMainMenu() {
    if (App.MenuCursor == 4) App.MenuCursor = 0;
    DrawMainMenu(App.MenuCursor);
    for (;;) {
        const std::uint16_t key = WaitMenuKey();
        if (key == vkEscape) return false;
        plat::SleepMs(70);
        switch (key) {
            case vkDown:
                App.MenuCursor = static_cast<std::uint8_t>((App.MenuCursor + 1) % 4);
                DrawMenuItems(App.MenuCursor);
                break;
            case vkUp:
                App.MenuCursor = static_cast<std::uint8_t>((App.MenuCursor + 3) % 4);
                DrawMenuItems(App.MenuCursor);
                break;
            case vkReturn:
                App.MenuChoice = App.MenuCursor;
                return true;
            default:
                break;
        }
    }
}
