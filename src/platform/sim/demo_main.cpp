// platenhawk-demo: the program on simulated drives, described by a scenario file or by the
// built-in scenario.
// Thread: main.
#include <cstdio>
#include <variant>

#include "cli/command_line.h"
#include "platform/platform.h"
#include "platform/sim/scenario.h"

int main(int argc, char** argv) {
    plat::OpenStandardStreams();
    int status = 0;
    const auto line =
        cli::ParseCommandLine(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)), true, status);
    if (!line) return status;
    const sim::TScenarioResult scenario = line->File ? sim::LoadScenarioFile(*line->File)
                                                     : sim::ParseScenario(sim::BuiltinScenario(), "built-in scenario");
    if (const auto* error = std::get_if<sim::TScenarioError>(&scenario)) {
        std::fprintf(stderr, "%s\n", error->Text().c_str());
        return 2;
    }
    sim::InstallScenario(std::get<sim::TScenario>(scenario));
    return cli::RunProgram(*line, true);
}
