// The reports' pictures in memory: rectangles, text in stb's easy font, PNG by stb's writer.
// Thread: main.
#include "report/canvas.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

namespace report {
namespace {

// `text` in the font's printable ASCII: dashes and arrows by their ASCII look-alikes, any other
// character as "?".
std::string Ascii(std::string_view text) {
    std::string ascii;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const std::string_view character = text.substr(i, length);
        i += length;
        if (length == 1)
            ascii += lead >= 32 && lead <= 126 ? static_cast<char>(lead) : '?';
        else if (character == "\u2014" || character == "\u2013")
            ascii += '-';
        else if (character == "\u2192")
            ascii += "->";
        else if (character == "\u00D7")
            ascii += 'x';
        else
            ascii += '?';
    }
    return ascii;
}

int AsciiPixels(const std::string& ascii) { return stb_easy_font_width(const_cast<char*>(ascii.c_str())) * TextScale; }

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

int TextPixels(std::string_view text) { return AsciiPixels(Ascii(text)); }

void TImage::Fill(int x, int y, int w, int h, std::uint32_t colour) {
    const int x1 = std::min(Width, x + w), y1 = std::min(Height, y + h);
    for (int py = std::max(0, y); py < y1; ++py)
        for (int px = std::max(0, x); px < x1; ++px) {
            std::uint8_t* p = &Pixels[(static_cast<std::size_t>(py) * Width + px) * 3];
            p[0] = static_cast<std::uint8_t>(colour >> 16);
            p[1] = static_cast<std::uint8_t>(colour >> 8);
            p[2] = static_cast<std::uint8_t>(colour);
        }
}

void TImage::Print(int x, int y, std::string_view text, int maxWidth) {
    std::string ascii = Ascii(text);
    while (!ascii.empty() && AsciiPixels(ascii) > maxWidth) ascii.pop_back();
    static std::array<char, 1 << 18> vertices;
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

void TImage::PrintRight(int right, int y, std::string_view text) {
    const int width = TextPixels(text);
    Print(right - width, y, text, width);
}

void TImage::PrintCentred(int x, int y, std::string_view text) {
    const int width = TextPixels(text);
    Print(std::clamp(x - width / 2, Margin, Width - Margin - width), y, text, width);
}

TImage BlankImage(int width, int height) {
    return TImage{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3, 0xFF)};
}

std::vector<std::uint8_t> EncodePng(const TImage& image) {
    std::vector<std::uint8_t> png;
    stbi_write_png_to_func(AppendBytes, &png, image.Width, image.Height, 3, image.Pixels.data(), image.Width * 3);
    return png;
}

std::string Decimal(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The scale's top: 1, 2 or 5 times a power of ten, in at most five steps of `step`.
double NiceTop(double most, double& step) {
    const double power = std::pow(10.0, std::floor(std::log10(most / 5)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (std::ceil(most / step) <= 5) break;
    }
    return std::max(1.0, std::ceil(most / step)) * step;
}

}  // namespace report
