// The health of an NVMe drive: its SMART / Health Information log (log page 02h), as the SMART
// table shows it in fifteen rows.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// A counter of the log: 128 bits, little-endian.
struct TUInt128 {
    std::uint64_t Low = 0;
    std::uint64_t High = 0;
    friend bool operator==(const TUInt128&, const TUInt128&) = default;
};
std::string DecimalText(const TUInt128& value);

inline constexpr std::size_t NvmeHealthRows = 15;

struct TNvmeHealthRow {
    std::string_view Name;    // as the table shows it
    std::string_view Member;  // in the report, snake_case
    TUInt128 Value;           // unsigned; the temperature row holds degrees Celsius in Signed
    std::int64_t Signed = 0;
    bool IsSigned = false;
    bool Alarming = false;  // shown in light red
};

using TNvmeLog = std::array<std::uint8_t, 512>;

// The fifteen rows of a log, in table order: critical warning, composite temperature (degrees
// Celsius), available spare and its threshold, percentage used, data units read and written,
// host read and write commands, controller busy time, power cycles, power-on hours, unsafe
// shutdowns, media and data integrity errors, error log entries.
std::array<TNvmeHealthRow, NvmeHealthRows> NvmeHealthRowsOf(const TNvmeLog& log);
std::string ValueText(const TNvmeHealthRow& row);

// The table's row `index` (from 0): the AID column holds its number, the value stands in the Value
// column and runs on into Worst and Raw when longer, the threshold column holds the spare
// threshold on the spare's row; exactly 80 columns, the value cut at the 80th. With `whole` the
// value is never cut: the row grows as long as it needs.
std::string NvmeRowText(const TNvmeLog& log, std::size_t index, bool whole = false);
