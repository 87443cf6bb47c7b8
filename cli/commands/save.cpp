// elq770ctl save: the device's parameters into a 76-byte parameter file.
#include "cli/commands/command_table.h"

#include <cstdio>

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/device/parameter_text.h"
#include "params/parameter_file.h"
#include "params/result_codes.h"

namespace {

struct SaveOptions {
    std::string port;
    std::string file;
};

// What the command line gave; a run of the tool runs one subcommand once.
SaveOptions parsed;

void setupSave(CLI::App* command) {
    addPortOption(command, &parsed.port);
    command->add_option("FILE", parsed.file, "parameter file to write")->required();
}

int runSave(const SaveOptions& options) {
    ParameterSet device{};
    int result = readDeviceRecord(options.port, &device);
    if (result != EXIT_DONE) return result;
    result = writeParameterFile(options.file.c_str(), device);
    if (result != 0) {
        report(options.file, "cannot write file: " + (result == ERR_SHORT_TRANSFER ? std::string("short write")
                                                                                    : systemErrorText(result)));
        return EXIT_FILE_REFUSED;
    }
    std::printf("saved the parameters of %s to %s\n",
                utf8FromCp1252(device.deviceText, sizeof device.deviceText).c_str(), options.file.c_str());
    return EXIT_DONE;
}

}  // namespace

const Command SAVE_COMMAND{"save", "read the parameters into a 76-byte parameter file",
                           setupSave, [] { return runSave(parsed); }};
