// The surface picture of a scan: its layout, caption, map with LBA scale and dots over the
// findings, read-speed curve and legend, drawn into memory and encoded as PNG.
// Thread: main.
#include "report/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "report/canvas.h"
#include "report/documents.h"

namespace report {
namespace {

constexpr int GridWidth = 1024;  // the widest row of cells, in pixels
constexpr int ScaleWidth = 200;  // the LBA scale left of the map: 15 digits and a tick
constexpr int PlotHeight = 240;
constexpr int LegendColumns = 3;  // three rows: fast, slow and failed classes, then the blocks not read
constexpr int LegendRows = 3;
constexpr int LegendEntryWidth = 400;
constexpr int Swatch = 18;
constexpr int ContentWidth = std::max(ScaleWidth + GridWidth, LegendColumns* LegendEntryWidth);
constexpr std::uint32_t Curve = 0x1F5FBF;

// From fast to failed, as on the screen: light to dark greys, green, orange, red, then the two
// failures; a cell not read yet is a pale blue.
constexpr std::array<std::uint32_t, 8> ClassColours = {0xD4D4D4, 0xA6A6A6, 0x6E6E6E, 0x2E9E3E,
                                                       0xF08C00, 0xE02020, 0xB000B0, 0x000000};
constexpr std::uint32_t UnreadColour = 0xE6ECF5;

constexpr std::array<const char*, 8> ClassLabels = {"<5ms",   "<30ms",  "<50ms", "<150ms",
                                                    "<300ms", ">300ms", "PUNRB", "UNRB"};

std::string Number(std::uint64_t n) { return std::to_string(n); }

std::string CaptionDate(const plat::DateTime& t) {
    const std::string iso = IsoTime(t);
    return iso.substr(0, 10) + " " + iso.substr(11);
}

// The side of a cell as drawn: from 4 pixels up its last row and column stay blank.
int DrawnPixels(int cellPixels) { return cellPixels >= 4 ? cellPixels - 1 : cellPixels; }

std::uint64_t BlockSectors(const TScanRecord& record) {
    return std::max<std::uint32_t>(1, record.Surface.BlockSectors);
}

// Positions on the drive in GB (10^9 bytes) from its start, to one decimal on a drive of 100 GB or
// more, else to as many as tell the rows apart.
struct TGigabytes {
    std::uint32_t SectorSize;
    int Decimals;
    std::string operator()(std::int64_t lba) const {
        return Decimal(static_cast<double>(lba) * SectorSize / 1e9, Decimals) + " GB";
    }
};

TGigabytes GigabytesOf(const TScanRecord& record) {
    const double end = static_cast<double>(record.LastLba + 1) * record.Drive.SectorSize / 1e9;
    return TGigabytes{record.Drive.SectorSize, end >= 100 ? 1 : end >= 1 ? 2 : 3};
}

void DrawMap(TImage& image, const TPictureLayout& layout, const TScanRecord& record) {
    const int s = layout.CellPixels;
    const int drawn = DrawnPixels(s);
    for (std::size_t i = 0; i < record.Cells.size(); ++i) {
        const int column = static_cast<int>(i % static_cast<std::size_t>(layout.Columns));
        const int row = static_cast<int>(i / static_cast<std::size_t>(layout.Columns));
        image.Fill(layout.GridLeft + column * s, layout.GridTop + row * s, drawn, drawn, CellColour(record.Cells[i]));
    }
    // Dots over the damaged and slow cells too small to see: a white ring under each, then the
    // slow classes, then the failures, worse above better.
    if (drawn >= SmallestCellSeen) return;
    const int right = layout.GridLeft + layout.Columns * s - DotPixels;
    const int bottom = layout.GridTop + layout.Rows * s - DotPixels;
    const auto dot = [&](std::size_t i, int grow, std::uint32_t colour) {
        const int column = static_cast<int>(i % static_cast<std::size_t>(layout.Columns));
        const int row = static_cast<int>(i / static_cast<std::size_t>(layout.Columns));
        const int x = std::max(layout.GridLeft, std::min(layout.GridLeft + column * s + s / 2 - DotPixels / 2, right));
        const int y = std::max(layout.GridTop, std::min(layout.GridTop + row * s + s / 2 - DotPixels / 2, bottom));
        image.Fill(x - grow, y - grow, DotPixels + 2 * grow, DotPixels + 2 * grow, colour);
    };
    for (std::size_t i = 0; i < record.Cells.size(); ++i)
        if (record.Cells[i] != UnreadCell && record.Cells[i] >= bcUnder150ms) dot(i, 1, Background);
    for (std::uint8_t c = bcUnder150ms; c <= bcUNRB; ++c)
        for (std::size_t i = 0; i < record.Cells.size(); ++i)
            if (record.Cells[i] == c) dot(i, 0, ClassColours[c]);
}

// The first LBA of every few rows, with its position in GB, at the map's left.
void DrawScale(TImage& image, const TPictureLayout& layout, const TScanRecord& record) {
    const TGigabytes gb = GigabytesOf(record);
    image.Print(Margin, layout.GridTop - LineHeight - 4, "each row starts at LBA (GB):", ContentWidth);
    const int every = (2 * LineHeight + 8 + layout.CellPixels - 1) / layout.CellPixels;
    const int bottom = layout.GridTop + std::max(layout.Rows * layout.CellPixels, 2 * LineHeight);
    const auto rowSectors = static_cast<std::int64_t>(static_cast<std::uint64_t>(layout.Columns) *
                                                      record.BlocksPerCell * BlockSectors(record));
    for (int row = 0; row < layout.Rows; row += every) {
        const int y = layout.GridTop + row * layout.CellPixels;
        if (row > 0 && y + 2 * LineHeight > bottom) break;
        const std::int64_t lba = record.FirstLba + row * rowSectors;
        image.Fill(layout.GridLeft - 10, y, 8, 2, Ink);
        image.PrintRight(layout.GridLeft - 14, y, Number(static_cast<std::uint64_t>(lba)));
        image.PrintRight(layout.GridLeft - 14, y + LineHeight, gb(lba));
    }
}

void DrawSpeedCurve(TImage& image, const TPictureLayout& layout, const TScanRecord& record) {
    const std::vector<TSpeedPoint> points = SpeedPoints(record.Surface);
    const int left = layout.PlotLeft, top = layout.PlotTop, width = layout.PlotWidth, height = layout.PlotHeight;
    image.Print(Margin, top - LineHeight - 8,
                "read speed, MB/s: the mean of the full reads in each 1/" + Number(points.size()) +
                    " of the range (a gap where none was read whole)",
                ContentWidth);
    double most = 0;
    for (const TSpeedPoint& p : points)
        if (p.MBps) most = std::max(most, *p.MBps);

    const double sectors = static_cast<double>(record.LastLba - record.FirstLba + 1);
    const auto xOf = [&](std::int64_t lba) {
        return left + static_cast<int>(std::lround(static_cast<double>(lba - record.FirstLba) / sectors * width));
    };
    const TGigabytes gb = GigabytesOf(record);
    for (int tick = 0; tick <= 4; ++tick) {
        const std::int64_t lba =
            tick == 4 ? record.LastLba : record.FirstLba + static_cast<std::int64_t>(sectors * tick / 4);
        const int x = tick == 4 ? left + width : xOf(lba);
        image.Fill(x, top, 1, height, Rule);
        image.Fill(x, top + height, 2, 6, Ink);
        image.PrintCentred(x, top + height + 8, Number(static_cast<std::uint64_t>(lba)));
        image.PrintCentred(x, top + height + 8 + LineHeight, gb(lba));
    }
    image.PrintCentred(left + width / 2, top + height + 8 + 2 * LineHeight + 4,
                       "position on the drive: LBA (GB from its start)");

    if (most > 0) {
        double step = 1;
        const double scaleTop = NiceTop(most, step);
        const auto yOf = [&](double v) { return top + height - static_cast<int>(std::lround(v / scaleTop * height)); };
        for (int k = 0; k * step <= scaleTop + step / 2; ++k) {
            const int y = yOf(k * step);
            image.Fill(left, y, width, 1, Rule);
            image.Fill(left - 6, y, 6, 2, Ink);
            image.PrintRight(left - 10, y - LineHeight / 3,
                             Decimal(k * step, step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)))));
        }
        // Each point a step over its part of the range, joined to the one before when both have one.
        int previous = -1;  // none
        for (const TSpeedPoint& p : points) {
            if (!p.MBps) {
                previous = -1;
                continue;
            }
            const int x0 = xOf(p.FirstLba), x1 = std::max(x0 + 2, xOf(p.LastLba + 1));
            const int y = std::min(yOf(*p.MBps), top + height - 2);
            if (previous >= 0) image.Fill(x0, std::min(previous, y), 2, std::abs(previous - y) + 2, Curve);
            image.Fill(x0, y, x1 - x0, 2, Curve);
            previous = y;
        }
    } else {
        image.Print(left + 16, top + height / 2 - LineHeight / 2, "no block was read whole: no speed to show",
                    width - 32);
    }
    image.Fill(left - 2, top, 2, height + 2, Ink);
    image.Fill(left - 2, top + height, width + 2, 2, Ink);
}

