#include "report/documents.h"

#include <cmath>
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
        default:
            return "healthy";
    }
}

std::string ScanJson(const TScanRecord& record) {
    TJson classes = TJson::object();
    for (std::size_t c = 0; c < record.Classes.size(); ++c) classes[std::string(ClassMembers[c])] = record.Classes[c];
    TJson damaged = TJson::array();
    for (const TDamagedBlock& b : record.Damaged)
        damaged.push_back(TJson{{"lba", b.Lba},
                                {"sectors", b.Sectors},
                                {"class", b.Class == bcUNRB ? "UNRB" : "PUNRB"},
                                {"bytes", b.Bytes}});
    TJson slow = TJson::array();
    for (const TSlowBlock& b : record.Slow)
        slow.push_back(TJson{{"lba", b.Lba}, {"sectors", b.Sectors}, {"ms", b.Ms}, {"class", ClassMember(b.Class)}});
    TJson document = Header("started", record.Started);
    document["finished"] = IsoTime(record.Finished);
    document["drive"] = DriveJson(record.Drive);
    document["range"] = TJson{{"first_lba", record.FirstLba}, {"last_lba", record.LastLba}};
    document["recheck"] = record.Recheck;
    document["outcome"] = record.Stopped ? "stopped" : "completed";
    document["blocks"] = record.Blocks;
    document["block_sectors"] = MaxBlockSectors;
    document["classes"] = classes;
    document["verdict"] = VerdictName(Verdict(record.Classes));
    document["damaged"] = damaged;
    document["slow"] = slow;
    document["speed"] = SpeedJson(record.Surface);
    const TPictureLayout layout = PictureLayout(record);
    document["picture"] = TJson{{"cells", record.Cells.size()},
                                {"blocks_per_cell", record.BlocksPerCell},
                                {"width", layout.Width},
                                {"height", layout.Height}};
    return Text(document);
}

std::string DamagedList(const TScanRecord& record) {
    std::string list;
    for (const TDamagedBlock& b : record.Damaged) list += std::to_string(b.Lba) + "\n";
    return list;
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
