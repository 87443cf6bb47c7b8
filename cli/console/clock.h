// The wall clock, which rows and recorded packets are stamped with, and its
// local-time text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The wall clock, which rows and recorded packets are stamped with.
inline int64_t nowEpochUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
inline int64_t nowEpochMs() { return nowEpochUs() / 1000; }
// "2026-12-08T03:10:00.123+01:00" for a time in milliseconds since the
// epoch, in local time with its UTC offset.
std::string isoTimestamp(int64_t epochMs);
