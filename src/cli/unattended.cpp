// --list and --smart without the 80 x 25 screen, and what the unattended tasks share (see
// unattended_parts.h): messages, the drive a command line names, the "report:" lines.
// Thread: main.
#include "cli/unattended.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/state.h"
#include "cli/unattended_parts.h"
#include "drives/identity.h"
#include "report/documents.h"
#include "report/files.h"
#include "report/report.h"
#include "scan/engine.h"
#include "smart/health.h"
#include "smart/table.h"

namespace cli {
namespace parts {

bool Demo = false;                        // names the program in messages
std::vector<std::string> ReportsWritten;  // "report: PATH" lines, for the summary

void Fail(const std::string& what) { std::fprintf(stderr, "%s: %s\n", ProgramName(Demo).data(), what.c_str()); }

void Print(const std::string& line) { std::fputs((line + "\n").c_str(), stdout); }

void NoteReport(const std::string& line, bool error) {
    if (error)
        std::fprintf(stderr, "%s\n", line.c_str());
    else
        ReportsWritten.push_back(line);
}

std::string TrimEnd(std::string_view text) { return std::string(text.substr(0, text.find_last_not_of(' ') + 1)); }

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// Why drives did not answer: all of them, or only drive `d`.
void SayWhyDrivesDidNotAnswer(int d) {
    const std::string device = d >= 0 ? plat::DrivePath(d) + ":" : std::string();
    for (const std::string& note : plat::DriveProbeNotes())
        if (d < 0 || (device.size() > 1 && note.starts_with(device))) Fail(note);
}

// The numbers of the drives that answer, as the list shows them: "5 drives answer: 1, 3-5, 7", a
// range for three or more in a row.
std::string DrivesThatAnswer() {
    std::vector<int> numbers;
    for (int d = 0; d < MaxListedDrives; ++d)
        if (TGeneralHDDInfo info; !plat::DrivePath(d).empty() && ReadDriveIdentity(d, info)) numbers.push_back(d + 1);
    if (numbers.empty()) return "no drive answers";
    std::string list;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        std::size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
        list += (list.empty() ? "" : ", ") + std::to_string(numbers[i]);
        if (last >= i + 2) {
            list += "-" + std::to_string(numbers[last]);
            i = last;
        }
    }
    return std::to_string(numbers.size()) + (numbers.size() == 1 ? " drive answers: " : " drives answer: ") + list;
}

// The drive a --scan or --smart argument names: a number as the list shows it, or a device.
std::optional<int> ResolveDrive(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        const int number = text.size() <= 2 ? std::stoi(text) : 0;
        if (number >= 1 && number <= MaxListedDrives && !plat::DrivePath(number - 1).empty()) return number - 1;
        Fail("there is no drive " + text + "; " + DrivesThatAnswer() + " (see --list)");
        return std::nullopt;
    }
    if (const int d = plat::DriveNumberOfPath(text); d >= 0) {
        return d;
    }
    // A path that names something other than a drive says what it is.
    for (const std::string& note : plat::DriveProbeNotes()) {
        if (note.starts_with(text + ": ")) {
            Fail(note);
            return std::nullopt;
        }
    }
    Fail("no drive " + text + " (a number from --list" + (Demo ? ", or a device it lists)" : ", or a device path)"));
    return std::nullopt;
}

// Takes drive `d` as the interactive program takes the drive the user chose, with what its
// identity says (nothing when it did not answer).
void TakeDrive(int d, const TGeneralHDDInfo& info) {
    ResetState();
    App.DriveCount = d + 1;
    App.CurrentDrive = d;
    App.DriveSectors[static_cast<std::size_t>(d + 1)] = info.Sectors;
    App.DriveSectorSizes[static_cast<std::size_t>(d + 1)] = info.SectorSize;
    App.DriveIdentity = info;
    ResetOperation();
}

std::string DriveName(int d, const std::string& asked) {
    const std::string path = plat::DrivePath(d);
    return "drive " + asked + (path.empty() || path == asked ? "" : " (" + path + ")");
}

// Takes drive `d` to scan it: it must answer and tell its capacity.
bool ChooseDrive(int d, const std::string& asked) {
    TGeneralHDDInfo info;
    if (!ReadDriveIdentity(d, info)) {
        Fail(DriveName(d, asked) + " does not answer; " + DrivesThatAnswer() + " (see --list)");
        SayWhyDrivesDidNotAnswer(d);
        return false;
    }
    if (info.Sectors <= 0) {
        Fail(DriveName(d, asked) + " tells no capacity");
        return false;
    }
    TakeDrive(d, info);
    return true;
}

std::string DriveLine() {
    const report::TDriveFacts facts = report::ChosenDriveFacts();
    return "drive: " + std::to_string(facts.Number) + " " + plat::DrivePath(App.CurrentDrive) + " " + facts.Model +
           " (serial " + facts.Serial + ")";
}

// The "report: PATH" lines: on the standard output after a summary, on the standard error after a
// JSON document, which stands alone on the standard output.
void SayReports(bool json) {
    for (const std::string& line : ReportsWritten) {
        if (json)
            std::fprintf(stderr, "%s\n", line.c_str());
        else
            Print(line);
    }
}

}  // namespace parts

using namespace parts;

