// The tool's subcommands, one row each: a new subcommand is one file in
// cli/commands/ and one row in command_table.cpp. Main thread only.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct Command {
    const char* name;
    const char* help;
    // Adds the subcommand's options; they fill the command's own record.
    void (*setup)(CLI::App* command);
    // Runs with the options the command line gave; an exit code.
    int (*run)();
};

// Each defined in its own file.
extern const Command PORTS_COMMAND, INFO_COMMAND, SAVE_COMMAND, LOAD_COMMAND, SET_COMMAND, SHOW_COMMAND,
    MONITOR_COMMAND, RECORD_COMMAND, DECODE_COMMAND, PUBLISH_COMMAND;

// Adds every subcommand, in the order of the tool's help, each with footer;
// the one that runs leaves its exit code in *exitCode.
void addCommands(CLI::App& app, const std::string& footer, int* exitCode);

// "" where publish exists; elsewhere one line saying where it does, for the
// foot of the tool's help.
std::string publishAvailability();
