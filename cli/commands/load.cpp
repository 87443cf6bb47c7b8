// elq770ctl load: downloads a parameter file and confirms it.
#include "cli/commands/command_table.h"

#include <cstdio>

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/device/device_session.h"
#include "cli/device/parameter_text.h"
#include "link/command_frames.h"
#include "params/parameter_values.h"

namespace {

struct LoadOptions {
    std::string port;
    std::string file;
};

// What the command line gave; a run of the tool runs one subcommand once.
LoadOptions parsed;

void setupLoad(CLI::App* command) {
    addPortOption(command, &parsed.port);
    command->add_option("FILE", parsed.file, "parameter file to download")->required();
}

// As the window program loads a file: its sixteen values are the expected
// values, and they go out in code order from the file's own record. The
// device's copy is left to the device, so only its read-back confirms.
int runLoad(const LoadOptions& options) {
    ParameterSet record{};
    int result = readCheckedFile(options.file, &record);
    if (result != EXIT_DONE) return result;
    if (!openDevicePort(options.port)) return EXIT_PORT_NOT_OPENED;
    queueLoadedRecord(record);
    result = downloadAndReport(options.port);
    if (result != EXIT_DONE) return result;
    std::printf("confirmed: the device holds the %d parameters of %s\n", PARAMETER_COUNT, options.file.c_str());
    for (const ParameterRange& p : PARAMETER_RANGES)
        std::printf("  %-19s %s\n", p.name, valueText(p.field, editedParameters.*p.field).c_str());
    return EXIT_DONE;
}

}  // namespace

const Command LOAD_COMMAND{"load", "download a parameter file and confirm it",
                           setupLoad, [] { return runLoad(parsed); }};
