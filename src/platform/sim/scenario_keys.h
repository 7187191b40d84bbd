// The keys of a scenario file's [drive N] sections: their one table (each key, whether it may
// repeat, its parser and its range) and the pieces of a line that the file's reader shares with
// the parsers. platenhawk-demo(1) documents the keys for the user.
// Thread: main.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/scenario.h"

namespace sim {

constexpr std::int64_t MaxSectors = (std::int64_t{1} << 48) - 1;

struct TPendingRange {
    TRange Range;
    int Line;
};

// One [drive N] section while it is read; ranges and the image are checked against the size at
// its end.
struct TSection {
    TDriveSpec Drive;
    int Line = 0;
    std::map<std::string, int, std::less<>> KeyLines;  // the line of each key given once
    std::vector<TPendingRange> Ranges;
    std::uint64_t ImageBytes = 0;
    std::uint32_t ImageSectorSize = 0;  // a block device's own; 0 for a file
};

struct TKey;

// A key = value line of a section while its key's parser reads it.
struct TLine {
    const TKey& Key;
    std::string_view Value;
    int LineNumber;
    TSection& Section;
    std::string Error;  // why the parser refused the value

    TDriveSpec& Drive() { return Section.Drive; }
    bool Fail(std::string message);
    // "bad KEY value 'VALUE': what".
    bool Bad(std::string_view what);
};

// A field of the NVMe health log: where it stands, its bytes (0: the key is no such field), and
// its value where the section of an NVMe drive does not give it.
struct TLogField {
    std::size_t Offset = 0;
    std::size_t Bytes = 0;
    std::uint16_t Default = 0;
};

struct TKey {
    std::string_view Name;
    bool Repeats;                // each line adds an entry; other keys come at most once a section
    bool (*Parse)(TLine& line);  // reads the value into the section; false with line.Error set
    std::int64_t Low = 0;        // the range of its number (of a text: its length in bytes)
    std::int64_t High = 0;
    std::string_view Expected = {};  // what a bad value of a single number or word is told
    TLogField Log = {};
};

// Every key, in the order of platenhawk-demo(1).
std::span<const TKey> SectionKeys();
const TKey* FindKey(std::string_view name);

// Writes `value` into `bytes`, least significant byte first.
void PutLittleEndian(std::uint64_t value, std::span<std::uint8_t> bytes);

std::string_view Trim(std::string_view s);
std::vector<std::string_view> Words(std::string_view s);
// A number in the closed range [low, high]; nothing for anything else.
std::optional<std::int64_t> Number(std::string_view text, std::int64_t low, std::int64_t high);
inline bool Printable(char c) { return c >= 0x20 && c <= 0x7E; }

}  // namespace sim
