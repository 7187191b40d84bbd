// The command line of both programs. Without arguments the interactive program runs exactly as it
// always did; options add to it (reports) or run one task unattended and end (--list, --scan,
// --smart, --history).
// Thread: main.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cli {

enum class TTask { Interactive, List, Scan, Smart, Metrics, History };

struct TCommandLine {
    TTask Task = TTask::Interactive;
    std::string Drive;  // of --scan and --smart: a number from the list, or a device path
    std::optional<std::int64_t> FirstLba;
    std::optional<std::int64_t> LastLba;
    bool Recheck = true;
    bool Json = false;
    std::string ReportsFolder;        // --reports DIR; empty: no reports
    std::string MetricsFile;          // --metrics FILE; "-" for the standard output
    std::string HistoryFolder;        // --history DIR
    std::optional<std::string> File;  // the demo's scenario file
};

// The program's name in messages: platenhawk or platenhawk-demo.
std::string_view ProgramName(bool demo);

// Flushes the standard output; false, after a line on the standard error, when some of what was
// written to it was lost (a full disk, a pipe closed by its reader).
bool OutputWritten(bool demo);

// Reads the arguments after the program's name. After --help or --version (said on standard
// output), or on a mistake (one line naming it on standard error), it gives nothing and sets
// `status` to the exit status: 0, or 2 for a mistake.
std::optional<TCommandLine> ParseCommandLine(std::span<char* const> args, bool demo, int& status);

// Runs what the command line asks for; the interactive program never returns.
int RunProgram(const TCommandLine& line, bool demo);

}  // namespace cli
