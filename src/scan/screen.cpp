// The scan screen (scan/screen.h): its frame, work area, statistics panel, block map and
// damaged-block list.
// Thread: main.
#include "scan/screen.h"

#include <charconv>
#include <string>

#include "app/state.h"
#include "console/output.h"

namespace {

constexpr int MapFirstRow = 5;
constexpr int MapColumns = 57;
constexpr int MapLastLine = 18;  // line index of screen row 23
constexpr int ListFirstRow = 15;
constexpr int ListLines = 8;

void DrawProgressRow() {
    SetColor(clRedOnGrey);
    WriteText(" Всего LBA: ");
    SetColor(clBlackOnGrey);
    WriteRaw({"[----------]"});
    SetColor(clRedOnGrey);
    WriteText(" Текущий LBA: ");
    SetColor(clBlackOnGrey);
    WriteRaw({"[----------]"});
    SetColor(clRedOnGrey);
    WriteText("            Выполнено: ");
    SetColor(clBlackOnGrey);
    WriteRaw({"[---%]", '\0'});
}

// Writes `value` so that its last digit lands on column `lastColumn` of `row`: characters only,
// in one write, as the scan does this for every block.
void PutRightAligned(std::uint64_t value, int lastColumn, int row) {
    char digits[20];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    const auto length = static_cast<int>(end - digits);
    plat::WriteCharacters(
        App.OutputHandle, std::string_view(digits, static_cast<std::size_t>(length)),
        plat::Coord{static_cast<std::int16_t>(lastColumn + 1 - length), static_cast<std::int16_t>(row)});
}

void PutZeroCells(int count) {
    if (count > 0) WriteRaw({std::string_view(std::string(static_cast<std::size_t>(count), '\0'))});
}

struct TLegendLine {
    int Row;
    char Glyph;
    std::uint8_t GlyphColor;
    std::string_view Label;
};

constexpr TLegendLine Legend[] = {
    {3, '\xB0', clDarkGrey, " <5ms  :          0"}, {4, '\xB1', clDarkGrey, " <30ms :          0"},
    {5, '\xB2', clDarkGrey, " <50ms :          0"}, {6, '\xDB', clGreen, " <150ms:          0"},
    {7, '\xDB', clRed, " <300ms:          0"},      {8, '\xDB', clLightRed, " >300ms:          0"},
    {10, '*', clLightRed, " PUNRB :          0"},   {11, 'X', clLightRed, " UNRB  :          0"},
};

}  // namespace

void DrawMainScreen() {
    const std::string time = plat::LocalTimeText();
    const int titleLength = static_cast<int>(App.TitleText.size());
    const int timeLength = static_cast<int>(time.size());
    SetColor(clWhiteOnBlue);
    WriteRaw({" ", std::string_view(App.TitleText)});
    PutZeroCells(77 - timeLength - titleLength);
    GotoColumn(78 - timeLength);
    SetColor(clYellowOnBlue);
    WriteRaw({" ", std::string_view(time), " "});
    DrawProgressRow();

    const int bannerLength = static_cast<int>(App.BannerText.size());
    SetCursor(0, 24);
    SetColor(clWhiteOnBlue);
    WriteRaw({" ", std::string_view(App.BannerText)});
    PutZeroCells(67 - bannerLength);
    SetColor(clYellowOnBlue);
    WriteRaw({"[F10] "});
    SetColor(clWhiteOnBlue);
    WriteText("Выход");
    FillAttributes(79, 24, 1, clWhiteOnBlue);
    PutTextAt(79, 24, std::string_view("\0", 1));
}

void DrawWorkArea() {
    SetCursor(0, 1);
    DrawProgressRow();
    SetColor(clDarkGrey);
    WriteRaw({std::string_view(std::string(22 * 80, ' '))});
    SetCursor(3, 3);
}

