// The scenario file read into simulated drives (scenario.h).
// Thread: main.
#include "platform/sim/scenario.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <span>
#include <sstream>

#include "platform/sim/image.h"

namespace sim {
namespace {

constexpr std::int64_t MaxSectors = (std::int64_t{1} << 48) - 1;
constexpr std::size_t MaxAttributes = 30;
constexpr std::uint32_t MaxFileMiB = 16;
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
// Keys that add an entry each time they are given; every other key is given once per section.
const std::set<std::string, std::less<>> ListKeys = {"slow", "unreadable", "partial", "attribute", "attribute_change"};

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

// A number in the closed range [low, high]; nothing for anything else.
std::optional<std::int64_t> Number(std::string_view text, std::int64_t low, std::int64_t high) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return std::nullopt;
    return v;
}

bool Printable(char c) { return c >= 0x20 && c <= 0x7E; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Text of the file as a message shows it: bytes outside printable ASCII as \xHH, so that a
// message cannot move the cursor or retitle the terminal it is printed on.
std::string Shown(std::string_view s) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string shown;
    for (const char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (Printable(c))
            shown += c;
        else
            shown += {'\\', 'x', Digits[byte >> 4], Digits[byte & 15]};
    }
    return shown;
}

struct TPendingRange {
    TRange Range;
    int Line;
};

// One [drive N] section while it is read; ranges and the image are checked against the size at
// its end.
// A field of the NVMe health log: where it stands, how many bytes, and its largest value (0: any
// that fits).
struct TNvmeField {
    std::string_view Key;
    std::size_t Offset;
    std::size_t Bytes;
    std::uint64_t Largest;
};

constexpr TNvmeField NvmeFields[] = {
    {"critical_warning", 0, 1, 255},    {"composite_temperature_k", 1, 2, 65535},
    {"available_spare", 3, 1, 255},     {"available_spare_threshold", 4, 1, 255},
    {"percentage_used", 5, 1, 255},     {"data_units_read", 32, 16, 0},
    {"data_units_written", 48, 16, 0},  {"host_read_commands", 64, 16, 0},
    {"host_write_commands", 80, 16, 0}, {"controller_busy_time", 96, 16, 0},
    {"power_cycles", 112, 16, 0},       {"power_on_hours", 128, 16, 0},
    {"unsafe_shutdowns", 144, 16, 0},   {"media_and_data_integrity_errors", 160, 16, 0},
    {"error_log_entries", 176, 16, 0},
};

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

struct TSection {
    TDriveSpec Drive;
    int Line = 0;
    std::map<std::string, int, std::less<>> KeyLines;  // the line of each key given once
    std::vector<TPendingRange> Ranges;
    std::uint64_t ImageBytes = 0;
    std::uint32_t ImageSectorSize = 0;  // a block device's own; 0 for a file
};

class TParser {
public:
    explicit TParser(std::string_view fileName) : file_(fileName) {}

    TScenarioResult Run(std::string_view text) {
        if (text.starts_with(ByteOrderMark)) text.remove_prefix(ByteOrderMark.size());
        std::istringstream in{std::string(text)};
        std::string raw;
        while (std::getline(in, raw)) {
            ++line_;
            std::string_view s = raw;
            if (const std::size_t hash = s.find('#'); hash != std::string_view::npos) s = s.substr(0, hash);
            s = Trim(s);
            if (s.empty()) continue;
            if (s.front() == '[' ? !Section(s) : !KeyValue(s)) return error_;
        }
        if (!Finish()) return error_;
        if (scenario_.Drives.empty()) return Fail(line_, "no [drive N] section");
        return scenario_;
    }

private:
    TScenarioError Fail(int line, std::string message) {
        error_ = TScenarioError{std::string(file_), line, Shown(message)};
        return error_;
    }

    bool Section(std::string_view s) {
        if (!Finish()) return false;
        const auto words = Words(s.substr(1, s.size() >= 2 && s.back() == ']' ? s.size() - 2 : 0));
        if (s.back() != ']' || words.size() != 2 || words[0] != "drive") {
            Fail(line_, "unknown section " + std::string(s) + " (expected [drive N])");
            return false;
        }
        const auto number = Number(words[1], 0, 15);
        if (!number) {
            Fail(line_, "drive number must be 0..15");
            return false;
        }
        if (!numbers_.insert(static_cast<int>(*number)).second) {
            Fail(line_, "drive " + std::to_string(*number) + " is described twice");
            return false;
        }
        section_ = TSection{};
        section_->Drive.Number = static_cast<int>(*number);
        section_->Drive.Serial = "SIM" + std::to_string(*number);
        section_->Line = line_;
        return true;
    }

