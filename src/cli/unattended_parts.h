// What the unattended tasks (unattended.cpp: the list and SMART; scan_command.cpp: the scan)
// share: their messages, the drive a command line names, and the "report:" lines.
// Thread: main.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drives/identity.h"

namespace cli::parts {

extern bool Demo;                                // names the program in messages
extern std::vector<std::string> ReportsWritten;  // "report: PATH" lines, for the summary

// A line on the standard error, after the program's name.
void Fail(const std::string& what);
// A line on the standard output.
void Print(const std::string& line);
// Where the reports' lines go (report::SetReportNote): errors at once, the others kept.
void NoteReport(const std::string& line, bool error);
std::string Trim(std::string_view text);
std::string TrimEnd(std::string_view text);

// Why drives did not answer: all of them, or only drive `d`.
void SayWhyDrivesDidNotAnswer(int d = -1);
// The numbers of the drives that answer, as the list shows them: "5 drives answer: 1, 3-5, 7".
std::string DrivesThatAnswer();
// The drive a --scan or --smart argument names: a number as the list shows it, or a device.
std::optional<int> ResolveDrive(const std::string& text);
// Takes drive `d` as the interactive program takes the drive the user chose.
void TakeDrive(int d, const TGeneralHDDInfo& info);
// "drive 2 (/dev/sdb)" for what the user typed.
std::string DriveName(int d, const std::string& asked);
// Takes drive `d` to scan it: it must answer and tell its capacity.
bool ChooseDrive(int d, const std::string& asked);
// "drive: N DEVICE MODEL (serial S)".
std::string DriveLine();
// The kept "report: PATH" lines: on the standard output after a summary, on the standard error
// after a JSON document, which stands alone on the standard output.
void SayReports(bool json);

}  // namespace cli::parts
