// Reports: what every surface scan and SMART reading found, written as files into a folder the
// user chose (nothing is written without one): a JSON document, the list of damaged blocks, the
// surface in stretches as CSV and a picture of the surface for a scan; a JSON document for a SMART
// reading. They follow the scan
// and the SMART table as listeners; a file that cannot be written never disturbs the screens, and
// the program says at its end what it wrote and what it could not.
#pragma once

#include <string>

#include "report/scan_record.h"

namespace report {

// Reports into `folder` from now on; none with an empty folder.
void EnableReports(std::string folder);

// The chosen drive as the reports name it.
TDriveFacts ChosenDriveFacts();

}  // namespace report
