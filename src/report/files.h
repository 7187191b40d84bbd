// Report files: their names, and writing them whole or not at all into a folder others may write
// to as well.
// Thread: main.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace report {

// Receives a report's text piece by piece, in order.
using TEmit = std::function<void(std::string_view)>;
// Produces the text of one file through the TEmit it is given.
using TProduce = std::function<void(const TEmit&)>;

// One file of a report: how its name ends, and its text. A part without a producer is not written
// this time, but no report takes a name at which a file of that kind already stands.
struct TReportPart {
    std::string_view Suffix;  // ".json", "-damaged.txt", ".png"...
    TProduce Produce;
};

// The serial as it may stand in a file name: characters outside [A-Za-z0-9._-] become "_";
// "noserial" when there is none.
std::string FileSerial(std::string_view serial);

// Where "report: PATH" and the reasons a file could not be written go (`error` for the latter):
// by default they are said when the program ends (plat::SayAtExit). Gives the one set before.
using TReportNote = void (*)(const std::string& line, bool error);
TReportNote SetReportNote(TReportNote note);

// Writes the reports into `folder` from now on (none with an empty one): opens it, creating it when
// missing, and keeps it open, so that whatever becomes of the path later no file lands elsewhere.
// Empty when it is open; otherwise why it cannot be used, and each report tries again.
std::string UseReportFolder(const std::string& folder);

// Writes the parts of one report into the folder, each through a temporary file that reaches the
// disk before it takes its name, so that a file is whole or absent. They share one name stem,
// YYYYMMDD-HHMMSS-SERIAL-KIND, followed by "-2", "-3"... when a file of one of the parts' kinds
// stands at a stem already or another report is writing under it: the report claims its stem
// before its first file, so that all the files under a stem are one report's, and no file is ever
// replaced. Notes "report: PATH" for each file written, where the folder is by then, or why it
// was not written. A producer that cannot write (a full disk) or that throws leaves its file
// unwritten.
void WriteReport(const plat::DateTime& t, std::string_view serial, std::string_view kind,
                 std::span<const TReportPart> parts);

// Replaces the file at `path` (or makes it) with what `produce` gives, in one step: a new file of
// the same folder, written, made 0644 and flushed, renamed over the old one, which is never written
// through a link (a link there is replaced itself). Empty when done; otherwise why not, and no
// file is left behind or changed.
std::string ReplaceFile(const std::string& path, const TProduce& produce);

}  // namespace report