    // A drive text: printable ASCII, where \xHH stands for any byte and \\ for a backslash; the
    // limit counts the bytes they stand for.
    bool Text(std::string_view value, std::size_t limit, std::string& into, const char* what) {
        std::string text;
        bool printable = true;
        for (std::size_t i = 0; i < value.size(); ++i) {
            printable = printable && Printable(value[i]);
            if (value[i] != '\\') {
                text += value[i];
                continue;
            }
            const std::string_view escape = value.substr(i, value.substr(i + 1, 1) == "x" ? 4 : 2);
            if (escape == "\\\\") {
                text += '\\';
            } else if (escape.size() == 4 && HexDigit(escape[2]) >= 0 && HexDigit(escape[3]) >= 0) {
                text += static_cast<char>(HexDigit(escape[2]) * 16 + HexDigit(escape[3]));
            } else {
                Fail(line_, "bad escape " + std::string(escape) + " in " + what + " (expected \\xHH or \\\\)");
                return false;
            }
            i += escape.size() - 1;
        }
        if (text.size() > limit || !printable) {
            Fail(line_,
                 std::string(what) + " must be printable ASCII of at most " + std::to_string(limit) + " characters");
            return false;
        }
        into = std::move(text);
        return true;
    }

    bool Flag(std::string_view value, bool& into, const char* key) {
        if (value != "yes" && value != "no") {
            Fail(line_, std::string(key) + " must be yes or no");
            return false;
        }
        into = value == "yes";
        return true;
    }

    std::optional<TRange> Range(std::string_view text) {
        const std::size_t dash = text.find('-');
        const auto first = Number(text.substr(0, dash), 0, MaxSectors);
        const auto last = dash == std::string_view::npos ? first : Number(text.substr(dash + 1), 0, MaxSectors);
        if (!first || !last || *last < *first) {
            Fail(line_, "bad range " + std::string(text) + " (expected A-B or a sector number)");
            return std::nullopt;
        }
        section_->Ranges.push_back(TPendingRange{TRange{*first, *last}, line_});
        return TRange{*first, *last};
    }

