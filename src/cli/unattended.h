// The unattended tasks of the command line: the drive list, a surface scan and a SMART reading
// without the 80 x 25 screen, for scripts and remote shells. They run the same engine, classes,
// re-check and reports as the interactive program.
// Thread: main.
#pragma once

#include "cli/command_line.h"
#include "history/history.h"

namespace cli {

// Exit statuses of an unattended run.
enum : int {
    ExitHealthy = 0,
    ExitSlow = 1,
    ExitError = 2,  // a mistake in the command line, or a drive that cannot be used
    ExitDamaged = 3,
    ExitStopped = 130,
};

int ListDrivesUnattended(const TCommandLine& line, bool demo);
int ScanUnattended(const TCommandLine& line, bool demo);
int SmartUnattended(const TCommandLine& line, bool demo);
// --history: the drives' readings and trends from the reports of a folder; no drive is touched.
int HistoryUnattended(const TCommandLine& line, bool demo);
// The line on standard error for a file of a reports folder that is not read back.
void SaySkipped(const history::TSkipped& skipped);

}  // namespace cli
