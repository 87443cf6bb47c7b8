#include "cli/commands/load.h"

#include <cstdio>
#include <memory>

#include "cli/commands/command_support.h"
#include "cli/device_session.h"
#include "cli/exit_codes.h"
#include "cli/parameter_text.h"
#include "link/command_frames.h"
#include "params/parameter_values.h"

CLI::App* setupLoad(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<LoadOptions>();
    CLI::App* command = app.add_subcommand("load", "download a parameter file and confirm it");
    addPortOption(command, &options->port);
    command->add_option("FILE", options->file, "parameter file to download")->required();
    command->callback([options, exitCode] { *exitCode = runLoad(*options); });
    return command;
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
