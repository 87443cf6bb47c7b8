// monitor: one row per measurement the device streams, to a CSV file and/or
// standard output, until Ctrl-C or the duration; rides out link gaps. From a
// recording instead of a port, the same rows with the recording's times.
#pragma once

#include <cstdint>
#include <string>

struct MonitorOptions {
    std::string port;
    std::string fromPath;    // a recording to read instead of the port
    std::string csvPath;     // "" for none
    double durationSeconds = 0;  // 0 runs until a stop request (run_frame.h)
};

// Returns an exit code: 0, 2 (port not opened at the start), 3 (no line from
// the device within the first seconds) or 5 (CSV file not created, recording
// refused).
int runMonitor(const MonitorOptions& options);
