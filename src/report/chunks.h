// Text handed on to a report file in pieces of about 64 KiB, for the parts of a report that grow
// with the findings.
// Thread: main.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/files.h"

namespace report {

struct TChunks {
    const TEmit& Emit;
    std::string Buffer;

    void Text(std::string_view text) {
        Buffer += text;
        if (Buffer.size() >= 65536) Flush();
    }
    void Number(std::uint64_t n, int base = 10) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n, base).ptr;
        Text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    void Flush() {
        if (!Buffer.empty()) Emit(Buffer);
        Buffer.clear();
    }
};

}  // namespace report
