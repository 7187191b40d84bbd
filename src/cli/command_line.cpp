#include "cli/command_line.h"

#include <cstdio>

#include "app/main.h"
#include "report/report.h"

namespace cli {
namespace {

constexpr std::string_view Usage =
    "usage: %s [--reports DIR]%s\n"
    "\n"
    "A keyboard-driven hard-disk diagnostic on an 80 x 25 terminal: surface scan, SMART table,\n"
    "spindle stop and spin-up. It never writes to a drive.\n"
    "\n"
    "  --reports DIR  after every surface scan and SMART table, write what it found into DIR\n"
    "                 (created when missing): JSON, the damaged blocks, a picture of the surface\n"
    "  --help         show this text\n";

void Mistake(bool demo, const std::string& what) {
    std::fprintf(stderr, "%s: %s (try --help)\n", demo ? "platenhawk-demo" : "platenhawk", what.c_str());
}

}  // namespace

std::optional<TCommandLine> ParseCommandLine(std::span<char* const> args, bool demo, int& status) {
    TCommandLine line;
    bool options = true;
    status = 2;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            std::printf(Usage.data(), demo ? "platenhawk-demo" : "platenhawk", demo ? " [SCENARIO-FILE]" : "");
            status = 0;
            return std::nullopt;
        } else if (options && (arg == "--reports" || arg.starts_with("--reports="))) {
            const std::size_t eq = arg.find('=');
            if (eq == std::string_view::npos && i + 1 == args.size()) {
                Mistake(demo, "--reports needs a folder");
                return std::nullopt;
            }
            line.ReportsFolder =
                eq == std::string_view::npos ? std::string(args[++i]) : std::string(arg.substr(eq + 1));
            if (line.ReportsFolder.empty()) {
                Mistake(demo, "--reports needs a folder");
                return std::nullopt;
            }
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            Mistake(demo, "unknown option " + std::string(arg));
            return std::nullopt;
        } else if (demo && !line.File) {
            line.File = std::string(arg);
        } else {
            Mistake(demo, "unexpected argument " + std::string(arg));
            return std::nullopt;
        }
    }
    status = 0;
    return line;
}

int RunProgram(const TCommandLine& line) {
    report::EnableReports(line.ReportsFolder);
    Main();
    return 0;
}

}  // namespace cli
