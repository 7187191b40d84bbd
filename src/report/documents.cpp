#include "report/documents.h"

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/state.h"
#include "report/picture.h"

namespace report {
namespace {

using TJson = nlohmann::ordered_json;

constexpr std::string_view ClassMembers[] = {"lt5ms",   "lt30ms",  "lt50ms", "lt150ms",
                                             "lt300ms", "gt300ms", "punrb",  "unrb"};

TJson DriveJson(const TDriveFacts& drive) {
    return TJson{{"number", drive.Number},     {"model", drive.Model},     {"serial", drive.Serial},
                 {"firmware", drive.Firmware}, {"sectors", drive.Sectors}, {"sector_size", drive.SectorSize}};
}

TJson Header(const char* timeMember, const plat::DateTime& time) {
    return TJson{{"program", ProgramName}, {"version", ProgramVersion()}, {timeMember, IsoTime(time)}};
}

// Drive texts are bytes as the drive sent them: what is not UTF-8 becomes U+FFFD.
std::string Text(const TJson& document) {
    return document.dump(2, ' ', false, nlohmann::detail::error_handler_t::replace) + "\n";
}

std::uint64_t LittleEndian(const std::uint8_t* bytes, int count) {
    std::uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i) v = (v << 8) | bytes[i];
    return v;
}

constexpr std::size_t Slots = 30, SlotBytes = 12;

// Above 2^53 a JSON number loses digits in most readers: such values are written as strings.
constexpr std::uint64_t LargestExactNumber = std::uint64_t{1} << 53;

const std::uint8_t* Slot(const std::array<std::uint8_t, 512>& sector, std::size_t slot) {
    return sector.data() + 2 + slot * SlotBytes;
}

// The threshold the drive gives for attribute `id`, from the thresholds slot of the same id.
std::optional<std::uint8_t> ThresholdOf(const TSmartSectors& sectors, std::uint8_t id) {
    for (std::size_t s = 0; s < Slots; ++s)
        if (Slot(sectors.Thresholds, s)[0] == id) return Slot(sectors.Thresholds, s)[1];
    return std::nullopt;
}

// Text handed on in pieces of about 64 KiB, for the parts of a report that grow with the findings.
struct TChunks {
    const TEmit& Emit;
    std::string Buffer;

    void Text(std::string_view text) {
        Buffer += text;
        if (Buffer.size() >= 65536) Flush();
    }
    void Number(std::uint64_t n) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
        Text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    void Flush() {
        if (!Buffer.empty()) Emit(Buffer);
        Buffer.clear();
    }
};

// A JSON object written member by member, laid out as nlohmann's dump(2) lays out the whole
// document: the small members through nlohmann, the runs, which grow with the findings, by hand.
struct TObjectWriter {
    const TEmit& Emit;
    bool First = true;

    void Name(std::string_view name) {
        Emit(First ? "{\n  " : ",\n  ");
        First = false;
        Emit(TJson(name).dump());
        Emit(": ");
    }

    void Member(std::string_view name, const TJson& value) {
        Name(name);
        std::string text = value.dump(2, ' ', false, nlohmann::detail::error_handler_t::replace);
        for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3))
            text.insert(at + 1, "  ");
        Emit(text);
    }

    // The damaged runs or the slow ones, one object each; a run of more than one block adds
    // "blocks", and its "lba" and "sectors" cover the whole run.
    void Runs(std::string_view name, const TFindings& findings, bool damaged) {
        Name(name);
        TChunks out{Emit, {}};
        bool any = false;
        ForEachRun(findings, [&](const TRun& run) {
            if ((run.Class >= bcPUNRB) != damaged) return;
            out.Text(any ? ",\n    {\n      \"lba\": " : "[\n    {\n      \"lba\": ");
            any = true;
            out.Number(static_cast<std::uint64_t>(run.Lba));
            out.Text(",\n      \"sectors\": ");
            out.Number(run.Sectors);
            if (run.Blocks > 1) {
                out.Text(",\n      \"blocks\": ");
                out.Number(run.Blocks);
            }
            if (damaged) {
                out.Text(run.Class == bcUNRB ? ",\n      \"class\": \"UNRB\",\n      \"bytes\": "
                                             : ",\n      \"class\": \"PUNRB\",\n      \"bytes\": ");
                out.Number(run.Value);
            } else {
                out.Text(",\n      \"ms\": ");
                out.Number(run.Value);
                out.Text(",\n      \"class\": \"");
                out.Text(ClassMembers[run.Class]);
                out.Text("\"");
            }
            out.Text("\n    }");
        });
        out.Text(any ? "\n  ]" : "[]");
        out.Flush();
    }

    void End() { Emit(First ? "{}\n" : "\n}\n"); }
};

}  // namespace

std::string_view ProgramVersion() { return PH_VERSION; }

