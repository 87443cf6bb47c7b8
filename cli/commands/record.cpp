// elq770ctl record: records the serial line into a file until Ctrl-C. Its
// options are the recorder's own (cli/recording/recorder.h).
#include "cli/commands/command_table.h"

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/console/report.h"
#include "cli/console/run_frame.h"
#include "cli/recording/recorder.h"
#include "cli/recording/relay.h"
#include "link/port_name.h"

namespace {

// What the command line gave; a run of the tool runs one subcommand once.
RecordOptions parsed;

void setupRecord(CLI::App* command) {
    addPortOption(command, &parsed.port);
    command->add_option("--out,-o", parsed.outPath, "the recording to write (a pcap file)")->required();
    CLI::Option* relay = command->add_option("--relay", parsed.relayPath,
                        "pass the line on to another program through this new pseudo-terminal, recording both "
                        "directions (not on Windows yet)");
    command->add_flag("--force", parsed.force,
                      "with --relay: replace a symlink there even when it is not a stale pseudo-terminal's "
                      "(never a file, never the port)")
        ->needs(relay);
    command->add_option("--duration", parsed.durationSeconds, "stop after this many seconds")
        ->check(finiteRange(0, MOST_DURATION_SECONDS));
}

// Like monitor and publish, record takes Ctrl-C (and on Windows Ctrl-Break
// and the console's close) as its normal end.
int runRecordCommand(const RecordOptions& options) {
    catchRunStops();
    if (!options.relayPath.empty()) {
        // The relay passes a tty's bytes to another program's tty; a network
        // port is reached by that program itself.
        if (isNetworkPortName(options.port.c_str())) {
            report(options.port, "--relay takes a serial port, not a network port");
            return EXIT_USAGE;
        }
        return runRelay(options);
    }
    return runRecord(options);
}

}  // namespace

const Command RECORD_COMMAND{"record", "record what the device sends into a file until Ctrl-C", setupRecord,
                             [] { return runRecordCommand(parsed); }};
