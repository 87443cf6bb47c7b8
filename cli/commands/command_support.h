// What several subcommands share: their common options, reading the device
// or a parameter file with the tool's reports on stderr, and the download
// with its confirmation. Main thread only, like device_session.h.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "params/parameter_set.h"

// The check of every number option of the tool: a finite number from
// minimum to maximum. NaN and the infinities are refused (a range check
// alone lets NaN through, since every comparison with it is false), and so
// is anything outside; the option's exit code is then EXIT_USAGE.
CLI::Validator finiteRange(double minimum, double maximum);

// A run's --duration in seconds: 0 (until stopped) to a year.
constexpr double MOST_DURATION_SECONDS = 366.0 * 24 * 3600;

// The check of every port name the tool takes (link/port_name.h); a
// malformed one is EXIT_USAGE with what is wrong.
CLI::Validator portNameCheck();

// --port (required) and --lang (en, de or da) into the subcommand's options.
void addPortOption(CLI::App* command, std::string* port);
void addLanguageOption(CLI::App* command, std::string* language);

// The record as JSON or as the labelled table in the language languageOffset.
void printRecord(const ParameterSet& record, bool json, int languageOffset);

// Opens the port and reads the device's parameters, the link left open; an
// exit code.
int readDevice(const std::string& port);

// The device's record, read with the link closed again afterwards; an exit
// code.
int readDeviceRecord(const std::string& port, ParameterSet* device);

// Reads a parameter file as the window program checks it; EXIT_DONE, or
// EXIT_FILE_REFUSED with the reason on stderr.
int readCheckedFile(const std::string& path, ParameterSet* record);

// Sends the queued words, confirms them and reports; the link is closed.
int downloadAndReport(const std::string& port);
