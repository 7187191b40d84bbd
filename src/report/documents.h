// The report files' contents: the JSON documents of a scan and of a SMART reading, and the
// damaged-block list.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "report/scan_record.h"
#include "smart/table.h"

namespace report {

inline constexpr std::string_view ProgramName = "platenhawk";
std::string_view ProgramVersion();

// ISO 8601 with the UTC offset: 2026-12-07T09:05:00+01:00.
std::string IsoTime(const plat::DateTime& t);
// The members of the counters and of the slow blocks: lt5ms ... gt300ms, punrb, unrb.
std::string_view ClassMember(TBlockClass blockClass);
std::string_view VerdictName(TVerdict verdict);

std::string ScanJson(const TScanRecord& record);
// The members a scan report gets from its SMART readings (none when none were taken):
// smart_before and smart_after (the attributes or the health log as a SMART report holds them;
// null, with smart_before_error or smart_after_error, when the drive did not answer) and
// smart_changes, every attribute or health field whose value changed.
nlohmann::ordered_json ScanSmartMembers(const TSmartBeforeAfter& smart);
// The first LBA of every damaged block, one a line, in scan order.
std::string DamagedList(const TScanRecord& record);
// The members of an ATA reading's attributes, or of an NVMe drive's health log under "nvme".
std::string SmartJson(const TDriveFacts& drive, const plat::DateTime& time, const TSmartReading& reading);

}  // namespace report
