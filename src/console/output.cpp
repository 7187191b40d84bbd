// Screen output (console/output.h) through the console calls of the seam: the cursor, the current
// colour, the text stream and the cell writers.
// Threads: main, clock, ticker.
#include "console/output.h"

#include "app/state.h"

namespace {

plat::Coord At(int x, int y) { return plat::Coord{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)}; }

void Stream(std::string_view bytes) { plat::WriteStream(bytes); }

}  // namespace

void SetCursor(int x, int y) {
    App.CursorPos = At(x, y);
    plat::SetCursorPosition(App.OutputHandle, App.CursorPos);
}

void GotoColumn(int x) { SetCursor(x, plat::GetScreenBufferInfo(App.OutputHandle).CursorPosition.Y); }

void ClearScreen() {
    const plat::Coord largest = plat::GetLargestWindowSize(App.OutputHandle);
    const auto cells = static_cast<std::uint32_t>(std::int32_t{largest.X} * std::int32_t{largest.Y});
    App.CursorPos = At(0, 0);
    plat::FillCharacter(App.OutputHandle, ' ', cells, App.CursorPos);
    SetCursor(0, 0);
}

void ShowCursor(bool visible) {
    plat::CursorInfo info = plat::GetCursorInfo(App.OutputHandle);
    info.Visible = visible;
    plat::SetCursorInfo(App.OutputHandle, info);
}

void SetColor(std::uint8_t attribute) { plat::SetTextAttribute(App.OutputHandle, attribute); }

std::string ToOem(std::string_view text) {
    std::string copy(text);
    plat::AnsiToOem(copy);
    return copy;
}

void WriteText(std::string_view text) { Stream(ToOem(text)); }

void WriteAtLineStart(std::string_view text) {
    GotoColumn(0);
    WriteText(text);
}

void WriteLine(std::string_view text) {
    GotoColumn(0);
    Stream(ToOem(text) + "\r\n");
}

void WriteRaw(std::initializer_list<TRawItem> items) {
    std::string bytes;
    for (const TRawItem& item : items) {
        if (const auto* text = std::get_if<std::string_view>(&item))
            bytes += *text;
        else if (const auto* c = std::get_if<char>(&item))
            bytes += *c;
        else
            bytes += std::to_string(std::get<std::int64_t>(item));
    }
    Stream(bytes);
}

void WriteRawLine(std::initializer_list<TRawItem> items) {
    WriteRaw(items);
    Stream("\r\n");
}

void WriteBlanks(int count) {
    for (int i = 0; i < count; ++i) Stream(" ");
}

void PutTextAt(int x, int y, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        plat::FillCharacter(App.OutputHandle, text[i], 1, At(x + static_cast<int>(i), y));
}

void FillAttributes(int x, int y, std::uint32_t count, std::uint8_t attribute) {
    plat::FillAttribute(App.OutputHandle, attribute, count, At(x, y));
}

void ClearRow(int x, int y) {
    SetCursor(x, y);
    SetColor(clDarkGrey);
    WriteBlanks(77);
    SetCursor(x, y);
}
