// Report files: their names, and writing them whole or not at all.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace report {

// The serial as it may stand in a file name: characters outside [A-Za-z0-9._-] become "_";
// "noserial" when there is none.
std::string FileSerial(std::string_view serial);

// The start of the names of the files of one report, YYYYMMDD-HHMMSS-SERIAL-KIND, with "-2",
// "-3"... added when `folder` already holds a report of that name with `firstSuffix`.
std::string ReportStem(const std::string& folder, const plat::DateTime& t, std::string_view serial,
                       std::string_view kind, std::string_view firstSuffix);

// Where "report: PATH" and the reasons a file could not be written go (`error` for the latter):
// by default they are said when the program ends (plat::SayAtExit).
using TReportNote = void (*)(const std::string& line, bool error);
void SetReportNote(TReportNote note);

// Receives a report's text piece by piece, in order.
using TEmit = std::function<void(std::string_view)>;
// Hands a report's whole text to an emitter; it throws std::exception when it cannot.
using TProducer = std::function<void(const TEmit&)>;

// Writes what `produce` emits as folder/name (the folder is created when missing) through a
// temporary file renamed into place, so that the file is whole or absent, and notes
// "report: PATH" or why the file could not be written.
bool WriteReportFile(const std::string& folder, const std::string& name, const TProducer& produce);
bool WriteReportFile(const std::string& folder, const std::string& name, std::string_view bytes);

}  // namespace report
