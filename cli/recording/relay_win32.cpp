// The relay has no Windows end yet (LINK would be a second COM port).
#include <cstdio>

#include "cli/console/exit_codes.h"
#include "cli/console/report.h"
#include "cli/recording/relay.h"

int runRelay(const RecordOptions& options) {
    report(std::string("record --relay ") + options.relayPath + ": not supported on Windows yet");
    return EXIT_USAGE;
}
