// elq770ctl monitor: logs every measurement until Ctrl-C. Its options are
// the monitor's own (cli/monitor.h).
#pragma once

#include <CLI/CLI.hpp>

#include "cli/monitor.h"

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupMonitor(CLI::App& app, int* exitCode);
int runMonitorCommand(const MonitorOptions& options);
