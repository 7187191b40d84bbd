// --metrics FILE: every drive's identity, capacity and SMART health in Prometheus's text format,
// for node_exporter's textfile collector.
// Thread: main.
#pragma once

#include "cli/command_line.h"

namespace cli {

// Reads every drive and writes the metrics to standard output (`-`) or replaces the file whole;
// with --reports DIR also each drive's latest scan found in DIR and its status by its history.
// 0, or 2 when they could not be written.
int WriteMetrics(const TCommandLine& line, bool demo);

}  // namespace cli
