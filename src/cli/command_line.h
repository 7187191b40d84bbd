// The command line of both programs. Without arguments the interactive program runs exactly as it
// always did; options add to it (reports).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct TCommandLine {
    std::string ReportsFolder;        // --reports DIR; empty: no reports
    std::optional<std::string> File;  // the demo's scenario file
};

// Reads the arguments after the program's name. On --help, or on a mistake (one line naming it on
// standard error), it says what there is to say and gives nothing, with `status` set to the exit
// status: 0 after --help, 2 after a mistake.
std::optional<TCommandLine> ParseCommandLine(std::span<char* const> args, bool demo, int& status);

// Runs the program as the command line asks; returns only if the program ends by returning.
int RunProgram(const TCommandLine& line);

}  // namespace cli
