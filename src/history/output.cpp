// The history as people and programs read it: a line a reading and a sentence of trend per drive,
// or one JSON document (docs/schemas/history.schema.json).
// Thread: main.
#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "history/history.h"
#include "history/parts.h"
#include "report/documents.h"

namespace history {
namespace {

using TJson = nlohmann::ordered_json;

constexpr std::array<const char*, 5> CounterWords = {"reallocated", "reallocation events", "pending", "uncorrectable",
                                                     "media errors"};
constexpr std::array<const char*, 5> CounterMembers = {"reallocated", "reallocation_events", "pending", "uncorrectable",
                                                       "media_errors"};

std::string Number(std::uint64_t n) { return std::to_string(n); }

std::string Lba(std::int64_t lba) { return Number(static_cast<std::uint64_t>(lba)); }

std::string Decimal(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Blocks(std::uint64_t n, const char* what) {
    return Number(n) + " new " + what + (n == 1 ? " block" : " blocks");
}

// "at LBA 20400-20654, 30000-30254 and 3 more runs".
std::string Where(const std::vector<TRun>& runs) {
    constexpr std::size_t Shown = 3;
    std::string text = "at LBA ";
    for (std::size_t i = 0; i < runs.size() && i < Shown; ++i)
        text += (i ? ", " : "") + Lba(runs[i].FirstLba) + "-" + Lba(runs[i].LastLba);
    if (runs.size() > Shown) text += " and " + Number(runs.size() - Shown) + " more runs";
    return text;
}

std::optional<std::uint64_t> Kept(const TReading& r, int id) {
    for (std::size_t k = 0; k < KeptAttributes.size(); ++k)
        if (KeptAttributes[k] == id) return r.Attributes[k];
    return std::nullopt;
}

std::string Cell(const std::optional<std::uint64_t>& n) { return n ? Number(*n) : "-"; }

std::string ReadingLine(const TReading& r) {
    const bool scan = r.Kind == TKind::Scan;
    char line[512];
    std::snprintf(line, sizeof line, "  %-16s %-5s %-23s %-10s %8s %8s %8s %8s %8s", Minute(r.Time).c_str(),
                  scan ? "scan" : "smart", scan ? (Lba(r.FirstLba) + "-" + Lba(r.LastLba)).c_str() : "-",
                  scan ? r.Outcome.c_str() : (r.SmartStatus.empty() ? "-" : r.SmartStatus.c_str()),
                  scan ? Number(r.DamagedBlocks).c_str() : "-", scan ? Number(r.SlowBlocks).c_str() : "-",
                  Cell(Kept(r, 5)).c_str(), Cell(Kept(r, 197)).c_str(),
                  scan && r.MedianMBps ? Decimal(*r.MedianMBps, "%.1f").c_str() : "-");
    std::string text = line;
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

TJson Optional(const std::optional<std::uint64_t>& n) { return n ? TJson(*n) : TJson(nullptr); }

TJson RunsJson(const std::vector<TRun>& runs) {
    TJson list = TJson::array();
    for (const TRun& r : runs)
        list.push_back(TJson{{"first_lba", r.FirstLba}, {"last_lba", r.LastLba}, {"blocks", r.Blocks}});
    return list;
}

TJson ReadingJson(const TReading& r) {
    TJson j{{"kind", r.Kind == TKind::Scan ? "scan" : "smart"}, {"time", r.Time}, {"file", r.File}};
    if (r.Kind == TKind::Scan) {
        j["range"] = TJson{{"first_lba", r.FirstLba}, {"last_lba", r.LastLba}};
        j["outcome"] = r.Outcome;
        j["blocks"] = r.Blocks;
        j["damaged_blocks"] = r.DamagedBlocks;
        j["slow_blocks"] = r.SlowBlocks;
        j["median_mb_s"] = r.MedianMBps ? TJson(std::round(*r.MedianMBps * 100) / 100) : TJson(nullptr);
    }
    for (std::size_t k = 0; k < KeptAttributes.size(); ++k) j[CounterMembers[k]] = Optional(r.Attributes[k]);
    j["media_errors"] = Optional(r.MediaErrors);
    j["percentage_used"] = Optional(r.PercentageUsed);
    j["critical_warning"] = Optional(r.CriticalWarning);
    j["smart_status"] = r.SmartStatus.empty() ? TJson(nullptr) : TJson(r.SmartStatus);
    return j;
}

TJson TrendJson(const TDrive& d) {
    const TTrend& t = d.Trend;
    TJson j{{"new_damaged", RunsJson(t.NewDamaged)},
            {"new_damaged_blocks", t.NewDamagedBlocks},
            {"new_slow", RunsJson(t.NewSlow)},
            {"new_slow_blocks", t.NewSlowBlocks}};
    for (std::size_t k = 0; k < t.Counters.size(); ++k) {
        const std::optional<TCounter>& c = t.Counters[k];
        j[std::string(CounterMembers[k]) + "_change"] =
            c ? TJson(static_cast<std::int64_t>(c->Latest) - static_cast<std::int64_t>(c->First)) : TJson(nullptr);
    }
    j["speed_change_percent"] = t.SpeedChangePercent ? TJson(*t.SpeedChangePercent) : TJson(nullptr);
    j["since"] = t.Since.empty() ? TJson(nullptr) : TJson(t.Since);
    j["latest"] = t.Latest;
    j["summary"] = TrendSentence(d);
    return j;
}

}  // namespace

std::string Minute(const std::string& time) { return time.substr(0, 10) + " " + time.substr(11, 5); }

std::string TrendSentence(const TDrive& drive) {
    const TTrend& t = drive.Trend;
    std::vector<std::string> parts;
    const std::string since = t.Since.empty() ? "" : " since " + t.Since.substr(0, 10);
    if (t.NewDamagedBlocks > 0)
        parts.push_back(Blocks(t.NewDamagedBlocks, "damaged") + " " + Where(t.NewDamaged) + since);
    if (t.NewSlowBlocks > 0) parts.push_back(Blocks(t.NewSlowBlocks, "slow") + " " + Where(t.NewSlow) + since);
    for (std::size_t k = 0; k < t.Counters.size(); ++k)
        if (t.Counters[k] && t.Counters[k]->Latest != t.Counters[k]->First)
            parts.push_back(std::string(CounterWords[k]) + " " + Number(t.Counters[k]->First) + " -> " +
                            Number(t.Counters[k]->Latest));
    if (t.SpeedChangePercent && *t.SpeedChangePercent <= -25)
        parts.push_back("median read speed " + Decimal(*t.SpeedChangePercent, "%+.1f") + " %");
    if (t.SmartFailing || t.SmartWarning)
        parts.push_back(std::string("latest SMART status ") + (t.SmartFailing ? "failing" : "warning"));
    std::string text(StatusName(drive.Status));
    if (parts.empty()) return text + (t.Since.empty() ? ": one reading, nothing to compare" : ": nothing new" + since);
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "; " : ": ") + parts[i];
    return text;
}

std::string HistoryText(const THistory& history) {
    std::string text;
    for (const TDrive& d : history.Drives) {
        if (!text.empty()) text += "\n";
        text += "drive " + (d.Serial.empty() ? std::string("(no serial)") : d.Serial) +
                (d.Model.empty() ? "" : " " + d.Model) + ": " + std::string(StatusName(d.Status)) + "\n";
        char header[256];
        std::snprintf(header, sizeof header, "  %-16s %-5s %-23s %-10s %8s %8s %8s %8s %8s\n", "date", "kind", "range",
                      "outcome", "damaged", "slow", "realloc", "pending", "MB/s");
        text += header;
        for (const TReading& r : d.Readings) text += ReadingLine(r) + "\n";
        text += "  " + TrendSentence(d) + "\n";
    }
    return text;
}

std::string HistoryJson(const THistory& history) {
    TJson drives = TJson::array();
    for (const TDrive& d : history.Drives) {
        TJson readings = TJson::array();
        for (const TReading& r : d.Readings) readings.push_back(ReadingJson(r));
        drives.push_back(TJson{{"serial", d.Serial},
                               {"model", d.Model},
                               {"readings", readings},
                               {"trend", TrendJson(d)},
                               {"status", StatusName(d.Status)}});
    }
    TJson skipped = TJson::array();
    for (const TSkipped& s : history.Skipped) skipped.push_back(TJson{{"file", s.File}, {"why", s.Why}});
    const TJson document{{"format", 1},
                         {"program", report::ProgramName},
                         {"version", report::ProgramVersion()},
                         {"drives", drives},
                         {"skipped", skipped}};
    return document.dump(2, ' ', false, nlohmann::detail::error_handler_t::replace) + "\n";
}

}  // namespace history
