// The four user choices kept between runs. The record's memory image is the
// 280-byte settings file "Vantor.cnf" in the folder that was current at the
// program's first access to it, or, when that folder refuses the file with
// access denied (a program under Program Files), in the per-user folder
// (%LOCALAPPDATA%\ELQ770). Opens refused with a sharing violation are tried
// again for about 150 ms.
//
// Threads: the window thread owns appSettings and alone writes it; it hands
// the roll period and stop-at-alarm to the link (link/link_config.h). The
// display reads rollIndex through loadField, so it is stored with storeField.
#pragma once

#include <cstddef>
#include <cstdint>

#include "params/parameter_set.h"

struct AppSettings {
    uint16_t comPort;  // 1..8 or OTHER_PORT (params/port_choice.h), plus PORT_NOT_OPEN while that port is not open
    uint8_t reserved1[258];
    uint16_t rollIndex;       // 0 = 10 s, 1 = 30 s, 2 = 60 s
    uint16_t stopAtAlarm;     // 0 or 1
    uint16_t languageOffset;  // 0 English, 100 German, 200 Danish
    uint8_t reserved2[14];
};

static_assert(sizeof(AppSettings) == 280, "AppSettings is the 280-byte settings file image");
static_assert(offsetof(AppSettings, rollIndex) == 260, "field offset");
static_assert(offsetof(AppSettings, stopAtAlarm) == 262, "field offset");
static_assert(offsetof(AppSettings, languageOffset) == 264, "field offset");

constexpr uint16_t PORT_NOT_OPEN = 10;
constexpr const char* SETTINGS_FILE_NAME = "Vantor.cnf";
// Room for a full path in UTF-8: up to three bytes for each of MAX_PATH
// UTF-16 units.
constexpr int SETTINGS_PATH_SIZE = 3 * 260 + 1;

extern AppSettings appSettings;

void setSettingsDefaults(AppSettings* settings);

// The roll period in force as a table index (0 to 2), read whole from any
// thread.
inline int rollIndexNow() {
    int roll = loadField(appSettings.rollIndex);
    return roll > 2 ? 2 : roll;
}

// Reads the settings file into settings, creating it with the record's
// current content when it does not exist. 0, ERR_SHORT_TRANSFER or the
// operating system's error code. The record is replaced only by a complete
// 280-byte read, and fields outside their ranges take their defaults.
int readSettings(AppSettings* settings);

// Writes the record's 280 bytes at the start of the settings file.
int writeSettings(const AppSettings* settings);

// The full path every read and write uses, fixed at the first call.
const char* settingsFilePath();

// Keeps the fields of candidate that are in range; the others take the value
// they have in fallback. Reserved bytes are kept as they are in candidate.
void sanitizeSettings(AppSettings* candidate, const AppSettings& fallback);
