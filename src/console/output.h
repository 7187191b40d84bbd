// Screen output: the cursor, the current colour, the converting and raw text-stream writers and
// the cell writers. Texts are Windows-1251; the converting writers turn a private copy into the
// console's OEM code page, the raw writers pass bytes through (digits, drive texts, OEM glyphs).
// The clock and ticker threads use only the cell writers (PutTextAt, FillAttributes) and ToOem.
// Threads: main, clock, ticker.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

// Console attributes the program uses (foreground in bits 0-3, background in bits 4-7).
enum TColor : std::uint8_t {
    clBlue = 1,
    clGreen = 2,
    clRed = 4,
    clLightGrey = 7,
    clDarkGrey = 8,
    clLightGreen = 10,
    clLightCyan = 11,
    clLightRed = 12,
    clWhite = 15,
    clGreyOnBlue = 24,
    clYellowOnBlue = 30,
    clWhiteOnBlue = 31,
    clYellowOnCyan = 62,
    clWhiteOnCyan = 63,
    clBlackOnGrey = 128,
    clRedOnGrey = 132,
};

void SetCursor(int x, int y);
void GotoColumn(int x);
void ClearScreen();
void ShowCursor(bool visible);
void SetColor(std::uint8_t attribute);

void WriteText(std::string_view text);
void WriteAtLineStart(std::string_view text);
void WriteLine(std::string_view text);

// One item of a raw write: bytes as they are, or an integer in decimal.
using TRawItem = std::variant<std::string_view, char, std::int64_t>;
void WriteRaw(std::initializer_list<TRawItem> items);
void WriteRawLine(std::initializer_list<TRawItem> items = {});
void WriteBlanks(int count);  // raw blanks, one flushed write each

void PutTextAt(int x, int y, std::string_view text);
void FillAttributes(int x, int y, std::uint32_t count, std::uint8_t attribute);
void ClearRow(int x, int y);

// The text converted to the OEM code page.
std::string ToOem(std::string_view text);
