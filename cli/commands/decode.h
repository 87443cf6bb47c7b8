// elq770ctl decode: a recording of the serial line as text, one line per
// packet, with what the program makes of each reply line and command frame.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct DecodeOptions {
    std::string path;
    bool json = false;
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupDecode(CLI::App& app, int* exitCode);
int runDecode(const DecodeOptions& options);