void DrawLegend(TImage& image, const TPictureLayout& layout, const TScanRecord& record) {
    const auto legend = [&](int entry, std::uint32_t colour, const std::string& text) {
        const int x = Margin + (entry % LegendColumns) * LegendEntryWidth;
        const int y = layout.LegendTop + (entry / LegendColumns) * (Swatch + 8);
        image.Fill(x, y, Swatch, Swatch, Ink);
        image.Fill(x + 1, y + 1, Swatch - 2, Swatch - 2, colour);
        image.Print(x + Swatch + 8, y + 1, text, LegendEntryWidth - Swatch - 16);
    };
    for (std::size_t c = 0; c < ClassColours.size(); ++c)
        legend(static_cast<int>(c), ClassColours[c], std::string(ClassLabels[c]) + ": " + Number(record.Classes[c]));
    if (record.Blocks < record.RangeBlocks)
        legend(8, UnreadColour, "not read: " + Number(record.RangeBlocks - record.Blocks));
}

}  // namespace

TPictureLayout PictureLayout(std::uint64_t cells, int captionLines) {
    TPictureLayout layout;
    const std::uint64_t wanted = static_cast<std::uint64_t>(std::ceil(std::sqrt(2.0 * static_cast<double>(cells))));
    layout.Columns = static_cast<int>(std::clamp<std::uint64_t>(std::min<std::uint64_t>(wanted, cells), 1, 1024));
    layout.Rows = static_cast<int>((cells + static_cast<std::uint64_t>(layout.Columns) - 1) /
                                   static_cast<std::uint64_t>(layout.Columns));
    layout.CellPixels = std::clamp(GridWidth / layout.Columns, 1, 16);
    layout.TextWidth = ContentWidth;
    layout.Width = ContentWidth + 2 * Margin;
    layout.GridLeft = Margin + ScaleWidth;
    layout.GridTop = Margin + captionLines * LineHeight + Margin + LineHeight + 4;
    const int gridHeight = std::max(layout.Rows * layout.CellPixels, 2 * LineHeight);
    layout.PlotLeft = layout.GridLeft;
    layout.PlotWidth = GridWidth;
    layout.PlotTop = layout.GridTop + gridHeight + 2 * Margin + LineHeight + 8;
    // The curve gives up height to a long caption, down to 40 %.
    const int belowPlot = 8 + 3 * LineHeight + 4 + Margin + LegendRows * (Swatch + 8) + Margin;
    layout.PlotHeight = std::clamp(MostPicturePixels - layout.PlotTop - belowPlot, PlotHeight * 2 / 5, PlotHeight);
    layout.LegendTop = layout.PlotTop + layout.PlotHeight + 8 + 3 * LineHeight + 4 + Margin;
    layout.Height = layout.LegendTop + LegendRows * (Swatch + 8) + Margin;
    return layout;
}

