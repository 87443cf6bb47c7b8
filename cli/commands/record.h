// elq770ctl record: records the serial line into a file until Ctrl-C. Its
// options are the recorder's own (cli/record.h).
#pragma once

#include <CLI/CLI.hpp>

#include "cli/record.h"

// Adds the subcommand to app; when it runs, *exitCode takes its result.
CLI::App* setupRecord(CLI::App& app, int* exitCode);
int runRecordCommand(const RecordOptions& options);
