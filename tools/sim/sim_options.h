// Command line of the device simulator.
#pragma once

#include <string>

#include "tools/sim/device_model.h"

namespace sim {

struct SimOptions {
    std::string linkPath;   // pseudo-terminal mode: symlink to the program's side
    std::string portPath;   // serial-device mode
    std::string logPath;
    ModelConfig model;
    bool seedGiven = false;
    bool silent = false;
    bool garbage = false;
    int dropPercent = 0;
    int corruptPercent = 0;
    int hangupAfterSeconds = -1;  // -1 = never
    std::string replayPath;  // play a recording's device packets instead of the model
    double replaySpeed = 1;  // the recorded spacing is divided by it
    bool replayLoop = false;
};

enum class ParseResult { OK, HELP, FAILED };

// Reads argv[1..argc-1] into options. On FAILED, error says why.
ParseResult parseOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

const char* helpText();

}  // namespace sim
