// A drive's trend: its latest scan against what the earlier ones read whole or fast, its SMART
// counters first and latest, the median speed over what both scans read whole, and the status
// they give.
// Thread: main.
#include <algorithm>
#include <cmath>
#include <utility>

#include "history/history.h"
#include "history/parts.h"

namespace history {
namespace {

using TSpan = std::pair<std::int64_t, std::int64_t>;  // sectors, both ends included

// Sorts and joins spans that overlap or touch.
void Join(std::vector<TSpan>& spans) {
    std::sort(spans.begin(), spans.end());
    std::size_t kept = 0;
    for (const TSpan& s : spans) {
        if (kept > 0 && s.first <= spans[kept - 1].second + 1)
            spans[kept - 1].second = std::max(spans[kept - 1].second, s.second);
        else
            spans[kept++] = s;
    }
    spans.resize(kept);
}

// The sectors a scan read: from its first on, as many blocks as it read (a scan reads in order).
TSpan ReadPart(const TReading& scan) {
    const auto sectors = static_cast<std::int64_t>(std::min<std::uint64_t>(
        scan.Blocks * scan.BlockSectors, static_cast<std::uint64_t>(scan.LastLba - scan.FirstLba + 1)));
    return {scan.FirstLba, scan.FirstLba + sectors - 1};
}

// `part` without the sectors of `runs` (sorted, apart), added to `spans`.
void AddWithout(std::vector<TSpan>& spans, TSpan part, std::initializer_list<const std::vector<TRun>*> runs) {
    std::vector<TSpan> holes;
    for (const std::vector<TRun>* list : runs)
        for (const TRun& r : *list) holes.emplace_back(r.FirstLba, r.LastLba);
    Join(holes);
    std::int64_t from = part.first;
    for (const TSpan& h : holes) {
        if (h.second < from) continue;
        if (h.first > part.second) break;
        if (h.first > from) spans.emplace_back(from, h.first - 1);
        from = h.second + 1;
    }
    if (from <= part.second) spans.emplace_back(from, part.second);
}

// The blocks of `run` within [first, last]: all of them for a run whose blocks fill its sectors,
// else as many as its share of the sectors.
std::uint64_t BlocksWithin(const TRun& run, std::int64_t first, std::int64_t last, std::uint32_t blockSectors) {
    const auto span = static_cast<double>(run.LastLba - run.FirstLba + 1);
    const auto part = static_cast<double>(last - first + 1);
    const double share = static_cast<double>(run.Blocks) * part / span;
    const double filled = std::ceil(part / std::max<std::uint32_t>(blockSectors, 1));
    return std::clamp<std::uint64_t>(static_cast<std::uint64_t>(std::ceil(std::min(share, filled))), 1, run.Blocks);
}

// The parts of `runs` inside `spans` (both sorted), and their blocks.
std::vector<TRun> Within(const std::vector<TRun>& runs, const std::vector<TSpan>& spans, std::uint32_t blockSectors,
                         std::uint64_t& blocks) {
    std::vector<TRun> found;
    blocks = 0;
    std::size_t s = 0;
    for (const TRun& r : runs) {
        while (s < spans.size() && spans[s].second < r.FirstLba) ++s;
        for (std::size_t k = s; k < spans.size() && spans[k].first <= r.LastLba; ++k) {
            const std::int64_t first = std::max(r.FirstLba, spans[k].first),
                               last = std::min(r.LastLba, spans[k].second);
            const std::uint64_t n = BlocksWithin(r, first, last, blockSectors);
            blocks += n;
            found.push_back(TRun{first, last, n, r.Worst});
            if (found.size() >= 2 * MostKeptRuns) CompactRuns(found);
        }
    }
    CompactRuns(found);
    return found;
}

// The speed at `lba` by a scan's curve; none outside its range or where it read nothing whole.
std::optional<double> SpeedAt(const TReading& scan, std::int64_t lba) {
    if (lba < scan.FirstLba || lba > scan.LastLba || scan.Speed.empty()) return std::nullopt;
    const auto after = std::upper_bound(scan.Speed.begin(), scan.Speed.end(), lba,
                                        [](std::int64_t at, const TSpeed& p) { return at < p.FirstLba; });
    return after == scan.Speed.begin() ? std::nullopt : std::prev(after)->MBps;
}

// The latest scan's median speed against the earliest scan's that read some of the same parts
// whole, over those parts only, in per cent.
std::optional<double> SpeedChange(const std::vector<const TReading*>& scans) {
    const TReading& latest = *scans.back();
    for (std::size_t e = 0; e + 1 < scans.size(); ++e) {
        std::vector<double> now, then;
        for (std::size_t i = 0; i < latest.Speed.size(); ++i) {
            const TSpeed& p = latest.Speed[i];
            const std::int64_t last = i + 1 < latest.Speed.size() ? latest.Speed[i + 1].FirstLba - 1 : latest.LastLba;
            const std::optional<double> before = SpeedAt(*scans[e], p.FirstLba + (last - p.FirstLba) / 2);
            if (!p.MBps || !before) continue;
            now.push_back(*p.MBps);
            then.push_back(*before);
        }
        const std::optional<double> a = Median(now), b = Median(then);
        if (a && b && *b > 0) return std::round((*a / *b - 1) * 1000) / 10;
    }
    return std::nullopt;
}

}  // namespace

void CompactRuns(std::vector<TRun>& runs, std::size_t most) {
    std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.FirstLba < b.FirstLba; });
    std::size_t kept = 0;
    for (const TRun& r : runs) {
        if (kept > 0 && r.FirstLba <= runs[kept - 1].LastLba + 1) {
            runs[kept - 1].LastLba = std::max(runs[kept - 1].LastLba, r.LastLba);
            runs[kept - 1].Blocks += r.Blocks;
            runs[kept - 1].Worst = std::max(runs[kept - 1].Worst, r.Worst);
        } else {
            runs[kept++] = r;
        }
    }
    runs.resize(kept);
    while (runs.size() > most) {
        // Merge across every gap no wider than the one that leaves `most` runs.
        std::vector<std::int64_t> gaps;
        for (std::size_t i = 1; i < runs.size(); ++i) gaps.push_back(runs[i].FirstLba - runs[i - 1].LastLba);
        const std::size_t cut = runs.size() - most - 1;
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(cut), gaps.end());
        const std::int64_t widest = gaps[cut];
        kept = 1;
        for (std::size_t i = 1; i < runs.size(); ++i) {
            if (runs[i].FirstLba - runs[kept - 1].LastLba <= widest) {
                runs[kept - 1].LastLba = runs[i].LastLba;
                runs[kept - 1].Blocks += runs[i].Blocks;
                runs[kept - 1].Worst = std::max(runs[kept - 1].Worst, runs[i].Worst);
            } else {
                runs[kept++] = runs[i];
            }
        }
        runs.resize(kept);
    }
}

