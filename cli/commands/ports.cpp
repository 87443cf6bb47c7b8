#include "cli/commands/ports.h"

#include <cstdio>
#include <memory>

#include "cli/commands/command_support.h"
#include "cli/device_session.h"
#include "cli/exit_codes.h"
#include "cli/parameter_text.h"
#include "cli/platform.h"
#include "link/command_frames.h"
#include "link/serial_link.h"
#include "params/parameter_file.h"

namespace {

// One line for the port: its device's text, "-" when none answers, or why
// it would not open.
void scanPort(const std::string& name) {
    forgetDevice();
    if (!openLinkByName(name.c_str(), BAUD_RATE)) {
        std::printf("%-16s (cannot open: %s)\n", name.c_str(), systemErrorText(lastSystemError()).c_str());
        return;
    }
    bool answered = requestParameters() != 0;
    ParameterSet device = snapshotParameters(deviceParameters);
    closeLink();
    std::printf("%-16s %s\n", name.c_str(),
                answered ? utf8FromCp1252(device.deviceText, sizeof device.deviceText).c_str() : "-");
    std::fflush(stdout);  // two seconds a port: show each as it is done
}

}  // namespace

CLI::App* setupPorts(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<PortsOptions>();
    CLI::App* command = app.add_subcommand("ports", "list the serial ports, or scan them for devices");
    command->add_flag("--scan", options->scan, "ask each port for a device's identification (2 s each)");
    command->add_option("PORT", options->ports, "the ports to list or scan instead of every port found")
        ->check(portNameCheck());
    command->callback([options, exitCode] { *exitCode = runPorts(*options); });
    return command;
}

int runPorts(const PortsOptions& options) {
    std::vector<std::string> names = options.ports.empty() ? listSerialPorts() : options.ports;
    if (names.empty()) std::fprintf(stderr, "elq770ctl: no serial ports found\n");
    for (const std::string& name : names) {
        if (options.scan)
            scanPort(name);
        else
            std::printf("%s\n", name.c_str());
    }
    return EXIT_DONE;
}
