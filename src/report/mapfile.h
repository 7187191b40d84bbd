// The scan as a GNU ddrescue mapfile: which bytes of the whole drive the scan read, which it could
// not, and which it never reached, for ddrescue's --domain-mapfile and for ddrescuelog.
// Thread: main.
#pragma once

#include "report/files.h"
#include "report/scan_record.h"

namespace report {

// Comment lines, the status line, then "pos size status" in bytes from 0 to the drive's size:
// "+" read, "*" a block the drive refused (or the part of a block after what it returned), "-" a
// refused block of one sector, "?" outside the range and after where the scan ended. Written as a
// stream; throws as ForEachRun does.
void WriteMapfile(const TScanRecord& record, const TEmit& emit);

}  // namespace report
