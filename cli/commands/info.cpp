#include "cli/commands/info.h"

#include <memory>

#include "cli/commands/command_support.h"
#include "cli/exit_codes.h"
#include "cli/parameter_text.h"

CLI::App* setupInfo(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = app.add_subcommand("info", "show the device's text, active limit and parameters");
    addPortOption(command, &options->port);
    command->add_flag("--json", options->json, "print JSON (the record's names and numbers)");
    addLanguageOption(command, &options->language);
    command->callback([options, exitCode] { *exitCode = runInfo(*options); });
    return command;
}

int runInfo(const InfoOptions& options) {
    ParameterSet device{};
    int result = readDeviceRecord(options.port, &device);
    if (result != EXIT_DONE) return result;
    printRecord(device, options.json, languageOffsetOf(options.language));
    return EXIT_DONE;
}
