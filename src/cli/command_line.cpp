// The command line of both programs (cli/command_line.h): the options read and checked, then the
// interactive program or one unattended task run.
// Thread: main.
#include "cli/command_line.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/main.h"
#include "cli/metrics.h"
#include "cli/unattended.h"
#include "platform/platform.h"
#include "report/documents.h"
#include "report/report.h"

namespace cli {
namespace {

// PROGRAM, FILE, DEMO, DEVICE and PAGE stand for what differs between the two programs.
constexpr std::string_view UsageText =
    "usage: PROGRAM [--reports DIR]FILE\n"
    "       PROGRAM --list [--json]FILE\n"
    "       PROGRAM --scan DRIVE [--first-lba N] [--last-lba N] [--no-recheck] [--reports DIR]FILE\n"
    "       PROGRAM --smart DRIVE [--json] [--reports DIR]FILE\n"
    "       PROGRAM --metrics PATHFILE\n"
    "       PROGRAM --history DIR [--json] [--reports OUT]\n"
    "       PROGRAM --help | --version\n"
    "\n"
    "A keyboard-driven hard-disk diagnostic on an 80 x 25 terminal (Russian screens): surface scan,\n"
    "SMART table, spindle stop and spin-up. It never writes to a drive.DEMO\n"
    "\n"
    "  --reports DIR   after every surface scan and SMART reading, write what it found into DIR\n"
    "                  (created when missing): JSON, the damaged blocks, a picture of the surface,\n"
    "                  a GNU ddrescue mapfile\n"
    "  --list          list the drives: number, device, model, serial, size in MB\n"
    "  --json          --list and --smart in JSON\n"
    "  --scan DRIVE    scan DRIVE (a number from --listDEVICE) without the 80 x 25 screen;\n"
    "                  exit 0 healthy, 1 slow blocks, 3 damaged blocks, 2 error, 130 stopped\n"
    "  --first-lba N   the first sector the scan reads (default 0)\n"
    "  --last-lba N    the last sector the scan reads (default the drive's last)\n"
    "  --no-recheck    read slow blocks once, without the second read after 3 s\n"
    "  --smart DRIVE   print DRIVE's SMART attributes as the table shows them, values whole;\n"
    "                  exit 0 ok, 1 warning, 3 failing, 2 error\n"
    "  --metrics PATH  write every drive's identity, capacity and SMART health as Prometheus\n"
    "                  metrics into PATH, replacing it whole (- for standard output)\n"
    "  --history DIR   read the reports in DIR and its subfolders back: per drive its readings and\n"
    "                  whether it got worse; --reports OUT adds a trend picture per drive;\n"
    "                  exit 0 ok, 1 warning, 3 failing, 2 no report or an error\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Manual: man PROGRAM (source tree: man -l man/PAGE)\n";

class TParser {
public:
    TParser(std::span<char* const> args, bool demo) : args_(args), demo_(demo) {}

    std::optional<TCommandLine> Run(int& status) {
        status = 2;
        bool options = true;
        for (next_ = 0; next_ < args_.size();) {
            const std::string_view arg = args_[next_++];
            if (options && arg == "--") {
                options = false;
            } else if (options && arg.size() > 1 && arg[0] == '-') {
                const std::size_t eq = arg.find('=');
                name_ = arg.substr(0, eq);
                inline_ = eq == std::string_view::npos ? std::nullopt : std::optional(arg.substr(eq + 1));
                const std::optional<bool> done = Option();
                if (!done) return std::nullopt;
                if (*done) {
                    status = OutputWritten(demo_) ? 0 : 2;
                    return std::nullopt;
                }
            } else if (demo_ && !line_.File) {
                line_.File = std::string(arg);
            } else {
                Mistake("unexpected argument " + std::string(arg));
                return std::nullopt;
            }
        }
        if (!Consistent()) return std::nullopt;
        status = 0;
        return line_;
    }

private:
    // One option; true when it was --help or --version, nothing after a mistake.
    std::optional<bool> Option() {
        if (name_ == "--help" || name_ == "-h") return Flag() ? std::optional(Help()) : std::nullopt;
        if (name_ == "--version") return Flag() ? std::optional(Version()) : std::nullopt;
        if (name_ == "--list") return Flag() && SetTask(TTask::List) ? std::optional(false) : std::nullopt;
        if (name_ == "--json") return Flag() && Set(line_.Json, true) ? std::optional(false) : std::nullopt;
        if (name_ == "--no-recheck") return Flag() && Set(line_.Recheck, false) ? std::optional(false) : std::nullopt;
        if (name_ == "--scan" || name_ == "--smart") {
            const std::optional<std::string_view> drive = Value();
            if (!drive || !SetTask(name_ == "--scan" ? TTask::Scan : TTask::Smart)) return std::nullopt;
            line_.Drive = *drive;
            return false;
        }
        if (name_ == "--history") {
            const std::optional<std::string_view> folder = Value();
            if (!folder || !SetTask(TTask::History)) return std::nullopt;
            line_.HistoryFolder = *folder;
            return false;
        }
        if (name_ == "--first-lba" || name_ == "--last-lba") {
            std::optional<std::int64_t>& lba = name_ == "--first-lba" ? line_.FirstLba : line_.LastLba;
            const std::optional<std::string_view> text = Value();
            if (!text || !Once(lba.has_value())) return std::nullopt;
            std::int64_t value = 0;
            const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
            if (error != std::errc() || end != text->data() + text->size() || value < 0) {
                Mistake("bad value '" + std::string(*text) + "' for " + std::string(name_) +
                        ": a sector number, 0 or more");
                return std::nullopt;
            }
            lba = value;
            return false;
        }
        if (name_ == "--metrics") {
            const std::optional<std::string_view> file = Value();
            if (!file || !SetTask(TTask::Metrics)) return std::nullopt;
            line_.MetricsFile = *file;
            return false;
        }
        if (name_ == "--reports") {
            const std::optional<std::string_view> folder = Value();
            if (!folder || !Once(!line_.ReportsFolder.empty())) return std::nullopt;
            line_.ReportsFolder = *folder;
            return false;
        }
        Mistake("unknown option " + std::string(name_));
        return std::nullopt;
    }

