// The surface of a scan as a PNG picture a person reads at a glance: a caption, one cell per block
// (or per group of consecutive blocks on a large drive, coloured by the worst of them) in rows of
// up to 1024 cells with the first LBA of every few rows at their left, a dot over every damaged or
// slow cell too small to see, the read-speed curve under it, and a legend of the eight classes
// with their counts.
// Thread: main.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/canvas.h"
#include "report/scan_record.h"

namespace report {

struct TPictureLayout {
    int Columns = 0;  // cells in a full row
    int Rows = 0;
    int CellPixels = 0;  // a cell is a square of this many pixels, its last row and column blank from 4 up
    int GridLeft = 0;    // the top left pixel of the first cell
    int GridTop = 0;
    int PlotLeft = 0;  // the box of the read-speed curve
    int PlotTop = 0;
    int PlotWidth = 0;
    int PlotHeight = 0;
    int LegendTop = 0;
    int TextWidth = 0;  // the longest line of the caption
    int Width = 0;
    int Height = 0;
};

inline constexpr int MostPicturePixels = 2048;
// A damaged or slow cell drawn smaller than SmallestCellSeen pixels a side gets a dot of DotPixels
// over it.
inline constexpr int SmallestCellSeen = 5;
inline constexpr int DotPixels = 9;

// The layout of `cells` cells under a caption of `captionLines` lines.
TPictureLayout PictureLayout(std::uint64_t cells, int captionLines = 3);
TPictureLayout PictureLayout(const TScanRecord& record);

// The RGB colour of a cell of class `cell` (or UnreadCell).
std::uint32_t CellColour(std::uint8_t cell);

// The caption as paragraphs, before wrapping: the drive; the range, start, outcome and verdict;
// what one cell holds; then any notes of the scan.
std::vector<std::string> CaptionParagraphs(const TScanRecord& record);
// Paragraphs broken at spaces into lines of at most `pixels`, in the picture's font (a word wider
// than that is broken where it must); every character is kept but the spaces at a break.
std::vector<std::string> WrapText(const std::vector<std::string>& paragraphs, int pixels);
// The caption wrapped at the picture's width: as many lines as it needs.
std::vector<std::string> CaptionLines(const TScanRecord& record);

std::vector<std::uint8_t> SurfacePng(const TScanRecord& record);

}  // namespace report