    bool KeyValue(std::string_view s) {
        const std::size_t eq = s.find('=');
        if (eq == std::string_view::npos) {
            Fail(line_, "expected key = value");
            return false;
        }
        const std::string key(Trim(s.substr(0, eq)));
        const std::string_view value = Trim(s.substr(eq + 1));
        if (!section_) {
            Fail(line_, "key " + key + " outside a [drive N] section");
            return false;
        }
        if (!ListKeys.contains(key))
            if (const auto [first, fresh] = section_->KeyLines.emplace(key, line_); !fresh) {
                Fail(line_, "key " + key + " given twice (first on line " + std::to_string(first->second) + ")");
                return false;
            }
        TDriveSpec& d = section_->Drive;
        const auto words = Words(value);
        const auto bad = [&](const std::string& what) {
            Fail(line_, "bad " + key + " value '" + std::string(value) + "': " + what);
            return false;
        };
        if (key == "kind") {
            if (value != "ata" && value != "nvme") return bad("expected ata or nvme");
            d.Nvme = value == "nvme";
            return true;
        }
        for (const TNvmeField& field : NvmeFields) {
            if (key != field.Key) continue;
            const std::span<std::uint8_t> bytes = std::span(d.NvmeLog).subspan(field.Offset, field.Bytes);
            const auto small =
                field.Largest ? Number(value, 0, static_cast<std::int64_t>(field.Largest)) : std::nullopt;
            if (field.Largest && !small) return bad("expected 0.." + std::to_string(field.Largest));
            if (small)
                for (std::size_t i = 0; i < field.Bytes; ++i) bytes[i] = static_cast<std::uint8_t>(*small >> (8 * i));
            else if (!PutDecimal(value, bytes))
                return bad("expected 0 .. 2^128-1");
            return true;
        }
        if (key == "model") return Text(value, 40, d.Model, "model");
        if (key == "serial") return Text(value, 20, d.Serial, "serial");
        if (key == "firmware") return Text(value, 8, d.Firmware, "firmware");
        if (key == "answers") return Flag(value, d.Answers, "answers");
        if (key == "identify") return Flag(value, d.Identifies, "identify");
        if (key == "smart") return Flag(value, d.Smart, "smart");
        if (key == "sectors") {
            const auto n = Number(value, 1, MaxSectors);
            if (!n) return bad("expected 1 .. 2^48-1");
            d.Sectors = *n;
            return true;
        }
        if (key == "sector_size") {
            if (value != "512" && value != "4096") return bad("expected 512 or 4096");
            d.SectorSize = value == "512" ? 512 : 4096;
            return true;
        }
        if (key == "unplugged") {
            const auto n = Number(value, 0, MaxSectors);
            if (!n) return bad("expected a sector 0 .. 2^48-1");
            d.UnpluggedAt = *n;
            return true;
        }
        if (key == "cache_kb") {
            const auto n = Number(value, 0, 32767);
            if (!n) return bad("expected 0..32767");
            d.CacheKb = static_cast<std::uint32_t>(*n);
            return true;
        }
        if (key == "latency") {
            const auto n = Number(value, 0, 600000);
            if (!n) return bad("expected milliseconds 0..600000");
            d.LatencyMs = static_cast<std::uint32_t>(*n);
            return true;
        }
        if (key == "slow") {
            if (words.size() != 2 && words.size() != 3) return bad("expected RANGE MS [LATER_MS]");
            const auto range = Range(words[0]);
            if (!range) return false;
            const auto first = Number(words[1], 0, 600000);
            const auto later = words.size() == 3 ? Number(words[2], 0, 600000) : std::optional<std::int64_t>(0);
            if (!first || !later) return bad("latencies are milliseconds 0..600000");
            TSlowZone zone{*range, static_cast<std::uint32_t>(*first), std::nullopt};
            if (words.size() == 3) zone.LaterMs = static_cast<std::uint32_t>(*later);
            d.Slow.push_back(zone);
            return true;
        }
        if (key == "unreadable" || key == "partial") {
            if (words.size() != 1 && (words.size() != 3 || words[1] != "every"))
                return bad("expected a range, or a range, every and a step in sectors");
            auto range = Range(words[0]);
            if (!range) return false;
            if (words.size() == 3) {
                const auto every = Number(words[2], range->Last - range->First + 2, MaxSectors);
                if (!every) return bad("the step must be longer than the range and at most 2^48-1");
                range->Every = *every;
            }
            (key == "unreadable" ? d.Unreadable : d.Partial).push_back(*range);
            return true;
        }
        if (key == "attribute") {
            if (d.Attributes.size() == MaxAttributes) {
                Fail(line_, "more than 30 attributes");
                return false;
            }
            if (words.size() != 5) return bad("expected id current worst raw threshold");
            const auto id = Number(words[0], 0, 255), current = Number(words[1], 0, 255);
            const auto worst = Number(words[2], 0, 255), raw = Number(words[3], 0, MaxSectors);
            const auto threshold = Number(words[4], 0, 255);
            if (!id || !current || !worst || !raw || !threshold)
                return bad("id, current, worst and threshold are 0..255, raw is 0 .. 2^48-1");
            d.Attributes.push_back(TAttribute{static_cast<std::uint8_t>(*id), static_cast<std::uint8_t>(*current),
                                              static_cast<std::uint8_t>(*worst), static_cast<std::uint64_t>(*raw),
                                              static_cast<std::uint8_t>(*threshold)});
            return true;
        }
        if (key == "attribute_change") {
            if (words.size() != 3) return bad("expected id sector raw");
            const auto id = Number(words[0], 0, 255), raw = Number(words[2], 0, MaxSectors);
            if (!id || !raw) return bad("id is 0..255, raw is 0 .. 2^48-1");
            const auto range = Range(words[1]);
            if (!range || range->First != range->Last) return range ? bad("expected one sector") : false;
            d.AttributeChanges.push_back(
                TAttributeChange{static_cast<std::uint8_t>(*id), range->First, static_cast<std::uint64_t>(*raw)});
            return true;
        }
        if (key == "image") {
            std::string error;
            auto image = OpenImage(std::string(value), error);
            if (!image) {
                Fail(line_, error);
                return false;
            }
            section_->ImageBytes = image->Size;
            section_->ImageSectorSize = image->SectorSize;
            CloseImage(*image);
            d.Image = value;
            const std::uint32_t own = section_->ImageSectorSize;
            if (own != 0 && own != 512 && own != 4096) {
                Fail(line_,
                     "image " + d.Image + " has " + std::to_string(own) + "-byte sectors (expected 512 or 4096)");
                return false;
            }
            return true;
        }
        Fail(line_, "unknown key " + key);
        return false;
    }

