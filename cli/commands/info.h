// elq770ctl info: the device's text, active limit and parameters.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct InfoOptions {
    std::string port;
    bool json = false;
    std::string language = "en";
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupInfo(CLI::App& app, int* exitCode);
int runInfo(const InfoOptions& options);