    bool Flag() {
        if (!inline_) return true;
        Mistake("option " + std::string(name_) + " takes no value");
        return false;
    }

    // The option's value: after "=", or the next argument.
    std::optional<std::string_view> Value() {
        std::optional<std::string_view> value = inline_;
        if (!value && next_ < args_.size()) value = args_[next_++];
        if (!value || value->empty()) {
            Mistake("option " + std::string(name_) + " needs a value");
            return std::nullopt;
        }
        return value;
    }

    bool Once(bool given) {
        if (given) Mistake("option " + std::string(name_) + " given twice");
        return !given;
    }

    bool Set(bool& flag, bool value) {
        flag = value;
        return true;
    }

    bool SetTask(TTask task) {
        if (line_.Task != TTask::Interactive) {
            Mistake("--list, --scan, --smart, --metrics and --history go one at a time");
            return false;
        }
        line_.Task = task;
        return true;
    }

    // Options that belong to another task than the one asked for.
    bool Consistent() {
        const TTask task = line_.Task;
        if ((line_.FirstLba || line_.LastLba || !line_.Recheck) && task != TTask::Scan)
            return Mistake("--first-lba, --last-lba and --no-recheck go with --scan");
        if (line_.Json && task != TTask::List && task != TTask::Smart && task != TTask::History)
            return Mistake("--json goes with --list, --smart or --history");
        if (!line_.ReportsFolder.empty() && task == TTask::List) return Mistake("--reports does not go with --list");
        if (line_.FirstLba && line_.LastLba && *line_.FirstLba > *line_.LastLba)
            return Mistake("--first-lba is above --last-lba");
        return true;
    }

    bool Help() {
        std::string text(UsageText);
        const auto replace = [&](std::string_view what, std::string_view with) {
            for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
                text.replace(at, what.size(), with);
        };
        replace("PROGRAM", ProgramName(demo_));
        replace("FILE", demo_ ? " [SCENARIO-FILE]" : "");
        replace("DEMO", demo_ ? "\nThe demo works on simulated drives: the built-in scenario, or the one of a\n"
                                "SCENARIO-FILE, which every form takes."
                              : "");
        replace("DEVICE", demo_ ? "" : ", or a device path");
        replace("PAGE", demo_ ? "platenhawk-demo.1" : "platenhawk.8");
        plat::IgnoreClosedPipes();
        std::fputs(text.c_str(), stdout);
        return true;
    }

    bool Version() {
        plat::IgnoreClosedPipes();
        std::printf("%s %s\n", ProgramName(demo_).data(), report::ProgramVersion().data());
        return true;
    }

    bool Mistake(const std::string& what) {
        std::fprintf(stderr, "%s: %s (try --help)\n", ProgramName(demo_).data(), what.c_str());
        return false;
    }

    std::span<char* const> args_;
    bool demo_;
    std::size_t next_ = 0;
    std::string_view name_;
    std::optional<std::string_view> inline_;
    TCommandLine line_;
};

}  // namespace

std::string_view ProgramName(bool demo) { return demo ? "platenhawk-demo" : "platenhawk"; }

bool OutputWritten(bool demo) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "%s: the output could not be written: %s\n", ProgramName(demo).data(),
                 errno ? std::strerror(errno) : "a write failed");
    return false;
}

std::optional<TCommandLine> ParseCommandLine(std::span<char* const> args, bool demo, int& status) {
    return TParser(args, demo).Run(status);
}

int RunProgram(const TCommandLine& line, bool demo) {
    plat::SetProgramName(ProgramName(demo));
    if (line.Task != TTask::Interactive) plat::IgnoreClosedPipes();
    // --metrics reads the reports of the folder; the other tasks write theirs into it.
    const std::string reports = line.Task == TTask::Metrics ? std::string() : line.ReportsFolder;
    if (const std::string why = report::EnableReports(reports); !why.empty()) {
        std::fprintf(stderr, "%s: the reports folder %s cannot be used: %s\n", ProgramName(demo).data(),
                     line.ReportsFolder.c_str(), why.c_str());
        return 2;
    }
    switch (line.Task) {
        case TTask::List:
            return ListDrivesUnattended(line, demo);
        case TTask::Scan:
            return ScanUnattended(line, demo);
        case TTask::Smart:
            return SmartUnattended(line, demo);
        case TTask::Metrics:
            return WriteMetrics(line, demo);
        case TTask::History:
            return HistoryUnattended(line, demo);
        default:
            Main();
    }
}

}  // namespace cli
