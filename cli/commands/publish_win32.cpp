#include "cli/commands/publish.h"

#include <cstdio>

#include "cli/exit_codes.h"

// The gateway needs libmosquitto, which the Windows build does not carry.
// The name stays known, so that a script written for Linux is told why it
// fails rather than that no subcommand was given.
CLI::App* setupPublish(CLI::App& app, int* exitCode) {
    CLI::App* command = app.add_subcommand("publish", "the MQTT gateway: Linux only, not in this build");
    command->allow_extras();
    command->callback([exitCode] {
        std::fprintf(stderr, "elq770ctl: publish is Linux only: the MQTT gateway is not in the Windows build\n");
        *exitCode = EXIT_USAGE;
    });
    return command;
}

std::string publishAvailability() { return "publish (the MQTT gateway): Linux only\n\n"; }
