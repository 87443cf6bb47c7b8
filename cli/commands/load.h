// elq770ctl load: downloads a parameter file and confirms it.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct LoadOptions {
    std::string port;
    std::string file;
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupLoad(CLI::App& app, int* exitCode);
int runLoad(const LoadOptions& options);
