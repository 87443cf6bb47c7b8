// elq770ctl show: decodes a parameter file without a device.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct ShowOptions {
    std::string file;
    bool json = false;
    std::string language = "en";
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupShow(CLI::App& app, int* exitCode);
int runShow(const ShowOptions& options);
