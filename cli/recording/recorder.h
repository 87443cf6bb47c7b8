// record: what crosses the serial line, as a recording file (line_recording.h)
// that decode, monitor --from and the simulator's replay read: the device's
// bytes cut into packets by the LinePacketizer, and every command frame
// the tool sends. Until Ctrl-C or the duration; rides out link gaps as
// monitor does, which are silence in the file.
#pragma once

#include <string>

struct RecordOptions {
    std::string port;
    std::string outPath;
    std::string relayPath;  // record --relay LINK (cli/recording/relay.h); empty: record alone
    bool force = false;     // the relay may replace any symlink at LINK
    double durationSeconds = 0;  // 0 runs until a stop request (run_frame.h)
};

// Returns an exit code: 0, 2 (port not opened), 3 (no line from the device
// within the first seconds) or 5 (file not created or not written).
int runRecord(const RecordOptions& options);