    // Completes the open section: its size, and its ranges inside the drive.
    bool Finish() {
        if (!section_) return true;
        TDriveSpec& d = section_->Drive;
        const auto& lines = section_->KeyLines;
        // A block device's sectors are the drive's, so that its reads stay whole sectors, direct.
        if (const std::uint32_t own = section_->ImageSectorSize) {
            if (lines.contains("sector_size") && d.SectorSize != own) {
                Fail(lines.find("sector_size")->second, "sector_size " + std::to_string(d.SectorSize) +
                                                            " contradicts image " + d.Image + ", whose sectors are " +
                                                            std::to_string(own) + " bytes");
                return false;
            }
            d.SectorSize = own;
        }
        const std::uint64_t imageSectors = section_->ImageBytes / d.SectorSize;
        if (!lines.contains("sectors")) {
            if (d.Image.empty()) {
                Fail(section_->Line, "drive " + std::to_string(d.Number) + " needs sectors or image");
                return false;
            }
            if (imageSectors < 1 || imageSectors > static_cast<std::uint64_t>(MaxSectors)) {
                Fail(section_->Line, "image " + d.Image + " holds no whole sector");
                return false;
            }
            d.Sectors = static_cast<std::int64_t>(imageSectors);
        } else if (!d.Image.empty() && imageSectors < static_cast<std::uint64_t>(d.Sectors)) {
            Fail(lines.find("image")->second, "image " + d.Image + " is " + std::to_string(section_->ImageBytes) +
                                                  " bytes, shorter than " + std::to_string(d.Sectors) + " sectors of " +
                                                  std::to_string(d.SectorSize) + " bytes");
            return false;
        }
        for (const TNvmeField& field : NvmeFields)
            if (const auto given = lines.find(field.Key); given != lines.end() && !d.Nvme) {
                Fail(given->second, std::string(field.Key) + " is a field of an NVMe drive's health log (kind = nvme)");
                return false;
            }
        // A healthy drive's temperature and spare where the section does not say.
        const auto fallback = [&](std::string_view key, std::size_t offset, std::uint16_t value) {
            if (lines.contains(key)) return;
            d.NvmeLog[offset] = static_cast<std::uint8_t>(value);
            if (key == "composite_temperature_k") d.NvmeLog[offset + 1] = static_cast<std::uint8_t>(value >> 8);
        };
        if (d.Nvme) {
            fallback("composite_temperature_k", 1, 310);
            fallback("available_spare", 3, 100);
            fallback("available_spare_threshold", 4, 10);
        }
        for (const TAttributeChange& change : d.AttributeChanges)
            if (std::none_of(d.Attributes.begin(), d.Attributes.end(),
                             [&](const TAttribute& a) { return a.Id == change.Id; })) {
                Fail(section_->Line, "attribute_change names attribute " + std::to_string(change.Id) +
                                         ", which no attribute line of drive " + std::to_string(d.Number) + " gives");
                return false;
            }
        for (const TPendingRange& r : section_->Ranges)
            if (r.Range.Last >= d.Sectors) {
                Fail(r.Line, "range " + std::to_string(r.Range.First) + "-" + std::to_string(r.Range.Last) +
                                 " lies outside the drive's " + std::to_string(d.Sectors) + " sectors");
                return false;
            }
        scenario_.Drives.push_back(std::move(d));
        section_.reset();
        return true;
    }

    std::string_view file_;
    int line_ = 0;
    TScenario scenario_;
    std::optional<TSection> section_;
    std::set<int> numbers_;
    TScenarioError error_;
};

}  // namespace

TScenarioResult ParseScenario(std::string_view text, std::string_view fileName) { return TParser(fileName).Run(text); }

TScenarioResult LoadScenarioFile(const std::string& path) {
    std::string error;
    const std::optional<std::string> text = ReadSmallFile(path, MaxFileMiB, error);
    if (!text)
        return TScenarioError{
            path, 0,
            "cannot read the scenario file: " + error + " (name a scenario file, or none for the built-in scenario)"};
    return ParseScenario(*text, path);
}

}  // namespace sim
