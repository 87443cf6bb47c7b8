// elq770ctl show: decodes a parameter file without a device.
#include "cli/commands/command_table.h"

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/device/parameter_text.h"

namespace {

struct ShowOptions {
    std::string file;
    bool json = false;
    std::string language = "en";
};

// What the command line gave; a run of the tool runs one subcommand once.
ShowOptions parsed;

void setupShow(CLI::App* command) {
    command->add_option("FILE", parsed.file, "parameter file to read")->required();
    command->add_flag("--json", parsed.json, "print JSON (the record's names and numbers)");
    addLanguageOption(command, &parsed.language);
}

int runShow(const ShowOptions& options) {
    ParameterSet record{};
    int result = readCheckedFile(options.file, &record);
    if (result != EXIT_DONE) return result;
    printRecord(record, options.json, languageOffsetOf(options.language));
    return EXIT_DONE;
}

}  // namespace

const Command SHOW_COMMAND{"show", "decode a parameter file without a device",
                           setupShow, [] { return runShow(parsed); }};
