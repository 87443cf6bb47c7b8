// elq770ctl set: changes named parameters and confirms them.
#include "cli/commands/command_table.h"

#include <cstdio>

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/console/report.h"
#include "cli/device/parameter_text.h"
#include "link/command_frames.h"
#include "link/serial_link.h"
#include "params/parameter_file.h"
#include "params/parameter_sheet.h"
#include "params/parameter_values.h"

namespace {

struct SetOptions {
    std::string port;
    std::vector<std::string> assignments;  // NAME=VALUE
};

// What the command line gave; a run of the tool runs one subcommand once.
SetOptions parsed;

// Every assignment is checked before the port is opened: one refused value
// sends nothing at all.
bool assignmentsTaken(const std::vector<std::string>& assignments) {
    ParameterSet check{};
    for (const std::string& assignment : assignments) {
        std::string refused = applyAssignment(assignment, &check);
        if (!refused.empty()) {
            report(refused + "; nothing sent");
            return false;
        }
    }
    return true;
}

void reportConfirmed(const ParameterSet& before) {
    for (const ParameterRange& range : PARAMETER_RANGES)
        if (editedParameters.*range.field != before.*range.field)
            std::printf("confirmed: %s %s -> %s\n", range.name, valueText(range.field, before.*range.field).c_str(),
                        valueText(range.field, editedParameters.*range.field).c_str());
}

void setupSet(CLI::App* command) {
    addPortOption(command, &parsed.port);
    command->add_option("NAME=VALUE", parsed.assignments,
                        "limit1Type limit1Setpoint limit1Tr limit1Ts limit1CurrentRange limit2... "
                        "nominalVoltage polarity analogueOutput outputs p1Max autoShutDown; "
                        "Tr and Ts in seconds (12.5 or 12,5)")
        ->required();
}

int runSet(const SetOptions& options) {
    if (!assignmentsTaken(options.assignments)) return EXIT_USAGE;
    int result = readDevice(options.port);
    if (result != EXIT_DONE) return result;
    copyDeviceToEdited();
    for (const std::string& assignment : options.assignments) applyAssignment(assignment, &editedParameters);
    ParameterSet before = snapshotParameters(deviceParameters);
    ParameterWords changed{};
    if (changedParameters(&changed) == 0) {
        closeLink();
        std::printf("nothing to send: the device already holds these values\n");
        return EXIT_DONE;
    }
    queueParameterWords(changed);
    result = downloadAndReport(options.port);
    if (result != EXIT_DONE) return result;
    reportConfirmed(before);
    return EXIT_DONE;
}

}  // namespace

const Command SET_COMMAND{"set", "change named parameters and confirm them",
                          setupSet, [] { return runSet(parsed); }};