TPictureLayout PictureLayout(const TScanRecord& record) {
    return PictureLayout(record.Cells.size(), static_cast<int>(CaptionLines(record).size()));
}

std::uint32_t CellColour(std::uint8_t cell) { return cell < ClassColours.size() ? ClassColours[cell] : UnreadColour; }

std::vector<std::string> CaptionParagraphs(const TScanRecord& record) {
    const TDriveFacts& d = record.Drive;
    std::vector<std::string> paragraphs;
    paragraphs.push_back(d.Model + "   serial " + d.Serial + "   firmware " + d.Firmware);
    const TGigabytes gb = GigabytesOf(record);
    paragraphs.push_back("LBA " + Number(static_cast<std::uint64_t>(record.FirstLba)) + " - " +
                         Number(static_cast<std::uint64_t>(record.LastLba)) + " of " +
                         Number(static_cast<std::uint64_t>(d.Sectors)) + " (" + Number(d.SectorSize) +
                         "-byte sectors, " + gb(record.FirstLba) + " - " + gb(record.LastLba + 1) + ")");
    // A scan that ended early proves no health: its words say how far it came and what it found.
    paragraphs.push_back("started " + CaptionDate(record.Started) + "   " +
                         (EndedEarly(record) ? OutcomeText(record)
                                             : "completed   verdict: " + std::string(VerdictName(Verdict(record)))));
    const std::uint64_t cellSectors = record.BlocksPerCell * BlockSectors(record);
    const TPictureLayout layout = PictureLayout(record.Cells.size());
    std::string cell = "1 cell = " + Number(record.BlocksPerCell) + (record.BlocksPerCell == 1 ? " block" : " blocks") +
                       " of " + Number(BlockSectors(record)) + " sectors (" +
                       Decimal(static_cast<double>(cellSectors) * d.SectorSize / 1e6, 2) +
                       " MB), coloured by its worst block";
    if (DrawnPixels(layout.CellPixels) < SmallestCellSeen)
        cell += "; a dot marks every cell that holds a slow or damaged block";
    paragraphs.push_back(cell);
    for (const std::string& change : SmartChangeLines(record.Smart, "->")) paragraphs.push_back(change);
    return paragraphs;
}

