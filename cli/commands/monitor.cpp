#include "cli/commands/monitor.h"

#include <memory>

#include "cli/commands/command_support.h"
#include "cli/platform.h"

CLI::App* setupMonitor(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<MonitorOptions>();
    CLI::App* command = app.add_subcommand("monitor", "log every measurement until Ctrl-C");
    addPortOption(command, &options->port);
    command->add_option("--csv", options->csvPath, "also write the rows to this CSV file");
    command->add_option("--duration", options->durationSeconds, "stop after this many seconds")
        ->check(CLI::NonNegativeNumber);
    command->callback([options, exitCode] { *exitCode = runMonitorCommand(*options); });
    return command;
}

// Only monitor takes Ctrl-C (and on Windows Ctrl-Break and the console's
// close) as its normal end; elsewhere it ends the tool at once, as it would
// any console program.
int runMonitorCommand(const MonitorOptions& options) {
    catchStopRequests(&monitorStopRequested);
    return runMonitor(options);
}
