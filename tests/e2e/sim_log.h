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
// The simulator's own notes ("START <monotonic ms>", "ANSWERED", "HANGUP"),
// each with the rest of its line.
struct LoggedNote {
    double seconds;
    std::string text;
};
std::vector<LoggedNote> simulatorLogNotes(const std::string& logPath);

// Frames the simulator could not decode.
int simulatorLogBadFrames(const std::string& logPath);

}  // namespace e2e
