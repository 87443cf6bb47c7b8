// The device's sixteen parameters, its identification text and the active
// limit, as one 76-byte record whose memory image is also the parameter file.
//
// Threads: the reader thread (receive parser) writes the fields of
// deviceParameters one aligned 16-bit store at a time; the window thread reads
// them. Cross-thread access goes through loadField/storeField so that every
// access is a whole, atomic 16-bit load or store. editedParameters is used by
// the window thread only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct ParameterSet {
    uint16_t limit1Type;          // code 3000
    uint16_t limit1Setpoint;      // code 3100
    uint16_t limit1Tr;            // code 3300, tenths of a second
    uint16_t limit1Ts;            // code 3900, tenths of a second
    uint16_t limit1CurrentRange;  // code 3020
    uint16_t limit2Type;          // code 3010
    uint16_t limit2Setpoint;      // code 3200
    uint16_t limit2Tr;            // code 3600
    uint16_t limit2Ts;            // code 4200
    uint16_t limit2CurrentRange;  // code 3030
    uint16_t nominalVoltage;      // code 3040
    uint16_t polarity;            // code 3060
    uint16_t analogueOutput;      // code 3050
    uint16_t outputs;             // code 3070
    uint16_t p1Max;               // code 4500
    uint16_t autoShutDown;        // code 3065
    char deviceText[32];
    uint16_t activeLimit;         // 0 = Limit 1 active, 1 = Limit 2 active
    uint8_t reserved[10];
};

static_assert(sizeof(ParameterSet) == 76, "ParameterSet is the 76-byte parameter file image");
static_assert(offsetof(ParameterSet, limit1Setpoint) == 2, "field offset");
static_assert(offsetof(ParameterSet, limit2Type) == 10, "field offset");
static_assert(offsetof(ParameterSet, nominalVoltage) == 20, "field offset");
static_assert(offsetof(ParameterSet, autoShutDown) == 30, "field offset");
static_assert(offsetof(ParameterSet, deviceText) == 32, "field offset");
static_assert(offsetof(ParameterSet, activeLimit) == 64, "field offset");
static_assert(offsetof(ParameterSet, reserved) == 66, "field offset");

// Parameter codes: a parameter travels as (code + value) modulo 65536.
enum ParameterCode : uint16_t {
    CODE_LIMIT1_TYPE = 3000,
    CODE_LIMIT2_TYPE = 3010,
    CODE_LIMIT1_CURRENT_RANGE = 3020,
    CODE_LIMIT2_CURRENT_RANGE = 3030,
    CODE_NOMINAL_VOLTAGE = 3040,
    CODE_ANALOGUE_OUTPUT = 3050,
    CODE_POLARITY = 3060,
    CODE_AUTO_SHUT_DOWN = 3065,
    CODE_OUTPUTS = 3070,
    CODE_LIMIT1_SETPOINT = 3100,
    CODE_LIMIT2_SETPOINT = 3200,
    CODE_LIMIT1_TR = 3300,
    CODE_LIMIT2_TR = 3600,
    CODE_LIMIT1_TS = 3900,
    CODE_LIMIT2_TS = 4200,
    CODE_P1_MAX = 4500,
};

// The parameter bands run from the first code to the word above the last
// band (p1Max runs from 4500 to 64999).
constexpr uint16_t PARAMETER_BAND_START = CODE_LIMIT1_TYPE;
constexpr uint16_t PARAMETER_BAND_END = 65000;

// The other words the device sends, by band. A measurement, peak or text
// word carries (word - code); each band below the parameters runs up to the
// next one's code, and the words from CODE_MAX_PEAK_END up to the parameters
// carry nothing the program uses.
enum ReceiveCode : uint16_t {
    CODE_MEASUREMENT_LIMIT1 = 0,    // the load in percent while Limit 1 is active
    CODE_MEASUREMENT_LIMIT2 = 128,  // the same while Limit 2 is active
    CODE_MIN_PEAK = 300,
    CODE_MAX_PEAK = 500,
    CODE_MAX_PEAK_END = 1000,
    CODE_ALARM_LIMIT1 = 65010,      // alarm words of Limit 1, up to CODE_ALARM_LIMIT1_LAST
    CODE_ALARM_LIMIT1_LAST = 65024,
    CODE_ALARM_LIMIT2 = 65035,      // alarm words of Limit 2, up to CODE_ALARM_LIMIT2_LAST
    CODE_ALARM_LIMIT2_LAST = 65049,
    CODE_TEXT_CHARACTER = 65200,    // one character of the device's text (CR ends it)
    CODE_TEXT_CHARACTER_LAST = 65499,
};

constexpr int PARAMETER_COUNT = 16;

struct ParameterBand {
    uint16_t code;
    uint16_t ParameterSet::*field;
};

// The sixteen parameters in ascending code order: the order of the bands and
// of queueAllParameters.
extern const ParameterBand PARAMETER_BANDS[PARAMETER_COUNT];

// The band a parameter word w (3000 <= w < 65000) falls into: the one with the
// greatest code not above w. Returns nullptr outside the parameter bands.
const ParameterBand* findParameterBand(uint16_t word);

// Parameter words for a front end to queue, in the order they go out, as the
// (code, value) pairs the command queue takes. The sheet's OK and the
// comparison with the device hand them back; they queue nothing themselves.
struct ParameterWords {
    int count;
    uint16_t codes[PARAMETER_COUNT];
    uint16_t values[PARAMETER_COUNT];
};

extern ParameterSet deviceParameters;
extern ParameterSet editedParameters;

// 1 once deviceParameters holds a whole set of values: the last word of a
// complete parameter answer (the reader thread) or a loaded parameter file
// (the window thread). Until then the record holds the start-up zeros, which
// are no settings of any device and must never be saved as a file. Stored
// with release after the values, loaded with acquire before they are read.
extern std::atomic<int32_t> deviceParametersFilled;

void copyDeviceToEdited();
int editedMatchesDevice();

inline uint16_t loadField(const uint16_t& field,
                          std::memory_order order = std::memory_order_relaxed) {
    return std::atomic_ref<uint16_t>(const_cast<uint16_t&>(field)).load(order);
}

inline void storeField(uint16_t& field, uint16_t value,
                       std::memory_order order = std::memory_order_relaxed) {
    std::atomic_ref<uint16_t>(field).store(value, order);
}

inline char loadTextByte(const char& byte) {
    return std::atomic_ref<char>(const_cast<char&>(byte)).load(std::memory_order_relaxed);
}

inline void storeTextByte(char& byte, char value) {
    std::atomic_ref<char>(byte).store(value, std::memory_order_relaxed);
}

// 1 once the device has identified itself: its text is not empty.
inline int deviceTextPresent() {
    return loadTextByte(deviceParameters.deviceText[0]) != '\0' ? 1 : 0;
}
