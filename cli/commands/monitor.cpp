#include "cli/commands/monitor.h"

#include <memory>

#include "cli/commands/command_support.h"
#include "cli/platform.h"

CLI::App* setupMonitor(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<MonitorOptions>();
    CLI::App* command = app.add_subcommand("monitor", "log every measurement until Ctrl-C, or those of a recording");
    CLI::Option* port = command->add_option("--port,-p", options->port, "serial port: /dev/ttyUSB0, COM3, ...");
    CLI::Option* from =
        command->add_option("--from", options->fromPath, "read a recording of the line instead of the port");
    port->excludes(from);
    command->add_option("--csv", options->csvPath, "also write the rows to this CSV file");
    command->add_option("--duration", options->durationSeconds, "stop after this many seconds")
        ->check(finiteRange(0, MOST_DURATION_SECONDS))
        ->excludes(from);
    command->callback([options, exitCode] {
        if (options->port.empty() && options->fromPath.empty())
            throw CLI::RequiredError("--port or --from");
        *exitCode = runMonitorCommand(*options);
    });
    return command;
}

// Only monitor takes Ctrl-C (and on Windows Ctrl-Break and the console's
// close) as its normal end; elsewhere it ends the tool at once, as it would
// any console program.
int runMonitorCommand(const MonitorOptions& options) {
    if (!options.fromPath.empty()) return runMonitor(options);
    catchStopRequests(&monitorStopRequested);
    return runMonitor(options);
}
