// The report files' contents (report/documents.h): the JSON documents of a scan and of a SMART
// reading, and the damaged-block list.
// Thread: main.
#include "report/documents.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/state.h"
#include "report/chunks.h"
#include "report/picture.h"
#include "smart/health.h"

namespace report {
namespace {

using TJson = nlohmann::ordered_json;

constexpr std::string_view ClassMembers[] = {"lt5ms",   "lt30ms",  "lt50ms", "lt150ms",
                                             "lt300ms", "gt300ms", "punrb",  "unrb"};

TJson DriveJson(const TDriveFacts& drive) {
    TJson json{{"number", drive.Number},     {"model", drive.Model},     {"serial", drive.Serial},
               {"firmware", drive.Firmware}, {"sectors", drive.Sectors}, {"sector_size", drive.SectorSize}};
    if (!drive.Notes.empty()) json["notes"] = drive.Notes;
    return json;
}

// The reports' format, as docs/schemas states it: raised when a member changes its meaning.
constexpr int Format = 1;

TJson Header(const char* timeMember, const plat::DateTime& time) {
    return TJson{
        {"program", ProgramName}, {"version", ProgramVersion()}, {"format", Format}, {timeMember, IsoTime(time)}};
}

// Drive texts are bytes as the drive sent them: what is not UTF-8 becomes U+FFFD.
std::string Text(const TJson& document) {
    return document.dump(2, ' ', false, nlohmann::detail::error_handler_t::replace) + "\n";
}

// Above 2^53 a JSON number loses digits in most readers: such values are written as strings.
constexpr std::uint64_t LargestExactNumber = std::uint64_t{1} << 53;

TJson NvmeValue(const TNvmeHealthRow& row) {
    if (row.IsSigned) return row.Signed;
    if (row.Value.High == 0 && row.Value.Low <= LargestExactNumber) return row.Value.Low;
    return DecimalText(row.Value);
}

// Every occupied slot, with the threshold of its id and its status.
TJson AttributesJson(const TSmartSectors& sectors) {
    TJson attributes = TJson::array();
    for (const TAtaAttribute& a : AtaAttributes(sectors)) {
        const std::string_view name = SmartAttributeLabel(a.Id);
        attributes.push_back(TJson{{"id", a.Id},
                                   {"name", name.empty() ? TJson(nullptr) : TJson(name)},
                                   {"value", a.Value},
                                   {"worst", a.Worst},
                                   {"threshold", a.Threshold ? TJson(*a.Threshold) : TJson(nullptr)},
                                   {"raw", a.Raw},
                                   {"flags", a.Flags},
                                   {"status", HealthName(a.Health)}});
    }
    return attributes;
}

TJson NvmeJson(const TNvmeLog& log) {
    TJson health = TJson::object();
    for (const TNvmeHealthRow& row : NvmeHealthRowsOf(log)) health[std::string(row.Member)] = NvmeValue(row);
    return health;
}

TJson NvmeStatusJson(const TNvmeLog& log) {
    TJson statuses = TJson::object();
    const auto rows = NvmeHealthRowsOf(log);
    const auto health = NvmeHealth(log);
    for (std::size_t i = 0; i < rows.size(); ++i) statuses[std::string(rows[i].Member)] = HealthName(health[i]);
    return statuses;
}

// A reading as the SMART report holds it: its attributes, or its health log; null when it read
// neither.
TJson ReadingJson(const TSmartReading& reading) {
    if (reading.Outcome == TSmartOutcome::Read) return AttributesJson(reading.Ata);
    if (reading.Outcome == TSmartOutcome::Nvme) return NvmeJson(reading.Nvme);
    return nullptr;
}

// Every attribute (by slot, the same id in both) or health field whose value changed.
TJson ChangesJson(const TSmartBeforeAfter& smart) {
    TJson changes = TJson::array();
    if (smart.Before.Outcome != smart.After.Outcome) return changes;
    if (smart.Before.Outcome == TSmartOutcome::Nvme) {
        const auto before = NvmeHealthRowsOf(smart.Before.Nvme), after = NvmeHealthRowsOf(smart.After.Nvme);
        for (std::size_t i = 0; i < before.size(); ++i)
            if (NvmeValue(before[i]) != NvmeValue(after[i]))
                changes.push_back(TJson{{"field", before[i].Member},
                                        {"name", before[i].Name},
                                        {"before", NvmeValue(before[i])},
                                        {"after", NvmeValue(after[i])}});
    } else if (smart.Before.Outcome == TSmartOutcome::Read) {
        const std::vector<TAtaAttribute> after = AtaAttributes(smart.After.Ata);
        for (const TAtaAttribute& b : AtaAttributes(smart.Before.Ata)) {
            const auto a = std::find_if(after.begin(), after.end(),
                                        [&](const TAtaAttribute& x) { return x.Slot == b.Slot && x.Id == b.Id; });
            if (a == after.end() || (a->Value == b.Value && a->Raw == b.Raw)) continue;
            const std::string_view name = SmartAttributeLabel(b.Id);
            changes.push_back(TJson{{"id", b.Id},
                                    {"name", name.empty() ? TJson(nullptr) : TJson(name)},
                                    {"before", TJson{{"value", b.Value}, {"raw", b.Raw}}},
                                    {"after", TJson{{"value", a->Value}, {"raw", a->Raw}}}});
        }
    }
    return changes;
}

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

// The read-speed curve: [first LBA, MB/s] of each part of the range, null where nothing was read whole.
TJson SpeedJson(const TSurface& surface) {
    TJson points = TJson::array();
    for (const TSpeedPoint& p : SpeedPoints(surface))
        points.push_back(TJson::array({p.FirstLba, p.MBps ? TJson(std::round(*p.MBps * 100) / 100) : TJson(nullptr)}));
    return TJson{{"points", points}};
}

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
        case TVerdict::Incomplete:
            return "incomplete";
        default:
            return "healthy";
    }
}

