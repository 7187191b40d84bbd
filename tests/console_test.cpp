// The screen buffer and the output primitives, called directly on the headless console.
#include "app/state.h"
#include "console/output.h"
#include "program.h"

namespace {

using plat::screen::Cell;
using plat::screen::ScreenBuffer;

using Console = TWithoutProgram;

}  // namespace

TEST(ScreenBuffer, CursorMovesOnlyInsideTheBuffer) {
    ScreenBuffer s({80, 25});
    EXPECT_TRUE(s.SetCursor({79, 24}));
    EXPECT_FALSE(s.SetCursor({80, 24}));
    EXPECT_FALSE(s.SetCursor({0, 25}));
    EXPECT_FALSE(s.SetCursor({-1, 0}));
    EXPECT_EQ(s.Cursor(), (plat::Coord{79, 24}));
}

TEST(ScreenBuffer, TextStreamWrapsAndScrolls) {
    ScreenBuffer s({80, 25});
    s.SetAttribute(0x1F);
    s.SetCursor({78, 0});
    s.Write("ab");
    EXPECT_EQ(s.Cursor(), (plat::Coord{0, 1})) << "writing column 79 moves the cursor to the next row";
    EXPECT_EQ(s.At({79, 0}), (Cell{'b', 0x1F}));
    s.Write("xy\r\n");
    EXPECT_EQ(s.Cursor(), (plat::Coord{0, 2}));
    s.Write("cd\rZ");
    EXPECT_EQ(s.At({0, 2}).Char, 'Z');
    EXPECT_EQ(s.At({1, 2}).Char, 'd');

    s.SetCursor({0, 24});
    s.SetAttribute(0x0C);
    s.Write("last\n");
    EXPECT_EQ(s.Cursor(), (plat::Coord{0, 24}));
    EXPECT_EQ(s.At({0, 23}), (Cell{'l', 0x0C})) << "the buffer scrolled up one row";
    EXPECT_EQ(s.At({0, 0}).Char, 'x');
    EXPECT_EQ(s.At({0, 24}), (Cell{' ', 0x0C})) << "the new row takes the current attribute";
}

TEST(ScreenBuffer, FillsAndWritesStopAtTheEndOfTheBuffer) {
    ScreenBuffer s({80, 25});
    EXPECT_EQ(s.FillChar('#', 5000, {0, 0}), 2000u);
    EXPECT_EQ(s.FillAttr(0x84, 100, {70, 24}), 10u);
    EXPECT_EQ(s.At({69, 24}).Attr, 0x07);
    EXPECT_EQ(s.At({70, 24}), (Cell{'#', 0x84}));
    EXPECT_EQ(s.FillAttr(0x84, 3, {78, 3}), 3u);
    EXPECT_EQ(s.At({0, 4}).Attr, 0x84) << "a fill continues on the next row";
    EXPECT_EQ(s.WriteChars("abc", {79, 24}), 1u);
    EXPECT_EQ(s.FillChar('x', 1, {80, 0}), 0u);
    s.SetCursor({5, 5});
    s.WriteChars("zz", {0, 0});
    EXPECT_EQ(s.Cursor(), (plat::Coord{5, 5})) << "cell writes leave the cursor";
}

TEST(ScreenBuffer, ScrollMovesARectangleAndFillsWhatItUncovers) {
    ScreenBuffer s({80, 25});
    for (std::int16_t y = 5; y <= 23; ++y) s.FillChar(static_cast<std::uint8_t>('A' + y - 5), 80, {0, y});
    s.Scroll(plat::Rect{0, 6, 56, 23}, plat::Coord{0, 5}, Cell{' ', 7});
    EXPECT_EQ(s.At({0, 5}).Char, 'B');
    EXPECT_EQ(s.At({56, 22}).Char, 'S');
    EXPECT_EQ(s.At({0, 23}), (Cell{' ', 7}));
    EXPECT_EQ(s.At({57, 5}).Char, 'A') << "columns right of the rectangle stay";
    EXPECT_EQ(s.At({57, 23}).Char, 'S');
}

