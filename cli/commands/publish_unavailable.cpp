// elq770ctl publish where the build has no MQTT gateway (ELQ_WITH_MQTT off:
// the Windows build, or no libmosquitto). The name stays known, so that a
// script written for Linux is told why it fails rather than that no
// subcommand was given.
#include "cli/commands/command_table.h"

#include <cstdio>

#include "cli/console/exit_codes.h"
#include "cli/console/report.h"

namespace {

void setupPublish(CLI::App* command) { command->allow_extras(); }

int runPublish() {
    report("publish is Linux only: the MQTT gateway is not in the Windows build");
    return EXIT_USAGE;
}

}  // namespace

const Command PUBLISH_COMMAND{"publish", "the MQTT gateway: Linux only, not in this build", setupPublish, runPublish};

std::string publishAvailability() { return "publish (the MQTT gateway): Linux only\n\n"; }
