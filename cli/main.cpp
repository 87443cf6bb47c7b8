// elq770ctl: reads, saves, loads, sets and monitors an ELQ770 from scripts,
// over the same link, parser, parameter record and file format as the
// window program. Each subcommand lives in cli/commands/ with its options
// and its run function, one row of the command table; this file only wires
// the table to the command line.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands/command_table.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "elq_version.h"

namespace {

// Parses the command line and runs its subcommand; the exit code.
int runTool(int argc, char** argv) {
    int exitCode = EXIT_DONE;
    const std::string exitCodes = exitCodesText();
    CLI::App app{"elq770ctl: read, save, load, set, monitor and publish an ELQ770 over its serial port"};
    app.footer(publishAvailability() + exitCodes);
    app.set_version_flag("--version", std::string("elq770ctl ") + ELQ_VERSION_TEXT, "print the version and exit");
    app.require_subcommand(1);
    app.failure_message(usageErrorText);
    addCommands(app, exitCodes, &exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int code = app.exit(error);
        return code == 0 ? EXIT_DONE : EXIT_USAGE;
    }
    return exitCode;
}

}  // namespace

// Every way out of runTool comes back here, so the console gets its code
// page back before a close event lets Windows end the process.
int main(int argc, char** argv) {
    prepareConsole();
    std::vector<std::string> arguments;
    int exitCode = EXIT_USAGE;
    if (commandLineArguments(argc, argv, &arguments)) {
        std::vector<char*> utf8Argv;
        for (std::string& argument : arguments) utf8Argv.push_back(argument.data());
        utf8Argv.push_back(nullptr);
        exitCode = runTool(static_cast<int>(arguments.size()), utf8Argv.data());
    } else {
        report("the command line is not valid Unicode");
    }
    restoreConsole();
    stopRequestsHandled();
    return exitCode;
}