TEST(ScreenBuffer, SizeChangesUnlessLocked) {
    ScreenBuffer s({120, 40});
    EXPECT_TRUE(s.SetSize({80, 25}));
    EXPECT_EQ(s.Size(), (plat::Coord{80, 25}));
    s.SetSizeLocked(true);
    EXPECT_FALSE(s.SetSize({100, 25}));
    EXPECT_TRUE(s.SetSize({80, 25}));
}

TEST_F(Console, ClearScreenBlanksCharactersAndKeepsColours) {
    FillAttributes(0, 0, 2000, 0x1F);
    PutTextAt(10, 10, "text");
    SetCursor(40, 12);
    ClearScreen();
    EXPECT_EQ(H().Char(10, 10), ' ');
    EXPECT_EQ(H().Attr(10, 10), 0x1F);
    EXPECT_EQ(H().Attr(79, 24), 0x1F);
    EXPECT_EQ(H().Cursor(), (plat::Coord{0, 0}));
}

TEST_F(Console, ConvertingWritersShowCyrillicAndLeaveTheTextAlone) {
    const std::string text = "\xcf\xf0\xee\xe2\xe5\xf0\xea\xe0 \xa8\xb8";  // Windows-1251
    const std::string before = text;
    SetCursor(0, 2);
    WriteText(text);
    EXPECT_EQ(H().Text(0, 2, 11), "Проверка Ёё");
    EXPECT_EQ(text, before);
    EXPECT_EQ(H().Cursor(), (plat::Coord{11, 2}));
}

TEST_F(Console, EmptyWritesAndLineStarts) {
    SetCursor(7, 4);
    WriteText("");
    EXPECT_EQ(H().Cursor(), (plat::Coord{7, 4}));
    WriteLine("");
    EXPECT_EQ(H().Cursor(), (plat::Coord{0, 5}));

    SetCursor(0, 6);
    WriteRaw({"0123456789012345678901234567890123456789012345678"});
    SetCursor(40, 6);
    WriteAtLineStart("abc");
    EXPECT_EQ(H().Text(0, 6, 12), "abc345678901");
    EXPECT_EQ(H().Cursor(), (plat::Coord{3, 6}));
}

TEST_F(Console, RawWritesNumbersAndBytesUnchanged) {
    SetCursor(0, 3);
    WriteRaw({"[", std::int64_t{-42}, "] ", std::int64_t{9000000000}, '\xDB', '\xB0'});
    EXPECT_EQ(H().Text(0, 3, 18), "[-42] 9000000000█░");
    WriteRawLine();
    EXPECT_EQ(H().Cursor(), (plat::Coord{0, 4}));
}

TEST_F(Console, ClearRowBlanksSeventySevenCellsInDarkGrey) {
    PutTextAt(0, 3, std::string(80, 'x'));
    FillAttributes(0, 3, 80, 0x1F);
    SetColor(0x1E);
    ClearRow(0, 3);
    EXPECT_EQ(H().Text(0, 3, 80), std::string(77, ' ') + "xxx");
    EXPECT_EQ(H().Attr(76, 3), 8);
    EXPECT_EQ(H().Attr(77, 3), 0x1F);
    EXPECT_EQ(H().Cursor(), (plat::Coord{0, 3}));
    EXPECT_EQ(H().CurrentAttribute(), 8);
}

TEST_F(Console, ShowCursorKeepsItsSize) {
    plat::SetCursorInfo(0, plat::CursorInfo{60, true});
    ShowCursor(false);
    EXPECT_FALSE(H().CursorVisible());
    ShowCursor(true);
    EXPECT_TRUE(H().CursorVisible());
    EXPECT_EQ(plat::GetCursorInfo(0).Size, 60u);
}

TEST_F(Console, CellWritesLeaveTheCursorAndColour) {
    SetCursor(12, 7);
    SetColor(0x0A);
    PutTextAt(1, 24, "ticker");
    FillAttributes(71, 0, 8, 30);
    EXPECT_EQ(H().Cursor(), (plat::Coord{12, 7}));
    EXPECT_EQ(H().CurrentAttribute(), 0x0A);
    WriteRaw({"x"});
    EXPECT_EQ(H().Attr(12, 7), 0x0A);
}
