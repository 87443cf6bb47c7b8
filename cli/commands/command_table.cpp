#include "cli/commands/command_table.h"

namespace {

// The order of the tool's help.
const Command* const COMMANDS[] = {&PORTS_COMMAND, &INFO_COMMAND,    &SAVE_COMMAND,    &LOAD_COMMAND,
                                   &SET_COMMAND,   &SHOW_COMMAND,    &MONITOR_COMMAND, &RECORD_COMMAND,
                                   &DECODE_COMMAND, &PUBLISH_COMMAND};

}  // namespace

void addCommands(CLI::App& app, const std::string& footer, int* exitCode) {
    for (const Command* entry : COMMANDS) {
        CLI::App* command = app.add_subcommand(entry->name, entry->help);
        entry->setup(command);
        command->footer(footer);
        command->callback([entry, exitCode] { *exitCode = entry->run(); });
    }
}
