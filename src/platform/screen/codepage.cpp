// The fixed code-page tables (codepage.h).
// Threads: main, clock, ticker, presenter, test.
#include "platform/screen/codepage.h"

#include <array>

namespace plat::screen {
namespace {

// Windows-1251 0x80..0xFF to code page 866 as a Russian Windows converts them (its best fit):
// a character 866 lacks becomes a look-alike, a glyph of the control codes (the bullet 0x07,
// the section sign 0x15) or "?". Cyrillic letters map one to one.
constexpr std::array<std::uint8_t, 128> AnsiHighToOem = {
    0x3F,
    0x3F,
    0x27,
    0x3F,
    0x22,
    0x3A,
    0xC5,
    0xD8,
    0x3F,
    0x25,
    0x3F,
    0x3C,
    0x3F,
    0x3F,
    0x3F,
    0x3F,
    0x3F,
    0x27,
    0x27,
    0x22,
    0x22,
    0x07,
    0x2D,
    0x2D,
    0x3F,
    0x54,
    0x3F,
    0x3E,
    0x3F,
    0x3F,
    0x3F,
    0x3F,
    0xFF,
    0xF6,
    0xF7,
    0x3F,
    0xFD,
    0x3F,
    0xB3,
    0x15,
    0xF0,
    0x63,
    0xF2,
    0x3C,
    0xBF,
    0x2D,
    0x52,
    0xF4,
    0xF8,
    0x2B,
    0x3F,
    0x3F,
    0x3F,
    0xE7,
    0x14,
    0xFA,
    0xF1,
    0xFC,
    0xF3,
    0x3E,
    0x3F,
    0x3F,
    0x3F,
    0xF5,
    // 0xC0..0xFF: А..Я, а..п, р..я
    0x80,
    0x81,
    0x82,
    0x83,
    0x84,
    0x85,
    0x86,
    0x87,
    0x88,
    0x89,
    0x8A,
    0x8B,
    0x8C,
    0x8D,
    0x8E,
    0x8F,
    0x90,
    0x91,
    0x92,
    0x93,
    0x94,
    0x95,
    0x96,
    0x97,
    0x98,
    0x99,
    0x9A,
    0x9B,
    0x9C,
    0x9D,
    0x9E,
    0x9F,
    0xA0,
    0xA1,
    0xA2,
    0xA3,
    0xA4,
    0xA5,
    0xA6,
    0xA7,
    0xA8,
    0xA9,
    0xAA,
    0xAB,
    0xAC,
    0xAD,
    0xAE,
    0xAF,
    0xE0,
    0xE1,
    0xE2,
    0xE3,
    0xE4,
    0xE5,
    0xE6,
    0xE7,
    0xE8,
    0xE9,
    0xEA,
    0xEB,
    0xEC,
    0xED,
    0xEE,
    0xEF,
};

// What the console shows for each byte of code page 866 (control codes as their glyphs).
constexpr std::array<std::string_view, 256> OemGlyphs = {
    " ", "☺", "☻", "♥", "♦",  "♣", "♠", "•", "◘", "○", "◙", "♂", "♀",  "♪", "♫", "☼", "►", "◄", "↕", "‼", "¶", "§",
    "▬", "↨", "↑", "↓", "→",  "←", "∟", "↔", "▲", "▼", " ", "!", "\"", "#", "$", "%", "&", "'", "(", ")", "*", "+",
    ",", "-", ".", "/", "0",  "1", "2", "3", "4", "5", "6", "7", "8",  "9", ":", ";", "<", "=", ">", "?", "@", "A",
    "B", "C", "D", "E", "F",  "G", "H", "I", "J", "K", "L", "M", "N",  "O", "P", "Q", "R", "S", "T", "U", "V", "W",
    "X", "Y", "Z", "[", "\\", "]", "^", "_", "`", "a", "b", "c", "d",  "e", "f", "g", "h", "i", "j", "k", "l", "m",
    "n", "o", "p", "q", "r",  "s", "t", "u", "v", "w", "x", "y", "z",  "{", "|", "}", "~", "⌂", "А", "Б", "В", "Г",
    "Д", "Е", "Ж", "З", "И",  "Й", "К", "Л", "М", "Н", "О", "П", "Р",  "С", "Т", "У", "Ф", "Х", "Ц", "Ч", "Ш", "Щ",
    "Ъ", "Ы", "Ь", "Э", "Ю",  "Я", "а", "б", "в", "г", "д", "е", "ж",  "з", "и", "й", "к", "л", "м", "н", "о", "п",
    "░", "▒", "▓", "│", "┤",  "╡", "╢", "╖", "╕", "╣", "║", "╗", "╝",  "╜", "╛", "┐", "└", "┴", "┬", "├", "─", "┼",
    "╞", "╟", "╚", "╔", "╩",  "╦", "╠", "═", "╬", "╧", "╨", "╤", "╥",  "╙", "╘", "╒", "╓", "╫", "╪", "┘", "┌", "█",
    "▄", "▌", "▐", "▀", "р",  "с", "т", "у", "ф", "х", "ц", "ч", "ш",  "щ", "ъ", "ы", "ь", "э", "ю", "я", "Ё", "ё",
    "Є", "є", "Ї", "ї", "Ў",  "ў", "°", "∙", "·", "√", "№", "¤", "■",  " ",
};

// The code point of the UTF-8 sequence `glyph` (one character of at most three bytes).
constexpr char16_t DecodeGlyph(std::string_view glyph) {
    const auto byte = [&](std::size_t i) { return static_cast<char16_t>(static_cast<unsigned char>(glyph[i])); };
    if (glyph.size() == 2) return static_cast<char16_t>((byte(0) & 0x1F) << 6 | (byte(1) & 0x3F));
    return static_cast<char16_t>((byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F));
}

constexpr std::array<char16_t, 256> MakeOemUtf16() {
    std::array<char16_t, 256> table{};
    for (std::size_t c = 0; c < 0x80; ++c) table[c] = static_cast<char16_t>(c);
    for (std::size_t c = 0x80; c < 0xFF; ++c) table[c] = DecodeGlyph(OemGlyphs[c]);
    table[0xFF] = u'\u00A0';  // a no-break space, which a terminal shows as the blank of OemGlyphs
    return table;
}

constexpr std::array<char16_t, 256> OemUtf16 = MakeOemUtf16();
static_assert(OemUtf16[0x80] == u'А' && OemUtf16[0xEF] == u'я' && OemUtf16[0xC9] == u'╔' && OemUtf16[0xDB] == u'█');

}  // namespace

std::uint8_t AnsiToOemByte(std::uint8_t c) { return c < 0x80 ? c : AnsiHighToOem[c - 0x80]; }

std::string_view OemGlyph(std::uint8_t c) { return OemGlyphs[c]; }

std::string OemToUtf8(std::string_view oem) {
    std::string utf8;
    utf8.reserve(oem.size() * 2);
    for (char c : oem) utf8 += OemGlyph(static_cast<std::uint8_t>(c));
    return utf8;
}

char16_t OemToUtf16(std::uint8_t c) { return OemUtf16[c]; }

}  // namespace plat::screen
