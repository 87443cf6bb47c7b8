// elq770ctl monitor: logs every measurement until Ctrl-C. Its options are
// the monitor's own (cli/monitor/monitor_engine.h).
#include "cli/commands/command_table.h"

#include "cli/commands/command_support.h"
#include "cli/console/run_frame.h"
#include "cli/monitor/monitor_engine.h"

namespace {

// What the command line gave; a run of the tool runs one subcommand once.
MonitorOptions parsed;

void setupMonitor(CLI::App* command) {
    CLI::Option* port = command->add_option("--port,-p", parsed.port, "serial port: /dev/ttyUSB0, COM3, ...");
    CLI::Option* from =
        command->add_option("--from", parsed.fromPath, "read a recording of the line instead of the port");
    port->excludes(from);
    command->add_option("--csv", parsed.csvPath, "also write the rows to this CSV file");
    command->add_option("--duration", parsed.durationSeconds, "stop after this many seconds")
        ->check(finiteRange(0, MOST_DURATION_SECONDS))
        ->excludes(from);
}

// A run from the port takes Ctrl-C (and on Windows Ctrl-Break and the
// console's close) as its normal end, as record and publish do; a run from a
// recording, like the short subcommands, is ended by it at once, as any
// console program is.
int runMonitorCommand(const MonitorOptions& options) {
    if (options.port.empty() && options.fromPath.empty()) throw CLI::RequiredError("--port or --from");
    if (options.fromPath.empty()) catchRunStops();
    return runMonitor(options);
}

}  // namespace

const Command MONITOR_COMMAND{"monitor", "log every measurement until Ctrl-C, or those of a recording",
                              setupMonitor, [] { return runMonitorCommand(parsed); }};
