// The report files' contents: the JSON documents of a scan and of a SMART reading, and the
// damaged-block list.
// Thread: main.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "report/files.h"
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
// How the scan ended, as the JSON's outcome member says it: completed, stopped or drive_gone.
std::string_view OutcomeName(const TScanRecord& record);
// How the scan ended, in words for people: the verdict's name for a completed scan; for a stopped
// one, or one whose drive went away, how far it came and what it found so far ("stopped after 5 %
// - nothing damaged so far", "drive went away at LBA 40035, after 4 % - ..."), as such a scan is
// no proof of health.
std::string OutcomeText(const TScanRecord& record);

// The scan's document, written as a stream: its size grows with the findings, memory does not.
// Throws std::runtime_error when the findings cannot be read back.
void WriteScanJson(const TScanRecord& record, const TEmit& emit);
// The members a scan report gets from its SMART readings (none when none were taken):
// smart_before and smart_after (the attributes or the health log as a SMART report holds them;
// null, with smart_before_error or smart_after_error, when the drive did not answer) and
// smart_changes, every attribute or health field whose value changed.
nlohmann::ordered_json ScanSmartMembers(const TSmartBeforeAfter& smart);
// The first LBA of every damaged block, one a line, in scan order; throws as WriteScanJson does.
void WriteDamagedList(const TScanRecord& record, const TEmit& emit);
bool HasDamage(const TScanRecord& record);
// The members of an ATA reading's attributes, or of an NVMe drive's health log under "nvme".
std::string SmartJson(const TDriveFacts& drive, const plat::DateTime& time, const TSmartReading& reading);
void WriteSmartJson(const TDriveFacts& drive, const plat::DateTime& time, const TSmartReading& reading,
                    const TEmit& emit);

}  // namespace report
