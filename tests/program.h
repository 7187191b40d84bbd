// Running the program headless on simulated drives.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/headless/harness.h"
#include "platform/sim/scenario.h"

using headless::Key;

// The options of a harness whose simulated drives are described by `scenario`; what `options`
// prepares runs after the drives are installed.
headless::TOptions WithDrives(std::string scenario, headless::TOptions options = {});

// A harness on `scenario`, run until the program first waits for a key.
struct TProgram {
    explicit TProgram(std::string scenario, headless::TOptions options = {});
    headless::Harness H;
};

// A one-drive scenario of `sectors` sectors with extra lines for its section.
std::string OneDrive(std::int64_t sectors, std::string_view extra = {});

// Starts on `scenario`, chooses drive 1 and waits at the main menu.
struct TAtMenu : TProgram {
    explicit TAtMenu(std::string scenario, headless::TOptions options = {});
};

// The console and keyboard without the program: the test calls the program's procedures itself.
struct TWithoutProgram : ::testing::Test {
    TWithoutProgram() : harness(NoProgram()) {}
    headless::Harness& H() { return harness; }
    static headless::TOptions NoProgram() {
        headless::TOptions options;
        options.StartProgram = false;
        return options;
    }
    headless::Harness harness;
};
