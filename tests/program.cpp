#include "program.h"

#include <stdexcept>
#include <variant>

headless::TOptions WithDrives(std::string scenario, headless::TOptions options) {
    options.Prepare = [scenario, earlier = options.Prepare] {
        const sim::TScenarioResult parsed = sim::ParseScenario(scenario, "test scenario");
        if (const auto* error = std::get_if<sim::TScenarioError>(&parsed)) throw std::invalid_argument(error->Text());
        sim::InstallScenario(std::get<sim::TScenario>(parsed));
        sim::SetRecording(true);
        if (earlier) earlier();
    };
    return options;
}

TProgram::TProgram(std::string scenario, headless::TOptions options)
    : H(WithDrives(std::move(scenario), std::move(options))) {
    EXPECT_TRUE(H.RunUntilIdle());
}

std::string OneDrive(std::int64_t sectors, std::string_view extra) {
    return "[drive 0]\nmodel = TEST DISK\nserial = T0001\nfirmware = 1.0\ncache_kb = 8192\nsectors = " +
           std::to_string(sectors) + "\n" + std::string(extra) + "\n";
}

TAtMenu::TAtMenu(std::string scenario, headless::TOptions options) : TProgram(std::move(scenario), std::move(options)) {
    H.SendText("1");
    H.Send(Key::Enter);
}
