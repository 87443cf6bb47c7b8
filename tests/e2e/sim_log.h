// The device simulator's log of received frames ("SECONDS WORD",
// "SECONDS BAD HEX ..." or "SECONDS NOTE"), read back by the end-to-end
// harness and by the command-line tool's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct LoggedWord {
    double seconds;  // since the simulator started
    uint16_t word;
};

// The command words in the order received; [] when the log is missing.
std::vector<LoggedWord> simulatorLogWords(const std::string& logPath);
// Frames the simulator could not decode.
int simulatorLogBadFrames(const std::string& logPath);

}  // namespace e2e
