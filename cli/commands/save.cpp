#include "cli/commands/save.h"

#include <cstdio>
#include <memory>

#include "cli/commands/command_support.h"
#include "cli/exit_codes.h"
#include "cli/parameter_text.h"
#include "cli/platform.h"
#include "params/parameter_file.h"
#include "params/result_codes.h"

CLI::App* setupSave(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<SaveOptions>();
    CLI::App* command = app.add_subcommand("save", "read the parameters into a 76-byte parameter file");
    addPortOption(command, &options->port);
    command->add_option("FILE", options->file, "parameter file to write")->required();
    command->callback([options, exitCode] { *exitCode = runSave(*options); });
    return command;
}

int runSave(const SaveOptions& options) {
    ParameterSet device{};
    int result = readDeviceRecord(options.port, &device);
    if (result != EXIT_DONE) return result;
    result = writeParameterFile(options.file.c_str(), device);
    if (result != 0) {
        fail(options.file, "cannot write file: " + (result == ERR_SHORT_TRANSFER ? std::string("short write")
                                                                                  : systemErrorText(result)));
        return EXIT_FILE_REFUSED;
    }
    std::printf("saved the parameters of %s to %s\n",
                utf8FromCp1252(device.deviceText, sizeof device.deviceText).c_str(), options.file.c_str());
    return EXIT_DONE;
}
