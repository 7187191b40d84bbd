// What the history's files share: runs kept sorted and bounded, and report times as instants.
// Thread: main.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history.h"

namespace history {

// Sorts the runs, joins those that overlap or touch, and merges the closest ones until at most
// `most` are left (a merged run keeps the blocks of its parts).
void CompactRuns(std::vector<TRun>& runs, std::size_t most = MostKeptRuns);

// "2026-12-07T09:05:00+01:00" as seconds since 1970 in UTC; none when it is not such a time.
std::optional<std::int64_t> InstantOf(std::string_view time);

// "2026-12-07T09:05:00+01:00" as "2026-12-07 09:05".
std::string Minute(const std::string& time);

// The middle value, or the mean of the two in the middle; none of no values.
std::optional<double> Median(std::vector<double> values);

}  // namespace history
