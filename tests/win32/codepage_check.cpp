// platenhawk-codepage-check.exe: compares the fixed code-page tables the console backend writes
// with (platform/screen/codepage.h) with the system's own conversions, on a system whose ANSI and
// OEM code pages are 1251 and 866 (a Russian Windows; Wine in ru_RU.UTF-8): CharToOemA of every
// Windows-1251 byte above 0x7F, and MultiByteToWideChar of every code page 866 byte. One line for
// each byte that differs; exit status 0 when none does, 1 when one does, 2 on another system.
// Thread: main.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/screen/codepage.h"

int main() {
    if (GetACP() != 1251 || GetOEMCP() != 866) {
        std::printf("code pages %u and %u, not 1251 and 866: nothing to compare\n", GetACP(), GetOEMCP());
        return 2;
    }
    int differ = 0;
    for (unsigned b = 0x80; b < 0x100; ++b) {
        const char ansi[2] = {static_cast<char>(b), '\0'};
        char oem[2] = {};
        CharToOemA(ansi, oem);
        const std::uint8_t table = plat::screen::AnsiToOemByte(static_cast<std::uint8_t>(b));
        if (static_cast<std::uint8_t>(oem[0]) != table) {
            std::printf("Windows-1251 %02X: the system gives 866 %02X, the table %02X\n", b,
                        static_cast<std::uint8_t>(oem[0]), table);
            ++differ;
        }
    }
    for (unsigned b = 0; b < 0x100; ++b) {
        const char oem = static_cast<char>(b);
        wchar_t wide = 0;
        MultiByteToWideChar(866, 0, &oem, 1, &wide, 1);
        const char16_t table = plat::screen::OemToUtf16(static_cast<std::uint8_t>(b));
        if (static_cast<char16_t>(wide) != table) {
            std::printf("866 %02X: the system gives U+%04X, the table U+%04X\n", b, static_cast<unsigned>(wide),
                        static_cast<unsigned>(table));
            ++differ;
        }
    }
    std::printf("%d of 384 conversions differ from the system's\n", differ);
    return differ == 0 ? 0 : 1;
}
