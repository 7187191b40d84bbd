// What the program says for the end of the process (SayAtExit), kept for the backend that writes
// it once the console or terminal is back as it was found. Shared by the backends.
// Thread: main.
#pragma once

#include <string>
#include <vector>

namespace plat {

struct TExitLine {
    std::string Text;
    bool Error;  // for the standard error
};

// The lines said so far, in order.
std::vector<TExitLine> ExitLines();
void ForgetExitLines();

}  // namespace plat
