#include "cli/commands/show.h"

#include <memory>

#include "cli/commands/command_support.h"
#include "cli/exit_codes.h"
#include "cli/parameter_text.h"

CLI::App* setupShow(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<ShowOptions>();
    CLI::App* command = app.add_subcommand("show", "decode a parameter file without a device");
    command->add_option("FILE", options->file, "parameter file to read")->required();
    command->add_flag("--json", options->json, "print JSON (the record's names and numbers)");
    addLanguageOption(command, &options->language);
    command->callback([options, exitCode] { *exitCode = runShow(*options); });
    return command;
}

int runShow(const ShowOptions& options) {
    ParameterSet record{};
    int result = readCheckedFile(options.file, &record);
    if (result != EXIT_DONE) return result;
    printRecord(record, options.json, languageOffsetOf(options.language));
    return EXIT_DONE;
}
