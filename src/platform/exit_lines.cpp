// What the program says for the end of the process, and its name (platform/exit_lines.h).
// Thread: main.
#include "platform/exit_lines.h"

#include <string_view>

#include "platform/platform.h"

namespace plat {
namespace {

std::vector<TExitLine> Said;  // the main thread's
std::string_view Name = "platenhawk";

}  // namespace

void SayAtExit(std::string_view line, bool error) { Said.push_back(TExitLine{std::string(line), error}); }

std::vector<TExitLine> ExitLines() { return Said; }

void ForgetExitLines() { Said.clear(); }

void SetProgramName(std::string_view name) { Name = name; }

std::string_view ProgramName() { return Name; }

}  // namespace plat
