// elq770ctl set: changes named parameters and confirms them.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

struct SetOptions {
    std::string port;
    std::vector<std::string> assignments;  // NAME=VALUE
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupSet(CLI::App& app, int* exitCode);
int runSet(const SetOptions& options);
