// The trend picture of a drive: a caption with the trend's sentence, the read-speed curves of its
// latest scans on one chart, each in a colour of its own with its date in the legend, and under it
// a strip per scan along the LBA axis with its damaged and slow runs in their class colours, the
// new ones of the latest scan marked above its strip.
// Thread: main.
#include "report/picture.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "history/history.h"
#include "history/parts.h"
#include "report/canvas.h"

namespace history {
namespace {

using report::Ink;
using report::LineHeight;
using report::Margin;
using report::Rule;

constexpr int LabelWidth = 220;  // the dates left of the strips
constexpr int PlotWidth = 1024;
constexpr int PlotHeight = 320;
constexpr int StripHeight = 16;
constexpr int StripGap = 10;
constexpr int MarkHeight = 8;  // the marks of the new runs, above the latest strip
constexpr int Swatch = 18;
constexpr int ContentWidth = LabelWidth + PlotWidth;
constexpr std::uint32_t ReadColour = 0xE8E8E8, UnreadColour = 0xFFFFFF, NewMark = 0xE00060;

// One colour a scan, told apart at a glance; the latest scans get them in this order.
constexpr std::array<std::uint32_t, 12> ScanColours = {0x1F5FBF, 0xE07000, 0x20A040, 0xC02030, 0x8040C0, 0x00A0B0,
                                                       0x806020, 0xE040A0, 0x607080, 0xA0B000, 0x003070, 0x60C0FF};

struct TAxis {
    std::int64_t First = 0, Last = 0;  // sectors shown
    int Left = 0;
    int X(std::int64_t lba) const {
        const double share = static_cast<double>(lba - First) / static_cast<double>(Last - First + 1);
        return Left + static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * PlotWidth));
    }
};

// A run as a bar at least `least` pixels wide.
void Bar(report::TImage& image, const TAxis& axis, const TRun& run, int y, int height, std::uint32_t colour,
         int least = 2) {
    const int x0 = axis.X(run.FirstLba), x1 = std::max(x0 + least, axis.X(run.LastLba + 1));
    image.Fill(x0 - (x1 - x0 == least ? least / 2 : 0), y, x1 - x0, height, colour);
}

void DrawCurves(report::TImage& image, const TAxis& axis, int top, const std::vector<const TReading*>& scans) {
    double most = 0;
    for (const TReading* s : scans)
        for (const TSpeed& p : s->Speed)
            if (p.MBps) most = std::max(most, *p.MBps);
    image.Print(Margin, top - LineHeight - 8, "read speed, MB/s, of each scan along the drive", ContentWidth);
    for (int tick = 0; tick <= 4; ++tick) {
        const std::int64_t lba = axis.First + (axis.Last - axis.First) * tick / 4;
        const int x = axis.X(lba);
        image.Fill(x, top, 1, PlotHeight, Rule);
        image.PrintCentred(x, top + PlotHeight + 8, std::to_string(lba));
    }
    image.PrintCentred(axis.Left + PlotWidth / 2, top + PlotHeight + 8 + LineHeight, "LBA");
    if (most > 0) {
        double step = 1;
        const double scaleTop = report::NiceTop(most, step);
        const auto yOf = [&](double v) {
            return top + PlotHeight - static_cast<int>(std::lround(v / scaleTop * PlotHeight));
        };
        for (int k = 0; k * step <= scaleTop + step / 2; ++k) {
            image.Fill(axis.Left, yOf(k * step), PlotWidth, 1, Rule);
            image.PrintRight(axis.Left - 10, yOf(k * step) - LineHeight / 3,
                             report::Decimal(k * step, step >= 1 ? 0 : 1));
        }
        for (std::size_t s = 0; s < scans.size(); ++s) {
            const TReading& scan = *scans[s];
            int previous = -1;
            for (std::size_t i = 0; i < scan.Speed.size(); ++i) {
                const TSpeed& p = scan.Speed[i];
                if (!p.MBps) {
                    previous = -1;
                    continue;
                }
                const std::int64_t last = i + 1 < scan.Speed.size() ? scan.Speed[i + 1].FirstLba - 1 : scan.LastLba;
                const int x0 = axis.X(p.FirstLba), x1 = std::max(x0 + 2, axis.X(last + 1));
                const int y = std::min(yOf(*p.MBps), top + PlotHeight - 3);
                const std::uint32_t colour = ScanColours[s % ScanColours.size()];
                if (previous >= 0) image.Fill(x0, std::min(previous, y), 3, std::abs(previous - y) + 3, colour);
                image.Fill(x0, y, x1 - x0, 3, colour);
                previous = y;
            }
        }
    } else {
        image.Print(axis.Left + 16, top + PlotHeight / 2, "no scan read a block whole: no speed to show", PlotWidth);
    }
    image.Fill(axis.Left - 2, top, 2, PlotHeight + 2, Ink);
    image.Fill(axis.Left - 2, top + PlotHeight, PlotWidth + 2, 2, Ink);
}

}  // namespace

