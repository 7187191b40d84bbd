// Scenario files: their lines read into [drive N] sections, each key's value handed to its parser
// in the table of scenario_keys.cpp, and each section checked whole at its end.
// Thread: main.
#include "platform/sim/scenario.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "platform/sim/image.h"
#include "platform/sim/scenario_keys.h"

namespace sim {
namespace {

constexpr std::uint32_t MaxFileMiB = 16;
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

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

    bool KeyValue(std::string_view s) {
        const std::size_t eq = s.find('=');
        if (eq == std::string_view::npos) {
            Fail(line_, "expected key = value");
            return false;
        }
        const std::string key(Trim(s.substr(0, eq)));
        if (!section_) {
            Fail(line_, "key " + key + " outside a [drive N] section");
            return false;
        }
        const TKey* known = FindKey(key);
        if (!known) {
            Fail(line_, "unknown key " + key);
            return false;
        }
        if (!known->Repeats)
            if (const auto [first, fresh] = section_->KeyLines.emplace(key, line_); !fresh) {
                Fail(line_, "key " + key + " given twice (first on line " + std::to_string(first->second) + ")");
                return false;
            }
        TLine line{*known, Trim(s.substr(eq + 1)), line_, *section_, {}};
        if (known->Parse(line)) return true;
        Fail(line_, line.Error);
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
        // The fields of the health log: of an NVMe drive alone, a healthy drive's where not given.
        for (const TKey& key : SectionKeys()) {
            if (key.Log.Bytes == 0) continue;
            const auto given = lines.find(key.Name);
            if (given != lines.end() && !d.Nvme) {
                Fail(given->second, std::string(key.Name) + " is a field of an NVMe drive's health log (kind = nvme)");
                return false;
            }
            if (given == lines.end() && d.Nvme)
                PutLittleEndian(key.Log.Default, std::span(d.NvmeLog).subspan(key.Log.Offset, key.Log.Bytes));
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
