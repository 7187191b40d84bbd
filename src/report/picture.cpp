#include "report/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "report/documents.h"

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

namespace report {
namespace {

constexpr int Margin = 16;
constexpr int TextScale = 2;
constexpr int LineHeight = 12 * TextScale;  // the font's line height, scaled
constexpr int GridWidth = 1024;             // the widest row of cells, in pixels
constexpr int LegendColumns = 5;            // two rows: the eight classes, and the blocks not read
constexpr int LegendEntryWidth = 240;
constexpr int Swatch = 18;
constexpr std::uint32_t Background = 0xFFFFFF, Ink = 0x202020;

// From fast to failed, as on the screen: light to dark greys, green, orange, red, then the two
// failures; a cell not read yet is a pale blue.
constexpr std::array<std::uint32_t, 8> ClassColours = {0xD4D4D4, 0xA6A6A6, 0x6E6E6E, 0x2E9E3E,
                                                       0xF08C00, 0xE02020, 0xB000B0, 0x000000};
constexpr std::uint32_t UnreadColour = 0xE6ECF5;

constexpr std::array<const char*, 8> ClassLabels = {"<5ms",   "<30ms",  "<50ms", "<150ms",
                                                    "<300ms", ">300ms", "PUNRB", "UNRB"};

struct TImage {
    int Width;
    int Height;
    std::vector<std::uint8_t> Pixels;  // RGB, row by row

    void Fill(int x, int y, int w, int h, std::uint32_t colour) {
        const int x1 = std::min(Width, x + w), y1 = std::min(Height, y + h);
        for (int py = std::max(0, y); py < y1; ++py)
            for (int px = std::max(0, x); px < x1; ++px) {
                std::uint8_t* p = &Pixels[(static_cast<std::size_t>(py) * Width + px) * 3];
                p[0] = static_cast<std::uint8_t>(colour >> 16);
                p[1] = static_cast<std::uint8_t>(colour >> 8);
                p[2] = static_cast<std::uint8_t>(colour);
            }
    }

    // Text in the font's printable ASCII; anything else shows as "?". Cut at `maxWidth` pixels.
    void Print(int x, int y, std::string_view text, int maxWidth) {
        std::string ascii;
        for (char c : text) ascii += c >= 32 && c <= 126 ? c : '?';
        while (!ascii.empty() && TextWidth(ascii) > maxWidth) ascii.pop_back();
        static std::array<char, 65536> vertices;
        const int quads = stb_easy_font_print(0, 0, ascii.data(), nullptr, vertices.data(), vertices.size());
        for (int q = 0; q < quads; ++q) {
            float corner[4][2];
            for (int v = 0; v < 4; ++v) std::memcpy(corner[v], &vertices[static_cast<std::size_t>(q * 64 + v * 16)], 8);
            const float left = std::min({corner[0][0], corner[1][0], corner[2][0], corner[3][0]});
            const float right = std::max({corner[0][0], corner[1][0], corner[2][0], corner[3][0]});
            const float top = std::min({corner[0][1], corner[1][1], corner[2][1], corner[3][1]});
            const float bottom = std::max({corner[0][1], corner[1][1], corner[2][1], corner[3][1]});
            const int x0 = x + static_cast<int>(std::lround(left * TextScale));
            const int y0 = y + static_cast<int>(std::lround(top * TextScale));
            Fill(x0, y0, static_cast<int>(std::lround((right - left) * TextScale)),
                 static_cast<int>(std::lround((bottom - top) * TextScale)), Ink);
        }
    }