std::vector<std::uint8_t> HistoryPng(const TDrive& drive) {
    // The latest scans, as many as there are colours.
    std::vector<const TReading*> scans;
    std::size_t allScans = 0;
    for (const TReading& r : drive.Readings)
        if (r.Kind == TKind::Scan) ++allScans, scans.push_back(&r);
    if (scans.size() > ScanColours.size())
        scans.erase(scans.begin(), scans.end() - static_cast<std::ptrdiff_t>(ScanColours.size()));

    std::vector<std::string> paragraphs = {
        drive.Model + "   serial " + drive.Serial + "   " + std::to_string(drive.Readings.size()) + " readings, " +
            std::to_string(allScans) + " scans" +
            (allScans > scans.size() ? " (the latest " + std::to_string(scans.size()) + " drawn)" : ""),
        TrendSentence(drive)};
    const std::vector<std::string> caption = report::WrapText(paragraphs, ContentWidth);

    TAxis axis{0, 0, Margin + LabelWidth};
    bool any = false;
    for (const TReading* s : scans) {
        axis.First = any ? std::min(axis.First, s->FirstLba) : s->FirstLba;
        axis.Last = any ? std::max(axis.Last, s->LastLba) : s->LastLba;
        any = true;
    }
    if (axis.Last < axis.First) axis.Last = axis.First;

    const int plotTop = Margin + static_cast<int>(caption.size()) * LineHeight + Margin + LineHeight + 8;
    const int legendTop = plotTop + PlotHeight + 8 + 2 * LineHeight + Margin;
    const int legendRows = static_cast<int>((scans.size() + 2) / 3);
    const int stripsTop = legendTop + legendRows * (Swatch + 8) + Margin + LineHeight + 8;
    // The latest strip has room above it for the marks of the new runs.
    const auto stripTop = [&](std::size_t s) {
        return stripsTop + static_cast<int>(s) * (StripHeight + StripGap) +
               (s + 1 == scans.size() ? MarkHeight + 6 : 0);
    };
    const int stripsHeight = static_cast<int>(scans.size()) * (StripHeight + StripGap) + MarkHeight + 6;
    const int keyTop = stripsTop + stripsHeight + Margin;
    report::TImage image = report::BlankImage(ContentWidth + 2 * Margin, keyTop + 3 * (Swatch + 8) + Margin);

    for (std::size_t i = 0; i < caption.size(); ++i)
        image.Print(Margin, Margin + static_cast<int>(i) * LineHeight, caption[i], ContentWidth);
    DrawCurves(image, axis, plotTop, scans);

    const auto swatch = [&](int x, int y, std::uint32_t colour, const std::string& text, int width) {
        image.Fill(x, y, Swatch, Swatch, Ink);
        image.Fill(x + 1, y + 1, Swatch - 2, Swatch - 2, colour);
        image.Print(x + Swatch + 8, y + 1, text, width - Swatch - 16);
    };
    for (std::size_t s = 0; s < scans.size(); ++s)
        swatch(Margin + static_cast<int>(s % 3) * 420, legendTop + static_cast<int>(s / 3) * (Swatch + 8),
               ScanColours[s], "scan " + Minute(scans[s]->Time) + " " + scans[s]->Outcome, 420);

    image.Print(Margin, stripsTop - LineHeight - 8,
                "damaged and slow runs of each scan along the drive; new ones of the latest marked above it",
                ContentWidth);
    for (std::size_t s = 0; s < scans.size(); ++s) {
        const TReading& scan = *scans[s];
        const int y = stripTop(s);
        image.Fill(Margin, y + 2, 10, StripHeight - 4, ScanColours[s]);
        image.Print(Margin + 16, y - 2, Minute(scan.Time), LabelWidth - 24);
        image.Fill(axis.Left, y, PlotWidth, StripHeight, UnreadColour);
        const std::int64_t readLast = std::min<std::int64_t>(
            scan.LastLba, scan.FirstLba + static_cast<std::int64_t>(scan.Blocks * scan.BlockSectors) - 1);
        if (readLast >= scan.FirstLba)
            Bar(image, axis, TRun{scan.FirstLba, readLast, 0, 0}, y, StripHeight, ReadColour);
        for (const TRun& r : scan.Slow) Bar(image, axis, r, y, StripHeight, report::CellColour(r.Worst));
        for (const TRun& r : scan.Damaged) Bar(image, axis, r, y, StripHeight, report::CellColour(r.Worst));
        image.Fill(axis.Left - 1, y - 1, PlotWidth + 2, 1, Ink);
        image.Fill(axis.Left - 1, y + StripHeight, PlotWidth + 2, 1, Ink);
        if (s + 1 == scans.size()) {
            for (const TRun& r : drive.Trend.NewSlow) Bar(image, axis, r, y - MarkHeight - 4, MarkHeight, NewMark, 6);
            for (const TRun& r : drive.Trend.NewDamaged)
                Bar(image, axis, r, y - MarkHeight - 4, MarkHeight, NewMark, 6);
        }
    }

    const std::array<std::pair<std::uint32_t, const char*>, 9> key = {{
        {ReadColour, "read, fast"},
        {report::CellColour(3), "slow <150ms"},
        {report::CellColour(4), "slow <300ms"},
        {report::CellColour(5), "slow >300ms"},
        {report::CellColour(6), "damaged PUNRB"},
        {report::CellColour(7), "damaged UNRB"},
        {UnreadColour, "not read"},
        {NewMark, "new since the earlier scans"},
    }};
    for (std::size_t k = 0; k < key.size() && key[k].second; ++k)
        swatch(Margin + static_cast<int>(k % 3) * 420, keyTop + static_cast<int>(k / 3) * (Swatch + 8), key[k].first,
               key[k].second, 420);
    return report::EncodePng(image);
}

}  // namespace history