std::string IsoTime(const plat::DateTime& t) {
    const int offset = t.UtcOffsetMinutes < 0 ? -t.UtcOffsetMinutes : t.UtcOffsetMinutes;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second, t.UtcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string_view ClassMember(TBlockClass blockClass) { return ClassMembers[blockClass]; }

std::string_view VerdictName(TVerdict verdict) {
    switch (verdict) {
        case TVerdict::Damaged:
            return "damaged";
        case TVerdict::Slow:
            return "slow";
        default:
            return "healthy";
    }
}

std::string OutcomeText(const TScanRecord& record) {
    const std::array<std::uint64_t, 8>& c = record.Classes;
    if (!record.Stopped) return std::string(VerdictName(Verdict(c)));
    const std::uint64_t percent = record.RangeBlocks ? record.Blocks * 100 / record.RangeBlocks : 0;
    const std::uint64_t damaged = c[bcPUNRB] + c[bcUNRB];
    const std::uint64_t slow = c[bcUnder150ms] + c[bcUnder300ms] + c[bcOver300ms];
    const auto blocks = [](std::uint64_t n, const char* what) {
        return std::to_string(n) + (n == 1 ? " block " : " blocks ") + what;
    };
    std::string found;
    if (damaged > 0)
        found = blocks(damaged, "damaged");
    else if (slow > 0)
        found = "nothing damaged, " + blocks(slow, "slow");
    else
        found = "nothing damaged";
    return "stopped after " + std::to_string(percent) + " % - " + found + " so far";
}

void WriteScanJson(const TScanRecord& record, const TEmit& emit) {
    TJson classes = TJson::object();
    for (std::size_t c = 0; c < record.Classes.size(); ++c) classes[std::string(ClassMembers[c])] = record.Classes[c];
    const TPictureLayout layout = PictureLayout(record.Cells.size());
    TObjectWriter document{emit};
    document.Member("program", ProgramName);
    document.Member("version", ProgramVersion());
    document.Member("started", IsoTime(record.Started));
    document.Member("finished", IsoTime(record.Finished));
    document.Member("drive", DriveJson(record.Drive));
    document.Member("range", TJson{{"first_lba", record.FirstLba}, {"last_lba", record.LastLba}});
    document.Member("recheck", record.Recheck);
    document.Member("outcome", record.Stopped ? "stopped" : "completed");
    document.Member("blocks", record.Blocks);
    document.Member("block_sectors", MaxBlockSectors);
    document.Member("classes", classes);
    document.Member("verdict", VerdictName(Verdict(record.Classes)));
    document.Runs("damaged", record.Findings, true);
    document.Runs("slow", record.Findings, false);
    document.Member("picture", TJson{{"cells", record.Cells.size()},
                                     {"blocks_per_cell", record.BlocksPerCell},
                                     {"width", layout.Width},
                                     {"height", layout.Height}});
    document.End();
}

void WriteDamagedList(const TScanRecord& record, const TEmit& emit) {
    TChunks out{emit, {}};
    ForEachRun(record.Findings, [&](const TRun& run) {
        if (run.Class < bcPUNRB) return;
        for (std::uint64_t k = 0; k < run.Blocks; ++k) {
            out.Number(static_cast<std::uint64_t>(run.Lba) + k * record.Findings.BlockSectors);
            out.Text("\n");
        }
    });
    out.Flush();
}

bool HasDamage(const TScanRecord& record) { return record.Classes[bcPUNRB] + record.Classes[bcUNRB] > 0; }

void WriteSmartJson(const TDriveFacts& drive, const plat::DateTime& time, const TSmartReading& reading,
                    const TEmit& emit) {
    emit(SmartJson(drive, time, reading));
}

std::string SmartJson(const TDriveFacts& drive, const plat::DateTime& time, const TSmartReading& reading) {
    const TSmartOutcome outcome = reading.Outcome;
    const TSmartSectors& sectors = reading.Ata;
    TJson document = Header("time", time);
    document["drive"] = DriveJson(drive);
    document["ok"] = outcome == TSmartOutcome::Read || outcome == TSmartOutcome::Nvme;
    if (outcome == TSmartOutcome::CannotOpen) document["error"] = "the drive could not be opened";
    if (outcome == TSmartOutcome::Refused) document["error"] = "the drive refused a SMART request";
    if (outcome == TSmartOutcome::Nvme) {
        TJson health = TJson::object();
        for (const TNvmeHealthRow& row : NvmeHealthRowsOf(reading.Nvme)) {
            TJson& member = health[std::string(row.Member)];
            if (row.IsSigned)
                member = row.Signed;
            else if (row.Value.High == 0 && row.Value.Low <= LargestExactNumber)
                member = row.Value.Low;
            else
                member = DecimalText(row.Value);
        }
        document["nvme"] = health;
    }
    TJson attributes = TJson::array();
    if (outcome == TSmartOutcome::Read)
        for (std::size_t s = 0; s < Slots; ++s) {
            const std::uint8_t* entry = Slot(sectors.Values, s);
            if (entry[0] == 0) continue;
            const std::string_view name = SmartAttributeLabel(entry[0]);
            const std::optional<std::uint8_t> threshold = ThresholdOf(sectors, entry[0]);
            attributes.push_back(TJson{{"id", entry[0]},
                                       {"name", name.empty() ? TJson(nullptr) : TJson(name)},
                                       {"value", entry[3]},
                                       {"worst", entry[4]},
                                       {"threshold", threshold ? TJson(*threshold) : TJson(nullptr)},
                                       {"raw", LittleEndian(entry + 5, 6)},
                                       {"flags", LittleEndian(entry + 1, 2)}});
        }
    document["attributes"] = attributes;
    return Text(document);
}

}  // namespace report
