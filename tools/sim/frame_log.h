// The simulator's log of what the program sent: one line per received frame,
// "SECONDS WORD" or "SECONDS BAD HEX HEX ...", flushed at once so that a test
// can read it while the simulator runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/sim/device_wire.h"

namespace sim {

// The log line of one event (without the newline); seconds since start.
std::string formatFrameEvent(uint32_t elapsedMs, const FrameEvent& event);

class FrameLog {
public:
    FrameLog() = default;
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;
    ~FrameLog();

    int open(const std::string& path);  // 1 on success
    void write(uint32_t elapsedMs, const FrameEvent& event);
    void note(uint32_t elapsedMs, const char* text);

private:
    FILE* file_ = nullptr;
};

}  // namespace sim
