// A picture drawn in memory for the reports: filled rectangles and text in a small built-in font
// (printable ASCII, scaled twice), encoded as PNG. Shared by the scan's surface picture and the
// history's trend picture.
// Thread: main.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace report {

inline constexpr int Margin = 16;
inline constexpr int TextScale = 2;
inline constexpr int LineHeight = 12 * TextScale;  // the font's line height, scaled
inline constexpr std::uint32_t Background = 0xFFFFFF, Ink = 0x202020, Rule = 0xE4E4E4;

// The width of `text` as a picture prints it.
int TextPixels(std::string_view text);

struct TImage {
    int Width;
    int Height;
    std::vector<std::uint8_t> Pixels;  // RGB, row by row

    void Fill(int x, int y, int w, int h, std::uint32_t colour);
    // One line of text; cut at `maxWidth` pixels.
    void Print(int x, int y, std::string_view text, int maxWidth);
    // Text whose right end is at `right`.
    void PrintRight(int right, int y, std::string_view text);
    // Text centred on `x`, kept inside the picture's margins.
    void PrintCentred(int x, int y, std::string_view text);
};

// A white picture of that size.
TImage BlankImage(int width, int height);
std::vector<std::uint8_t> EncodePng(const TImage& image);

// `value` with `decimals` decimals.
std::string Decimal(double value, int decimals);
// A scale's top: 1, 2 or 5 times a power of ten, in at most five steps of `step`.
double NiceTop(double most, double& step);

}  // namespace report
