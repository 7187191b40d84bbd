// platenhawk-demo: the program on simulated drives, described by a scenario file or by the
// built-in scenario.
#include <cstdio>
#include <cstring>
#include <variant>

#include "app/main.h"
#include "platform/sim/scenario.h"

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
        std::fprintf(argc > 2 ? stderr : stdout, "usage: platenhawk-demo [SCENARIO-FILE]\n");
        return argc > 2 ? 2 : 0;
    }
    const sim::TScenarioResult scenario =
        argc == 2 ? sim::LoadScenarioFile(argv[1]) : sim::ParseScenario(sim::BuiltinScenario(), "built-in scenario");
    if (const auto* error = std::get_if<sim::TScenarioError>(&scenario)) {
        std::fprintf(stderr, "%s\n", error->Text().c_str());
        return 2;
    }
    sim::InstallScenario(std::get<sim::TScenario>(scenario));
    Main();
}
