// Fixed code-page tables, the same whatever the system's code pages are: Windows-1251 to the
// Russian OEM code page 866 (as CharToOemA converts on a Russian system), code page 866 to UTF-8
// for a terminal and to UTF-16 for the Windows console's wide-character calls. Pure functions.
// Threads: main, clock, ticker, presenter, test.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::screen {

std::uint8_t AnsiToOemByte(std::uint8_t c);
// The glyph a console shows for an OEM byte, as UTF-8. Byte 0 shows as a blank.
std::string_view OemGlyph(std::uint8_t c);
std::string OemToUtf8(std::string_view oem);
// The UTF-16 character code page 866 gives an OEM byte, as the Windows console converts it:
// ASCII and the control codes stay what they are.
char16_t OemToUtf16(std::uint8_t c);

}  // namespace plat::screen
