// --history DIR: the readings and trend of every drive whose reports DIR holds, as text or JSON,
// and with --reports OUT a trend picture per drive. No drive is touched.
// Thread: main.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/unattended.h"
#include "history/history.h"
#include "platform/platform.h"
#include "report/files.h"

namespace cli {
namespace {

bool ToStandardError = false;       // "report: PATH" lines, beside a JSON document on stdout
std::vector<std::string> Pictures;  // "report: PATH" lines, after the text

void NotePicture(const std::string& line, bool error) {
    if (error || ToStandardError)
        std::fprintf(stderr, "%s\n", line.c_str());
    else
        Pictures.push_back(line);
}

}  // namespace

void SaySkipped(const history::TSkipped& skipped) {
    std::fprintf(stderr, "%s: skipped %s: %s\n", plat::ProgramName().data(), skipped.File.c_str(), skipped.Why.c_str());
}

int HistoryUnattended(const TCommandLine& line, bool demo) {
    const history::THistory history = history::ReadHistory(line.HistoryFolder, SaySkipped);
    if (!history.Error.empty()) {
        std::fprintf(stderr, "%s: the folder %s cannot be read: %s\n", ProgramName(demo).data(),
                     line.HistoryFolder.c_str(), history.Error.c_str());
        return ExitError;
    }
    if (history.Drives.empty())
        std::fprintf(stderr, "%s: no report in %s\n", ProgramName(demo).data(), line.HistoryFolder.c_str());
    const std::string text = line.Json ? history::HistoryJson(history) : history::HistoryText(history);
    std::fputs(text.c_str(), stdout);
    if (!line.ReportsFolder.empty()) {
        ToStandardError = line.Json;
        report::SetReportNote(NotePicture);
        const plat::DateTime now = plat::LocalDateTime();
        for (const history::TDrive& drive : history.Drives) {
            const report::TReportPart parts[] = {
                {".png", [&](const report::TEmit& emit) {
                     const std::vector<std::uint8_t> png = history::HistoryPng(drive);
                     emit(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
                 }}};
            report::WriteReport(now, drive.Serial, "history", parts);
        }
        for (const std::string& picture : Pictures) std::fputs((picture + "\n").c_str(), stdout);
    }
    return OutputWritten(demo) ? history::ExitStatus(history) : ExitError;
}

}  // namespace cli
