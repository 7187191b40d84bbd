// The keys of a scenario file's [drive N] sections: the table of them and the parsers of their
// values, which put what a line says into the drive of its section.
// Thread: main.
#include "platform/sim/scenario_keys.h"

#include <algorithm>
#include <charconv>
#include <type_traits>

#include "platform/sim/image.h"

namespace sim {
namespace {

constexpr std::size_t MaxAttributes = 30;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A drive text: printable ASCII, where \xHH stands for any byte and \\ for a backslash; the
// limit (the key's High) counts the bytes they stand for.
bool DriveText(TLine& l, std::string& into) {
    const std::string_view value = l.Value;
    const std::string what(l.Key.Name);
    std::string text;
    bool printable = true;
    for (std::size_t i = 0; i < value.size(); ++i) {
        printable = printable && Printable(value[i]);
        if (value[i] != '\\') {
            text += value[i];
            continue;
        }
        const std::string_view escape = value.substr(i, value.substr(i + 1, 1) == "x" ? 4 : 2);
        if (escape == "\\\\")
            text += '\\';
        else if (escape.size() == 4 && HexDigit(escape[2]) >= 0 && HexDigit(escape[3]) >= 0)
            text += static_cast<char>(HexDigit(escape[2]) * 16 + HexDigit(escape[3]));
        else
            return l.Fail("bad escape " + std::string(escape) + " in " + what + " (expected \\xHH or \\\\)");
        i += escape.size() - 1;
    }
    if (text.size() > static_cast<std::size_t>(l.Key.High) || !printable)
        return l.Fail(what + " must be printable ASCII of at most " + std::to_string(l.Key.High) + " characters");
    into = std::move(text);
    return true;
}

template <std::string TDriveSpec::*Field>
bool Text(TLine& l) {
    return DriveText(l, l.Drive().*Field);
}

template <bool TDriveSpec::*Field>
bool Flag(TLine& l) {
    if (l.Value != "yes" && l.Value != "no") return l.Fail(std::string(l.Key.Name) + " must be yes or no");
    l.Drive().*Field = l.Value == "yes";
    return true;
}

// One number in the key's range.
template <auto Field>
bool Whole(TLine& l) {
    const auto n = Number(l.Value, l.Key.Low, l.Key.High);
    if (!n) return l.Bad(l.Key.Expected);
    l.Drive().*Field = static_cast<std::remove_cvref_t<decltype(l.Drive().*Field)>>(*n);
    return true;
}

bool SectorSize(TLine& l) {
    if (l.Value != "512" && l.Value != "4096") return l.Bad(l.Key.Expected);
    l.Drive().SectorSize = l.Value == "512" ? 512 : 4096;
    return true;
}

bool Kind(TLine& l) {
    if (l.Value != "ata" && l.Value != "nvme") return l.Bad(l.Key.Expected);
    l.Drive().Nvme = l.Value == "nvme";
    return true;
}

// A range of sectors, A-B or one sector, checked against the drive's size at the section's end.
std::optional<TRange> SectorRange(TLine& l, std::string_view text) {
    const std::size_t dash = text.find('-');
    const auto first = Number(text.substr(0, dash), 0, MaxSectors);
    const auto last = dash == std::string_view::npos ? first : Number(text.substr(dash + 1), 0, MaxSectors);
    if (!first || !last || *last < *first) {
        l.Fail("bad range " + std::string(text) + " (expected A-B or a sector number)");
        return std::nullopt;
    }
    l.Section.Ranges.push_back(TPendingRange{TRange{*first, *last}, l.LineNumber});
    return TRange{*first, *last};
}

// RANGE MS [LATER_MS], the latencies in the key's range.
bool Slow(TLine& l) {
    const auto words = Words(l.Value);
    if (words.size() != 2 && words.size() != 3) return l.Bad("expected RANGE MS [LATER_MS]");
    const auto range = SectorRange(l, words[0]);
    if (!range) return false;
    const auto first = Number(words[1], l.Key.Low, l.Key.High);
    const auto later = words.size() == 3 ? Number(words[2], l.Key.Low, l.Key.High) : std::optional<std::int64_t>(0);
    if (!first || !later) return l.Bad("latencies are milliseconds 0..600000");
    TSlowZone zone{*range, static_cast<std::uint32_t>(*first), std::nullopt};
    if (words.size() == 3) zone.LaterMs = static_cast<std::uint32_t>(*later);
    l.Drive().Slow.push_back(zone);
    return true;
}

// RANGE [every STEP]: a range, and its copies every STEP sectors to the drive's end.
template <std::vector<TRange> TDriveSpec::*Field>
bool Faulty(TLine& l) {
    const auto words = Words(l.Value);
    if (words.size() != 1 && (words.size() != 3 || words[1] != "every"))
        return l.Bad("expected a range, or a range, every and a step in sectors");
    auto range = SectorRange(l, words[0]);
    if (!range) return false;
    if (words.size() == 3) {
        const auto every = Number(words[2], range->Last - range->First + 2, MaxSectors);
        if (!every) return l.Bad("the step must be longer than the range and at most 2^48-1");
        range->Every = *every;
    }
    (l.Drive().*Field).push_back(*range);
    return true;
}

bool Attribute(TLine& l) {
    std::vector<TAttribute>& attributes = l.Drive().Attributes;
    if (attributes.size() == MaxAttributes) return l.Fail("more than 30 attributes");
    const auto words = Words(l.Value);
    if (words.size() != 5) return l.Bad("expected id current worst raw threshold");
    const auto id = Number(words[0], 0, 255), current = Number(words[1], 0, 255);
    const auto worst = Number(words[2], 0, 255), raw = Number(words[3], 0, MaxSectors);
    const auto threshold = Number(words[4], 0, 255);
    if (!id || !current || !worst || !raw || !threshold)
        return l.Bad("id, current, worst and threshold are 0..255, raw is 0 .. 2^48-1");
    attributes.push_back(TAttribute{static_cast<std::uint8_t>(*id), static_cast<std::uint8_t>(*current),
                                    static_cast<std::uint8_t>(*worst), static_cast<std::uint64_t>(*raw),
                                    static_cast<std::uint8_t>(*threshold)});
    return true;
}

bool AttributeChange(TLine& l) {
    const auto words = Words(l.Value);
    if (words.size() != 3) return l.Bad("expected id sector raw");
    const auto id = Number(words[0], 0, 255), raw = Number(words[2], 0, MaxSectors);
    if (!id || !raw) return l.Bad("id is 0..255, raw is 0 .. 2^48-1");
    const auto range = SectorRange(l, words[1]);
    if (!range || range->First != range->Last) return range ? l.Bad("expected one sector") : false;
    l.Drive().AttributeChanges.push_back(
        TAttributeChange{static_cast<std::uint8_t>(*id), range->First, static_cast<std::uint64_t>(*raw)});
    return true;
}

// A file or block device to read from; its size and a device's sector size are kept for the
// section's end.
bool Image(TLine& l) {
    std::string error;
    auto image = OpenImage(std::string(l.Value), error);
    if (!image) return l.Fail(error);
    l.Section.ImageBytes = image->Size;
    l.Section.ImageSectorSize = image->SectorSize;
    CloseImage(*image);
    l.Drive().Image = l.Value;
    const std::uint32_t own = l.Section.ImageSectorSize;
    if (own != 0 && own != 512 && own != 4096)
        return l.Fail("image " + l.Drive().Image + " has " + std::to_string(own) +
                      "-byte sectors (expected 512 or 4096)");
    return true;
}

std::span<std::uint8_t> LogBytes(TLine& l) {
    return std::span(l.Drive().NvmeLog).subspan(l.Key.Log.Offset, l.Key.Log.Bytes);
}

// A field of the health log of at most 8 bytes: one number in the key's range.
bool LogNumber(TLine& l) {
    const auto n = Number(l.Value, l.Key.Low, l.Key.High);
    if (!n) return l.Bad(l.Key.Expected);
    PutLittleEndian(static_cast<std::uint64_t>(*n), LogBytes(l));
    return true;
}

// A decimal number into `bytes` little-endian bytes; false when it is no number or does not fit.
bool PutDecimal(std::string_view text, std::span<std::uint8_t> bytes) {
    if (text.empty()) return false;
    std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        unsigned carry = static_cast<unsigned>(c - '0');
        for (std::uint8_t& b : bytes) {
            const unsigned v = b * 10u + carry;
            b = static_cast<std::uint8_t>(v);
            carry = v >> 8;
        }
        if (carry) return false;
    }
    return true;
}

// A counter of the health log: any number its bytes hold.
bool Counter(TLine& l) { return PutDecimal(l.Value, LogBytes(l)) || l.Bad(l.Key.Expected); }

constexpr bool Once = false;
constexpr bool Repeated = true;
constexpr std::string_view AnyCounter = "expected 0 .. 2^128-1";

constexpr TKey Keys[] = {
    {"model", Once, Text<&TDriveSpec::Model>, 0, 40},
    {"serial", Once, Text<&TDriveSpec::Serial>, 0, 20},
    {"firmware", Once, Text<&TDriveSpec::Firmware>, 0, 8},
    {"sectors", Once, Whole<&TDriveSpec::Sectors>, 1, MaxSectors, "expected 1 .. 2^48-1"},
    {"sector_size", Once, SectorSize, 0, 0, "expected 512 or 4096"},
    {"cache_kb", Once, Whole<&TDriveSpec::CacheKb>, 0, 32767, "expected 0..32767"},
    {"answers", Once, Flag<&TDriveSpec::Answers>},
    {"identify", Once, Flag<&TDriveSpec::Identifies>},
    {"smart", Once, Flag<&TDriveSpec::Smart>},
    {"latency", Once, Whole<&TDriveSpec::LatencyMs>, 0, 600000, "expected milliseconds 0..600000"},
    {"slow", Repeated, Slow, 0, 600000},
    {"unreadable", Repeated, Faulty<&TDriveSpec::Unreadable>},
    {"partial", Repeated, Faulty<&TDriveSpec::Partial>},
    {"attribute", Repeated, Attribute},
    {"attribute_change", Repeated, AttributeChange},
    {"kind", Once, Kind, 0, 0, "expected ata or nvme"},
    {"critical_warning", Once, LogNumber, 0, 255, "expected 0..255", {0, 1}},
    {"composite_temperature_k", Once, LogNumber, 0, 65535, "expected 0..65535", {1, 2, 310}},
    {"available_spare", Once, LogNumber, 0, 255, "expected 0..255", {3, 1, 100}},
    {"available_spare_threshold", Once, LogNumber, 0, 255, "expected 0..255", {4, 1, 10}},
    {"percentage_used", Once, LogNumber, 0, 255, "expected 0..255", {5, 1}},
    // The counters take 0 .. 2^128-1, more than the range of a number here.
    {"data_units_read", Once, Counter, 0, 0, AnyCounter, {32, 16}},
    {"data_units_written", Once, Counter, 0, 0, AnyCounter, {48, 16}},
    {"host_read_commands", Once, Counter, 0, 0, AnyCounter, {64, 16}},
    {"host_write_commands", Once, Counter, 0, 0, AnyCounter, {80, 16}},
    {"controller_busy_time", Once, Counter, 0, 0, AnyCounter, {96, 16}},
    {"power_cycles", Once, Counter, 0, 0, AnyCounter, {112, 16}},
    {"power_on_hours", Once, Counter, 0, 0, AnyCounter, {128, 16}},
    {"unsafe_shutdowns", Once, Counter, 0, 0, AnyCounter, {144, 16}},
    {"media_and_data_integrity_errors", Once, Counter, 0, 0, AnyCounter, {160, 16}},
    {"error_log_entries", Once, Counter, 0, 0, AnyCounter, {176, 16}},
    {"unplugged", Once, Whole<&TDriveSpec::UnpluggedAt>, 0, MaxSectors, "expected a sector 0 .. 2^48-1"},
    {"image", Once, Image},
};

}  // namespace

bool TLine::Fail(std::string message) {
    Error = std::move(message);
    return false;
}

bool TLine::Bad(std::string_view what) {
    return Fail("bad " + std::string(Key.Name) + " value '" + std::string(Value) + "': " + std::string(what));
}

std::span<const TKey> SectionKeys() { return Keys; }

const TKey* FindKey(std::string_view name) {
    const auto key = std::find_if(std::begin(Keys), std::end(Keys), [&](const TKey& k) { return k.Name == name; });
    return key == std::end(Keys) ? nullptr : key;
}

void PutLittleEndian(std::uint64_t value, std::span<std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = i < 8 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    while (!(s = Trim(s)).empty()) {
        const std::size_t end = s.find_first_of(" \t");
        words.push_back(s.substr(0, end));
        s = end == std::string_view::npos ? std::string_view() : s.substr(end);
    }
    return words;
}

std::optional<std::int64_t> Number(std::string_view text, std::int64_t low, std::int64_t high) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return std::nullopt;
    return v;
}

}  // namespace sim
