// Shared by the link tests: a fixture that puts every piece of process-wide
// link state back to its start values, and helpers that build reply lines the
// way the device sends them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"
#include "params/settings.h"

inline void resetLinkState() {
    resetLiveState();
    resetReceiveLine();
    clearCommandQueue();
    deviceParameters = {};
    editedParameters = {};
    setSettingsDefaults(&appSettings);
    configureLink(TREND_DECIMATION[1], false);  // as the window program starts
    replyTaps.clear();
    receivedTaps.clear();
    sentTaps.clear();
    setTransmitReadyHook(nullptr);
    setTransmitLinkOpen(1);  // opening discards whatever an earlier test left
    setTransmitLinkOpen(0);
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { resetLinkState(); }
    void TearDown() override { resetLinkState(); }
};

// A 16-bit reply line: four data bytes carrying the word in their high
// nibbles, the sum byte and CR.
inline std::vector<uint8_t> wordLine(uint16_t word) {
    std::vector<uint8_t> line;
    uint8_t sum = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
        uint8_t b = static_cast<uint8_t>(((word >> shift) & 0x0F) << 4 | 0x01);
        line.push_back(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    line.push_back(sum);
    line.push_back(0x0D);
    return line;
}

// An 8-bit reply line: two data bytes, the sum byte and CR.
inline std::vector<uint8_t> byteLine(uint8_t word) {
    uint8_t b0 = static_cast<uint8_t>((word & 0xF0) | 0x01);
    uint8_t b1 = static_cast<uint8_t>((word & 0x0F) << 4 | 0x01);
    return {b0, b1, static_cast<uint8_t>(b0 + b1), 0x0D};
}

inline void feed(const std::vector<uint8_t>& bytes) {
    parseReceivedBytes(bytes.data(), static_cast<int>(bytes.size()));
}

inline void feedWord(uint16_t word) { feed(wordLine(word)); }

// The device sends a text one character word at a time (65200 + character).
inline void feedText(const char* text) {
    for (const char* c = text; *c != '\0'; ++c)
        feedWord(static_cast<uint16_t>(65200 + static_cast<uint8_t>(*c)));
}

inline void feedTextEnd() { feedWord(65213); }