namespace {

// ---------------------------------------------------------------- the SMART table as text

// The table with every value whole, each row that is not ok marked at its end; an attribute the
// table does not name that is not ok follows the closing rule.
void PrintSmartTable(const TSmartReading& reading) {
    Print(DriveLine());
    const bool nvme = reading.Outcome == TSmartOutcome::Nvme;
    const std::string rule(80, '-');
    Print(TrimEnd(SmartTableHeading(!nvme)));
    Print(rule);
    const std::vector<TAtaAttribute> attributes = nvme ? std::vector<TAtaAttribute>{} : AtaAttributes(reading.Ata);
    const std::array<THealth, NvmeHealthRows> fields =
        nvme ? NvmeHealth(reading.Nvme) : std::array<THealth, NvmeHealthRows>{};
    const auto slotHealth = [&](std::size_t slot) {
        for (const TAtaAttribute& a : attributes)
            if (a.Slot == slot) return a.Health;
        return THealth::Ok;
    };
    std::vector<std::size_t> shown;
    for (const TSmartRow& row : SmartTableRows(reading, true)) {
        const THealth health = nvme ? fields[row.Slot] : slotHealth(row.Slot);
        shown.push_back(row.Slot);
        Print(health == THealth::Ok ? TrimEnd(row.Text) : row.Text + "  " + std::string(HealthName(health)));
    }
    Print(rule);
    for (const TAtaAttribute& a : attributes)
        if (a.Health != THealth::Ok && std::find(shown.begin(), shown.end(), a.Slot) == shown.end())
            Print("attribute " + std::to_string(a.Id) + " (not in the table): value " + std::to_string(a.Value) +
                  ", worst " + std::to_string(a.Worst) + ", raw " + std::to_string(a.Raw) + ", threshold " +
                  (a.Threshold ? std::to_string(*a.Threshold) : std::string("none")) + "  " +
                  std::string(HealthName(a.Health)));
}

// 0 ok, 1 warning, 3 failing: the numbers of a healthy, slow and damaged scan; 2 unread.
int SmartStatus(const TSmartReading& reading) {
    const std::optional<THealth> health = ReadingHealth(reading);
    if (!health) return ExitError;
    switch (*health) {
        case THealth::Failing:
            return ExitDamaged;
        case THealth::Warning:
            return ExitSlow;
        default:
            return ExitHealthy;
    }
}

}  // namespace

int ListDrivesUnattended(const TCommandLine& line, bool demo) {
    Demo = demo;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    bool any = false;
    for (int d = 0; d < MaxListedDrives; ++d) {
        TGeneralHDDInfo info;
        if (!ReadDriveIdentity(d, info)) continue;
        any = true;
        const std::vector<std::string> notes = plat::DriveRemarks(d);
        const std::int64_t mb = SizeInMB(info.Sectors, info.SectorSize);
        if (line.Json) {
            list.push_back({{"number", d + 1},
                            {"device", plat::DrivePath(d)},
                            {"model", Trim(info.Model)},
                            {"serial", Trim(info.Serial)},
                            {"size_mb", mb},
                            {"sectors", info.Sectors},
                            {"sector_size", info.SectorSize}});
            if (!notes.empty()) list.back()["notes"] = notes;
        } else {
            std::string line = std::to_string(d + 1) + "  " + plat::DrivePath(d) + "  " + Trim(info.Model) + "  " +
                               Trim(info.Serial) + "  " + std::to_string(mb) + " MB";
            for (const std::string& note : notes) line += "  (" + note + ")";
            Print(line);
        }
    }
    if (line.Json) Print(list.dump(2, ' ', false, nlohmann::detail::error_handler_t::replace));
    if (!any) SayWhyDrivesDidNotAnswer();
    return OutputWritten(Demo) && any ? ExitHealthy : ExitError;
}

int SmartUnattended(const TCommandLine& line, bool demo) {
    Demo = demo;
    const std::optional<int> d = ResolveDrive(line.Drive);
    if (!d) return ExitError;
    // SMART is asked for whatever IDENTIFY says: a drive may answer one and not the other.
    TGeneralHDDInfo info;
    const bool identified = ReadDriveIdentity(*d, info);
    TakeDrive(*d, info);
    report::SetReportNote(NoteReport);
    auto reading = std::make_unique<TSmartReading>();
    ReadSmart(*d, *reading, true);
    const TSmartOutcome outcome = reading->Outcome;
    const bool read = outcome == TSmartOutcome::Read || outcome == TSmartOutcome::Nvme;
    if (line.Json) {
        std::fputs(report::SmartJson(report::ChosenDriveFacts(), plat::LocalDateTime(), *reading).c_str(), stdout);
    } else if (read) {
        PrintSmartTable(*reading);
    }
    if (!identified && !read) {
        Fail(DriveName(*d, line.Drive) + " does not answer; " + DrivesThatAnswer() + " (see --list)");
        SayWhyDrivesDidNotAnswer(*d);
    } else if (outcome == TSmartOutcome::CannotOpen) {
        Fail("drive " + line.Drive + " cannot be opened");
    } else if (outcome == TSmartOutcome::Refused) {
        Fail("drive " + line.Drive + " refused a SMART request");
    }
    SayReports(line.Json);
    return OutputWritten(Demo) ? SmartStatus(*reading) : ExitError;
}

}  // namespace cli
