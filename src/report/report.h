// Reports: what every surface scan and SMART reading found, written as files into a folder the
// user chose (nothing is written without one): a JSON document, the list of damaged blocks, the
// surface in stretches as CSV, a picture of the surface and a GNU ddrescue mapfile for a scan; a
// JSON document for a SMART reading. They follow the scan
// and the SMART table as listeners; a file that cannot be written never disturbs the screens, and
// the program says at its end what it wrote and what it could not.
// Thread: main.
#pragma once

#include <string>
#include <vector>

#include "report/scan_record.h"

namespace report {

// Reports into `folder` from now on; none with an empty folder. The folder is opened (created when
// missing) now; why it cannot be, or empty.
std::string EnableReports(const std::string& folder);

// Keeps the record of every scan from now on, with reports or without, until the next scan starts:
// the unattended summary is taken from it.
void KeepScanRecords();
// The record of the running or the last scan (once KeepScanRecords was called).
const TScanRecord& LastScan();

// The chosen drive as the reports name it.
TDriveFacts ChosenDriveFacts();

// What the SMART readings before and after the last scan that wrote reports say about surface
// damage, one sentence each (SmartChangeLines, "->" between the values); none without reports.
const std::vector<std::string>& LastScanSmartLines();

}  // namespace report