std::optional<double> Median(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t m = values.size() / 2;
    return values.size() % 2 ? values[m] : (values[m - 1] + values[m]) / 2;
}

std::optional<std::int64_t> InstantOf(std::string_view time) {
    // YYYY-MM-DDTHH:MM:SS+HH:MM
    if (time.size() != 25 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':' ||
        time[16] != ':' || (time[19] != '+' && time[19] != '-') || time[22] != ':')
        return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t length) {
        int n = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            if (time[i] < '0' || time[i] > '9') return -1;
            n = n * 10 + (time[i] - '0');
        }
        return n;
    };
    const int y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2),
              s = number(17, 2), oh = number(20, 2), om = number(23, 2);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60 ||
        oh < 0 || om < 0)
        return std::nullopt;
    // Days since 1970-01-01 of the proleptic Gregorian calendar.
    const int yy = y - (mo <= 2);
    const int era = yy / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t days = std::int64_t{era} * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const int offset = (time[19] == '-' ? -1 : 1) * (oh * 60 + om) * 60;
    return days * 86400 + h * 3600 + mi * 60 + s - offset;
}

void Judge(TDrive& drive) {
    TTrend& t = drive.Trend = TTrend{};
    const std::vector<TReading>& readings = drive.Readings;
    if (readings.empty()) return;
    t.Latest = readings.back().Time;
    if (readings.size() > 1) t.Since = readings.front().Time;

    std::vector<const TReading*> scans;
    for (const TReading& r : readings)
        if (r.Kind == TKind::Scan) scans.push_back(&r);
    if (scans.size() > 1) {
        const TReading& latest = *scans.back();
        std::vector<TSpan> whole, fast;
        for (std::size_t i = 0; i + 1 < scans.size(); ++i) {
            AddWithout(whole, ReadPart(*scans[i]), {&scans[i]->Damaged});
            AddWithout(fast, ReadPart(*scans[i]), {&scans[i]->Damaged, &scans[i]->Slow});
            Join(whole);
            Join(fast);
        }
        t.NewDamaged = Within(latest.Damaged, whole, latest.BlockSectors, t.NewDamagedBlocks);
        t.NewSlow = Within(latest.Slow, fast, latest.BlockSectors, t.NewSlowBlocks);
        t.SpeedChangePercent = SpeedChange(scans);
    }

    for (std::size_t k = 0; k < t.Counters.size(); ++k) {
        std::optional<std::uint64_t> first, latest;
        int known = 0;
        for (const TReading& r : readings) {
            const std::optional<std::uint64_t>& v = k < KeptAttributes.size() ? r.Attributes[k] : r.MediaErrors;
            if (!v) continue;
            if (!first) first = v;
            latest = v;
            ++known;
        }
        if (known > 1) t.Counters[k] = TCounter{*first, *latest};
    }
    for (auto r = readings.rbegin(); r != readings.rend(); ++r) {
        if (r->SmartStatus.empty()) continue;
        t.SmartFailing = r->SmartStatus == "failing";
        t.SmartWarning = r->SmartStatus == "warning";
        break;
    }

    bool grew = false;
    for (const std::optional<TCounter>& c : t.Counters) grew = grew || (c && c->Latest > c->First);
    if (t.NewDamagedBlocks > 0 || grew || t.SmartFailing)
        drive.Status = TStatus::Failing;
    else if (t.NewSlowBlocks > 0 || (t.SpeedChangePercent && *t.SpeedChangePercent <= -25) || t.SmartWarning)
        drive.Status = TStatus::Warning;
    else
        drive.Status = TStatus::Ok;
}

std::string_view StatusName(TStatus status) {
    switch (status) {
        case TStatus::Failing:
            return "failing";
        case TStatus::Warning:
            return "warning";
        default:
            return "ok";
    }
}

int ExitStatus(const THistory& history) {
    if (!history.Error.empty() || history.Drives.empty()) return 2;
    int status = 0;
    for (const TDrive& d : history.Drives) {
        if (d.Status == TStatus::Failing) return 3;
        if (d.Status == TStatus::Warning) status = 1;
    }
    return status;
}

}  // namespace history
