// The relay has no Windows end yet (LINK would be a second COM port).
#include <cstdio>

#include "cli/console/exit_codes.h"
#include "cli/recording/relay.h"

int runRelay(const RecordOptions& options) {
    std::fprintf(stderr, "elq770ctl: record --relay %s: not supported on Windows yet\n", options.relayPath.c_str());
    return EXIT_USAGE;
}
