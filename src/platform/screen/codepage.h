// Fixed code-page tables for the backends that have no system conversion: Windows-1251 to the
// Russian OEM code page 866 (as CharToOemA converts on a Russian system), and code page 866 to
// UTF-8 for a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::screen {

std::uint8_t AnsiToOemByte(std::uint8_t c);
// The glyph a console shows for an OEM byte, as UTF-8. Byte 0 shows as a blank.
std::string_view OemGlyph(std::uint8_t c);
std::string OemToUtf8(std::string_view oem);

}  // namespace plat::screen
