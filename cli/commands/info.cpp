// elq770ctl info: the device's text, active limit and parameters.
#include "cli/commands/command_table.h"

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/device/parameter_text.h"

namespace {

struct InfoOptions {
    std::string port;
    bool json = false;
    std::string language = "en";
};

// What the command line gave; a run of the tool runs one subcommand once.
InfoOptions parsed;

void setupInfo(CLI::App* command) {
    addPortOption(command, &parsed.port);
    command->add_flag("--json", parsed.json, "print JSON (the record's names and numbers)");
    addLanguageOption(command, &parsed.language);
}

int runInfo(const InfoOptions& options) {
    ParameterSet device{};
    int result = readDeviceRecord(options.port, &device);
    if (result != EXIT_DONE) return result;
    printRecord(device, options.json, languageOffsetOf(options.language));
    return EXIT_DONE;
}

}  // namespace

const Command INFO_COMMAND{"info", "show the device's text, active limit and parameters",
                           setupInfo, [] { return runInfo(parsed); }};
