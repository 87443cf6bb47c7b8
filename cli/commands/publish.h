// elq770ctl publish: the MQTT gateway (cli/publish.h). Linux only: the
// Windows tool has no such subcommand and its help says so.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

// Adds the subcommand to app where the platform has it (POSIX); nullptr
// elsewhere. When it runs, *exitCode takes its result.
CLI::App* setupPublish(CLI::App& app, int* exitCode);

// "" where publish exists; elsewhere one line saying where it does, for the
// foot of the tool's help.
std::string publishAvailability();