    static int TextWidth(std::string& ascii) { return stb_easy_font_width(ascii.data()) * TextScale; }
};

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::string Number(std::uint64_t n) { return std::to_string(n); }

std::string CaptionDate(const plat::DateTime& t) {
    const std::string iso = IsoTime(t);
    return iso.substr(0, 10) + " " + iso.substr(11);
}

}  // namespace

TPictureLayout PictureLayout(std::uint64_t cells) {
    TPictureLayout layout;
    const std::uint64_t wanted = static_cast<std::uint64_t>(std::ceil(std::sqrt(2.0 * static_cast<double>(cells))));
    layout.Columns = static_cast<int>(std::clamp<std::uint64_t>(std::min<std::uint64_t>(wanted, cells), 1, 1024));
    layout.Rows = static_cast<int>((cells + static_cast<std::uint64_t>(layout.Columns) - 1) /
                                   static_cast<std::uint64_t>(layout.Columns));
    layout.CellPixels = std::clamp(GridWidth / layout.Columns, 1, 16);
    const int legendRows = 2;
    layout.Width = std::max(layout.Columns * layout.CellPixels, LegendColumns * LegendEntryWidth) + 2 * Margin;
    layout.Height = Margin + 2 * LineHeight + Margin + layout.Rows * layout.CellPixels + Margin +
                    legendRows * (Swatch + 8) + Margin;
    return layout;
}

std::uint32_t CellColour(std::uint8_t cell) { return cell < ClassColours.size() ? ClassColours[cell] : UnreadColour; }

std::vector<std::uint8_t> SurfacePng(const TScanRecord& record) {
    const TPictureLayout layout = PictureLayout(record.Cells.size());
    TImage image{layout.Width, layout.Height,
                 std::vector<std::uint8_t>(static_cast<std::size_t>(layout.Width) * layout.Height * 3, 0xFF)};
    image.Fill(0, 0, layout.Width, layout.Height, Background);
    const int textWidth = layout.Width - 2 * Margin;

    const TDriveFacts& d = record.Drive;
    image.Print(Margin, Margin, d.Model + "   serial " + d.Serial + "   firmware " + d.Firmware, textWidth);
    std::string second = "LBA " + Number(static_cast<std::uint64_t>(record.FirstLba)) + "-" +
                         Number(static_cast<std::uint64_t>(record.LastLba)) + " (" + Number(d.SectorSize) +
                         "-byte sectors)   " + CaptionDate(record.Started) + "   " +
                         (record.Stopped ? "stopped" : "completed") +
                         "   verdict: " + std::string(VerdictName(Verdict(record.Classes)));
    if (record.BlocksPerCell > 1) second += "   1 cell = " + Number(record.BlocksPerCell) + " blocks";
    image.Print(Margin, Margin + LineHeight, second, textWidth);

    const int gridTop = Margin + 2 * LineHeight + Margin;
    const int s = layout.CellPixels;
    const int drawn = s >= 4 ? s - 1 : s;
    for (std::size_t i = 0; i < record.Cells.size(); ++i) {
        const int column = static_cast<int>(i % static_cast<std::size_t>(layout.Columns));
        const int row = static_cast<int>(i / static_cast<std::size_t>(layout.Columns));
        image.Fill(Margin + column * s, gridTop + row * s, drawn, drawn, CellColour(record.Cells[i]));
    }

    const int legendTop = gridTop + layout.Rows * s + Margin;
    const auto legend = [&](int entry, std::uint32_t colour, const std::string& text) {
        const int x = Margin + (entry % LegendColumns) * LegendEntryWidth;
        const int y = legendTop + (entry / LegendColumns) * (Swatch + 8);
        image.Fill(x, y, Swatch, Swatch, Ink);
        image.Fill(x + 1, y + 1, Swatch - 2, Swatch - 2, colour);
        image.Print(x + Swatch + 8, y + 1, text, LegendEntryWidth - Swatch - 16);
    };
    for (std::size_t c = 0; c < ClassColours.size(); ++c)
        legend(static_cast<int>(c), ClassColours[c], std::string(ClassLabels[c]) + ": " + Number(record.Classes[c]));
    if (record.Blocks < record.RangeBlocks)
        legend(8, UnreadColour, "not read: " + Number(record.RangeBlocks - record.Blocks));

    std::vector<std::uint8_t> png;
    stbi_write_png_to_func(AppendBytes, &png, layout.Width, layout.Height, 3, image.Pixels.data(), layout.Width * 3);
    return png;
}

}  // namespace report
