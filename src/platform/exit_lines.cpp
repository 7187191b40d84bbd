#include "platform/exit_lines.h"

#include <string_view>

#include "platform/platform.h"

namespace plat {
namespace {

std::vector<TExitLine> Said;  // the main thread's

}  // namespace

void SayAtExit(std::string_view line, bool error) { Said.push_back(TExitLine{std::string(line), error}); }

std::vector<TExitLine> ExitLines() { return Said; }

void ForgetExitLines() { Said.clear(); }

}  // namespace plat
