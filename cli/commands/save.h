// elq770ctl save: the device's parameters into a 76-byte parameter file.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct SaveOptions {
    std::string port;
    std::string file;
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupSave(CLI::App& app, int* exitCode);
int runSave(const SaveOptions& options);
