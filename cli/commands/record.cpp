#include "cli/commands/record.h"

#include <memory>

#include "cli/commands/command_support.h"
#include "cli/exit_codes.h"
#include "cli/platform.h"
#include "link/port_name.h"
#include "cli/relay.h"

CLI::App* setupRecord(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* command = app.add_subcommand("record", "record what the device sends into a file until Ctrl-C");
    addPortOption(command, &options->port);
    command->add_option("--out,-o", options->outPath, "the recording to write (a pcap file)")->required();
    CLI::Option* relay = command->add_option("--relay", options->relayPath,
                        "pass the line on to another program through this new pseudo-terminal, recording both "
                        "directions (not on Windows yet)");
    command->add_flag("--force", options->force,
                      "with --relay: replace a symlink there even when it is not a stale pseudo-terminal's "
                      "(never a file, never the port)")
        ->needs(relay);
    command->add_option("--duration", options->durationSeconds, "stop after this many seconds")
        ->check(finiteRange(0, MOST_DURATION_SECONDS));
    command->callback([options, exitCode] { *exitCode = runRecordCommand(*options); });
    return command;
}

// Like monitor, record takes Ctrl-C (and on Windows Ctrl-Break and the
// console's close) as its normal end.
int runRecordCommand(const RecordOptions& options) {
    catchStopRequests(&recordStopRequested);
    if (!options.relayPath.empty()) {
        // The relay passes a tty's bytes to another program's tty; a network
        // port is reached by that program itself.
        if (isNetworkPortName(options.port.c_str())) {
            fail(options.port, "--relay takes a serial port, not a network port");
            return EXIT_USAGE;
        }
        return runRelay(options);
    }
    return runRecord(options);
}
