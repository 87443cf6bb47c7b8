// elq770ctl ports: lists the serial ports, or asks each for a device.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

struct PortsOptions {
    bool scan = false;
    std::vector<std::string> ports;  // empty: every port found
};

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupPorts(CLI::App& app, int* exitCode);
int runPorts(const PortsOptions& options);
