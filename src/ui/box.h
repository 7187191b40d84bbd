// The frame both boxes share: 39 columns from column 19, double-line OEM frame characters.
// Thread: main.
#pragma once

#include <string_view>

inline constexpr int BoxColumn = 19;
inline constexpr int BoxInner = 35;

void DrawBoxRule(int row, char left, char fill, char right);  // blank, frame line, blank
void DrawBoxEdges(int row);                                   // blank and left frame; the cursor stays at column 21
void CloseBoxRow();                                           // right frame and blank after the inner columns
void DrawEmptyBoxRow(int row);
void DrawKeyLine(int row, std::string_view key1, std::string_view text1, std::string_view key2, std::string_view text2);