std::vector<std::string> WrapText(const std::vector<std::string>& paragraphs, int pixels) {
    std::vector<std::string> lines;
    for (const std::string& paragraph : paragraphs) {
        std::string line;
        std::size_t at = 0;
        while (at < paragraph.size()) {
            // The next word and the spaces before it.
            std::size_t end = paragraph.find_first_not_of(' ', at);
            end = end == std::string::npos ? paragraph.size() : paragraph.find(' ', end);
            if (end == std::string::npos) end = paragraph.size();
            const std::string piece = paragraph.substr(at, end - at);
            if (TextPixels(line + piece) <= pixels) {
                line += piece;
                at = end;
                continue;
            }
            if (!line.empty()) {
                lines.push_back(line);
                line.clear();
                at = paragraph.find_first_not_of(' ', at);
                if (at == std::string::npos) at = paragraph.size();
                continue;
            }
            // A word wider than a line: as many of its characters as fit (one at least).
            const auto next = [&](std::size_t n) {
                for (++n; n < piece.size() && (static_cast<unsigned char>(piece[n]) & 0xC0) == 0x80;) ++n;
                return n;
            };
            std::size_t fit = next(0);
            while (fit < piece.size() && TextPixels(piece.substr(0, next(fit))) <= pixels) fit = next(fit);
            lines.push_back(piece.substr(0, fit));
            at += fit;
        }
        if (!line.empty() || paragraph.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> CaptionLines(const TScanRecord& record) {
    return WrapText(CaptionParagraphs(record), ContentWidth);
}

std::vector<std::uint8_t> SurfacePng(const TScanRecord& record) {
    const std::vector<std::string> caption = CaptionLines(record);
    const TPictureLayout layout = PictureLayout(record.Cells.size(), static_cast<int>(caption.size()));
    TImage image{layout.Width, layout.Height,
                 std::vector<std::uint8_t>(static_cast<std::size_t>(layout.Width) * layout.Height * 3, 0xFF)};
    for (std::size_t i = 0; i < caption.size(); ++i)
        image.Print(Margin, Margin + static_cast<int>(i) * LineHeight, caption[i], ContentWidth);
    DrawScale(image, layout, record);
    DrawMap(image, layout, record);
    DrawSpeedCurve(image, layout, record);
    DrawLegend(image, layout, record);

    return EncodePng(image);
}

}  // namespace report
