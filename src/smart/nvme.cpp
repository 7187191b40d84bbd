// The health of an NVMe drive (smart/nvme.h): its health log turned into the fifteen rows of the
// SMART table.
// Thread: main.
#include "smart/nvme.h"

#include <algorithm>

namespace {

constexpr std::size_t RowWidth = 80, IdColumn = 1, NameColumn = 7, ValueColumn = 43, ThresholdColumn = 68;
constexpr std::size_t SpareRow = 2, SpareThresholdRow = 3;

TUInt128 Counter(const TNvmeLog& log, std::size_t at, std::size_t bytes) {
    TUInt128 v;
    for (std::size_t i = 0; i < bytes; ++i) {
        const std::uint64_t b = log[at + i];
        if (i < 8)
            v.Low |= b << (8 * i);
        else
            v.High |= b << (8 * (i - 8));
    }
    return v;
}

bool IsZero(const TUInt128& v) { return v.Low == 0 && v.High == 0; }

void Put(std::string& row, std::size_t column, std::string_view text) {
    if (column >= row.size()) return;
    text = text.substr(0, row.size() - column);
    std::copy(text.begin(), text.end(), row.begin() + static_cast<std::ptrdiff_t>(column));
}

}  // namespace

std::string DecimalText(const TUInt128& value) {
    // Four 32-bit limbs, most significant first, divided by ten over and over.
    std::array<std::uint32_t, 4> limbs = {
        static_cast<std::uint32_t>(value.High >> 32), static_cast<std::uint32_t>(value.High),
        static_cast<std::uint32_t>(value.Low >> 32), static_cast<std::uint32_t>(value.Low)};
    std::string digits;
    do {
        std::uint64_t remainder = 0;
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t current = (remainder << 32) | limb;
            limb = static_cast<std::uint32_t>(current / 10);
            remainder = current % 10;
        }
        digits += static_cast<char>('0' + remainder);
    } while (std::any_of(limbs.begin(), limbs.end(), [](std::uint32_t l) { return l != 0; }));
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::array<TNvmeHealthRow, NvmeHealthRows> NvmeHealthRowsOf(const TNvmeLog& log) {
    const auto byte = [&](std::size_t at) { return TUInt128{log[at], 0}; };
    const std::uint8_t warning = log[0], spare = log[3], threshold = log[4], used = log[5];
    const int kelvin = log[1] | (log[2] << 8);
    std::array<TNvmeHealthRow, NvmeHealthRows> rows = {{
        {"Critical Warning", "critical_warning", byte(0), 0, false, warning != 0},
        {"Composite Temperature", "composite_temperature", {}, kelvin - 273, true, false},
        {"Available Spare", "available_spare", byte(3), 0, false, spare < threshold},
        {"Available Spare Threshold", "available_spare_threshold", byte(4), 0, false, false},
        {"Percentage Used", "percentage_used", byte(5), 0, false, used >= 100},
        {"Data Units Read", "data_units_read", Counter(log, 32, 16)},
        {"Data Units Written", "data_units_written", Counter(log, 48, 16)},
        {"Host Read Commands", "host_read_commands", Counter(log, 64, 16)},
        {"Host Write Commands", "host_write_commands", Counter(log, 80, 16)},
        {"Controller Busy Time", "controller_busy_time", Counter(log, 96, 16)},
        {"Power Cycles", "power_cycles", Counter(log, 112, 16)},
        {"Power On Hours", "power_on_hours", Counter(log, 128, 16)},
        {"Unsafe Shutdowns", "unsafe_shutdowns", Counter(log, 144, 16)},
        {"Media and Data Integrity Errors", "media_and_data_integrity_errors", Counter(log, 160, 16)},
        {"Error Log Entries", "error_log_entries", Counter(log, 176, 16)},
    }};
    rows[13].Alarming = !IsZero(rows[13].Value);
    return rows;
}

std::string ValueText(const TNvmeHealthRow& row) {
    return row.IsSigned ? std::to_string(row.Signed) : DecimalText(row.Value);
}

std::string NvmeRowText(const TNvmeLog& log, std::size_t index, bool whole) {
    const std::array<TNvmeHealthRow, NvmeHealthRows> rows = NvmeHealthRowsOf(log);
    const std::string value = ValueText(rows[index]);
    std::string row(whole ? std::max(RowWidth, ValueColumn + value.size()) : RowWidth, ' ');
    Put(row, IdColumn, std::to_string(index + 1));
    Put(row, NameColumn, rows[index].Name);
    Put(row, ValueColumn, value);
    if (index == SpareRow) Put(row, ThresholdColumn, ValueText(rows[SpareThresholdRow]));
    return row;
}