void DrawStatsPanel() {
    SetColor(clDarkGrey);
    for (int row = 2; row <= 23; ++row) {
        SetCursor(57, row);
        WriteRaw({row == 12 ? '\xC3' : '\xB3'});
    }
    for (int x = 58; x <= 79; ++x) {
        SetCursor(x, 12);
        WriteRaw({'\xC4'});
    }
    for (const TLegendLine& line : Legend) {
        SetCursor(59, line.Row);
        SetColor(line.GlyphColor);
        WriteRaw({line.Glyph});
        SetColor(clDarkGrey);
        WriteRaw({line.Label});
    }
    SetCursor(13, 1);
    SetColor(clBlackOnGrey);
    WriteRaw({"          "});
    const std::string total = std::to_string(App.ScanEndLba + 1);
    SetCursor(23 - static_cast<int>(total.size()), 1);
    WriteRaw({std::string_view(total)});
    SetCursor(39, 1);
    WriteRaw({"         0"});
    SetCursor(74, 1);
    WriteRaw({"  0%"});
    FillAttributes(39, 1, 10, clBlackOnGrey);
    FillAttributes(74, 1, 3, clBlackOnGrey);
    SetColor(clDarkGrey);
}

void PlotMapCell(char glyph, TBlockClass blockClass, std::int64_t blockEndLba) {
    if (App.MapCursor.X == MapColumns) {
        App.MapCursor.X = 0;
        if (App.MapCursor.Y == MapLastLine) {
            ScrollMap();
            SetCursor(0, MapFirstRow + MapLastLine);
        } else {
            SetCursor(0, App.MapCursor.Y + MapFirstRow + 1);
            ++App.MapCursor.Y;
        }
    }
    WriteRaw({glyph});
    ++App.MapCursor.X;
    ShowCurrentLba(blockEndLba);
    ShowClassCount(blockClass);
}

void ScrollMap() {
    plat::ScrollBuffer(App.OutputHandle, plat::Rect{0, 6, 56, 23}, plat::Coord{0, 5}, ' ', clLightGrey);
}

void ShowCurrentLba(std::int64_t lba) { PutRightAligned(static_cast<std::uint64_t>(lba), 48, 1); }

void ShowClassCount(TBlockClass blockClass) {
    switch (blockClass) {
        case bcPUNRB:
            PutRightAligned(App.PartialBlocks, 78, 10);
            break;
        case bcUNRB:
            PutRightAligned(App.UnreadableBlocks, 78, 11);
            break;
        default:
            PutRightAligned(App.LatencyCounts[blockClass], 78, 3 + blockClass);
            break;
    }
}

void ShowPercent() { PutRightAligned(static_cast<std::uint64_t>(App.ShownPercent), 76, 1); }

void AddDamagedBlock(std::string_view lbaText) {
    if (App.DamagedHeaderPending == 1) {
        const plat::Coord saved = plat::GetScreenBufferInfo(App.OutputHandle).CursorPosition;
        App.DamagedHeaderPending = 0;
        SetCursor(59, 13);
        SetColor(clRed);
        WriteText("Поврежденные блоки:");
        SetCursor(saved.X, saved.Y);
    }
    if (App.DamagedListCount == ListLines) {
        ScrollDamagedList();
        App.DamagedListCount = ListLines - 1;
    }
    const int row = ListFirstRow + App.DamagedListCount;
    const auto width = static_cast<std::uint32_t>(lbaText.size());
    FillAttributes(59, row, width, clLightRed);
    plat::FillCharacter(App.OutputHandle, ' ', width, plat::Coord{59, static_cast<std::int16_t>(row)});
    PutTextAt(59, row, lbaText);
    if (App.DamagedListCount < ListLines) ++App.DamagedListCount;
}

void ScrollDamagedList() {
    plat::ScrollBuffer(App.OutputHandle, plat::Rect{59, 16, 79, 22}, plat::Coord{59, 15}, ' ', clLightGrey);
}