std::string_view OutcomeName(const TScanRecord& record) {
    return record.GoneLba >= 0 ? "drive_gone" : record.Stopped ? "stopped" : "completed";
}

std::string OutcomeText(const TScanRecord& record) {
    const std::array<std::uint64_t, 8>& c = record.Classes;
    if (!EndedEarly(record)) return std::string(VerdictName(Verdict(c)));
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
    const std::string ended = record.GoneLba >= 0
                                  ? "drive went away at LBA " + std::to_string(record.GoneLba) + ", after "
                                  : "stopped after ";
    return ended + std::to_string(percent) + " % - " + found + " so far";
}

void WriteScanJson(const TScanRecord& record, const TEmit& emit) {
    TJson classes = TJson::object();
    for (std::size_t c = 0; c < record.Classes.size(); ++c) classes[std::string(ClassMembers[c])] = record.Classes[c];
    const TPictureLayout layout = PictureLayout(record);
    TObjectWriter document{emit};
    document.Member("program", ProgramName);
    document.Member("version", ProgramVersion());
    document.Member("format", Format);
    document.Member("started", IsoTime(record.Started));
    document.Member("finished", IsoTime(record.Finished));
    document.Member("drive", DriveJson(record.Drive));
    document.Member("range", TJson{{"first_lba", record.FirstLba}, {"last_lba", record.LastLba}});
    document.Member("recheck", record.Recheck);
    document.Member("outcome", OutcomeName(record));
    if (record.GoneLba >= 0) document.Member("drive_gone_lba", record.GoneLba);
    document.Member("blocks", record.Blocks);
    document.Member("block_sectors", MaxBlockSectors);
    document.Member("classes", classes);
    document.Member("verdict", VerdictName(Verdict(record)));
    document.Runs("damaged", record.Findings, true);
    document.Runs("slow", record.Findings, false);
    document.Member("speed", SpeedJson(record.Surface));
    document.Member("picture", TJson{{"cells", record.Cells.size()},
                                     {"blocks_per_cell", record.BlocksPerCell},
                                     {"width", layout.Width},
                                     {"height", layout.Height}});
    const TJson smart = ScanSmartMembers(record.Smart);
    for (const auto& [name, value] : smart.items()) document.Member(name, value);
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

nlohmann::ordered_json ScanSmartMembers(const TSmartBeforeAfter& smart) {
    TJson members = TJson::object();
    if (!smart.Taken) return members;
    for (const auto& [reading, name] :
         {std::pair{&smart.Before, "smart_before"}, std::pair{&smart.After, "smart_after"}}) {
        members[name] = ReadingJson(*reading);
        if (members[name].is_null()) members[std::string(name) + "_error"] = SmartFailure(reading->Outcome);
    }
    members["smart_changes"] = ChangesJson(smart);
    return members;
}

std::string SmartJson(const TDriveFacts& drive, const plat::DateTime& time, const TSmartReading& reading) {
    const TSmartOutcome outcome = reading.Outcome;
    TJson document = Header("time", time);
    document["drive"] = DriveJson(drive);
    const std::optional<THealth> health = ReadingHealth(reading);
    document["ok"] = health.has_value();
    document["status"] = health ? TJson(HealthName(*health)) : TJson(nullptr);
    if (!health) document["error"] = SmartFailure(outcome);
    if (outcome == TSmartOutcome::Nvme) {
        document["nvme"] = NvmeJson(reading.Nvme);
        document["nvme_status"] = NvmeStatusJson(reading.Nvme);
    }
    document["attributes"] = outcome == TSmartOutcome::Read ? AttributesJson(reading.Ata) : TJson::array();
    return Text(document);
}

}  // namespace report
