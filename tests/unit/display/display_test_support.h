// Shared by the display tests: a fixture that puts the live state, the
// device's parameters, the settings, the trend history and the paint flags
// back to their start values, and helpers that feed the trend ring the way
// the receive parser does.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/display_state.h"
#include "tests/support/recording_surface.h"
#include "display/trend_graph.h"
#include "display/trend_graph_testing.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "params/parameter_set.h"
#include "lang/language_table.h"
#include "params/settings.h"

inline void resetDisplayState() {
    resetLiveState();
    deviceParameters = {};
    setSettingsDefaults(&appSettings);
    setLanguage(LANGUAGE_ENGLISH);
    resetTrendHistory();
    redrawAll = 0;
    redrawHeader = 0;
    graphFrozen = 0;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override { resetDisplayState(); }
    void TearDown() override { resetDisplayState(); }
};

inline void setDeviceText(const char* text) {
    std::memset(deviceParameters.deviceText, 0, sizeof deviceParameters.deviceText);
    std::memcpy(deviceParameters.deviceText, text, std::strlen(text));
}

// One sample as the parser appends it: the measurement, percent.
inline void pushSample(int measurement) {
    liveState.measurement = measurement;
    appendTrendSample();
}

inline std::string blanks(int count) { return std::string(static_cast<std::size_t>(count), ' '); }

inline bool samePoint(const SurfaceCall& call, int x, int y) { return call.x == x && call.y == y; }
