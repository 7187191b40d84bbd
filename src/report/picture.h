// The surface of a scan as a PNG picture a person reads at a glance: one cell per block (or per
// group of consecutive blocks on a large drive, coloured by the worst of them) in rows of up to
// 1024 cells, a caption, and a legend of the eight classes with their counts.
#pragma once

#include <cstdint>
#include <vector>

#include "report/scan_record.h"

namespace report {

struct TPictureLayout {
    int Columns = 0;  // cells in a full row
    int Rows = 0;
    int CellPixels = 0;  // a cell is a square of this many pixels, its last row and column blank from 4 up
    int Width = 0;
    int Height = 0;
};

inline constexpr int MostPicturePixels = 2048;

TPictureLayout PictureLayout(std::uint64_t cells);
// The RGB colour of a cell of class `cell` (or UnreadCell).
std::uint32_t CellColour(std::uint8_t cell);
std::vector<std::uint8_t> SurfacePng(const TScanRecord& record);

}  // namespace report
