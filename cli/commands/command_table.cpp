#include "cli/commands/command_table.h"

namespace {

// The order of the tool's help.
const Command* const COMMANDS[] = {&PORTS_COMMAND, &INFO_COMMAND,    &SAVE_COMMAND,    &LOAD_COMMAND,
                                   &SET_COMMAND,   &SHOW_COMMAND,    &MONITOR_COMMAND, &RECORD_COMMAND,
                                   &DECODE_COMMAND, &PUBLISH_COMMAND};

// "unknown option --prot" or "unexpected argument 'P'".
std::string strayText(const std::string& word) {
    if (word.size() > 1 && word[0] == '-') return "unknown option " + word.substr(0, word.find('='));
    return "unexpected argument '" + word + "'";
}

// CLI11 says "NAME: reason" for a value its check refused; the tool's
// checks word their reason to follow the name ("--duration must be ...").
std::string refusedValueText(const std::string& what) {
    std::size_t colon = what.find(": must be ");
    if (colon == std::string::npos) return what;
    return what.substr(0, colon) + what.substr(colon + 1);
}

}  // namespace

// A stray word is what went wrong even when CLI11 reports what it left
// missing ("info --prot P" lacks --port because --prot was a typo).
std::string usageErrorText(const CLI::App* app, const CLI::Error& error) {
    std::string chosen;  // the subcommand, where one was given
    std::vector<std::string> stray = app->remaining();
    for (const CLI::App* command : app->get_subcommands()) {
        chosen = command->get_name();
        std::vector<std::string> own = command->remaining();
        stray.insert(stray.begin(), own.begin(), own.end());
    }
    std::string help = chosen.empty() ? "elq770ctl --help" : "elq770ctl " + chosen + " --help";
    std::string text = refusedValueText(error.what());
    if (!stray.empty() && chosen.empty() && stray.front()[0] != '-')
        text = "unknown subcommand '" + stray.front() + "'";
    else if (!stray.empty())
        text = (chosen.empty() ? "" : chosen + ": ") + strayText(stray.front());
    return "elq770ctl: " + text + "\n" + "See " + help + ".\n";
}

void addCommands(CLI::App& app, const std::string& footer, int* exitCode) {
    for (const Command* entry : COMMANDS) {
        CLI::App* command = app.add_subcommand(entry->name, entry->help);
        command->footer(footer);  // a subcommand may put its own lines above it
        entry->setup(command);
        command->callback([entry, exitCode] { *exitCode = entry->run(); });
    }
}
