// The program on a Linux terminal with the machine's block devices.
// Thread: main.
#include "cli/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    plat::OpenStandardStreams();
    int status = 0;
    const auto line =
        cli::ParseCommandLine(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)), false, status);
    return line ? cli::RunProgram(*line, false) : status;
}
