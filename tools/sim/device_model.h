// The simulated device: its sixteen parameters, the load it measures, the
// peaks, the two limits with their alarm timing, and its identification
// text. Pure logic: the caller feeds it received command words and the time,
// and sends the reply words it hands out. No I/O, no wall clock.
//
// Per step (one every 20 ms on the line) the device emits one measurement
// word, then any peak and alarm words that are due, then up to
// ANSWER_WORDS_PER_STEP words of a pending answer to a data request, so the
// answer interleaves with the stream and a step stays within the 19 bytes
// that 9600 baud carries in 20 ms.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {

constexpr uint16_t WORD_REQUEST_DATA = 65050;
constexpr uint16_t WORD_SPACE_KEY = 65051;
constexpr uint16_t WORD_RESET_MAX_PEAK = 65052;
constexpr uint16_t WORD_RESET_MIN_PEAK = 65053;

constexpr uint16_t LIMIT2_FLAG = 128;        // added to a measurement while Limit 2 is active
constexpr uint16_t MIN_PEAK_BASE = 300;
constexpr uint16_t MAX_PEAK_BASE = 500;
constexpr uint16_t ALARM1_BASE = 65000;      // +0..9 timing, +10..24 alarm on
constexpr uint16_t ALARM2_BASE = 65025;
constexpr uint16_t ALARM_ON_OFFSET = 10;
constexpr uint16_t TEXT_BASE = 65200;
constexpr uint16_t TEXT_END = TEXT_BASE + 13;
constexpr uint16_t PARAMETER_WORD_FIRST = 3000;
constexpr uint16_t PARAMETER_WORD_END = 65000;

constexpr int MEASUREMENT_MAX = 127;
constexpr int TEXT_MAX = 31;
constexpr int ANSWER_WORDS_PER_STEP = 2;
constexpr uint32_t PEAK_REFRESH_MS = 1000;
constexpr uint32_t ALARM_REPEAT_MS = 100;

struct ParameterSpec {
    uint16_t code;
    uint16_t min;
    uint16_t max;
    uint16_t initial;
    const char* name;
};

constexpr int PARAMETER_TOTAL = 16;

// The sixteen parameters in ascending code order.
extern const ParameterSpec PARAMETER_SPECS[PARAMETER_TOTAL];

// Index into PARAMETER_SPECS of the parameter with exactly this code, or -1.
int parameterIndexOfCode(uint16_t code);
// Index of the band that a parameter word falls into (the greatest code not
// above it), or -1 outside 3000..64999.
int parameterIndexOfWord(uint16_t word);

struct ModelConfig {
    uint32_t seed = 1;
    int fixedLevel = -1;   // 0..127 holds the measurement there; -1 = load curve
    int activeLimit = 0;   // 0 = Limit 1, 1 = Limit 2
    bool noAnswer = false;
    bool wrongParameters = false;
    std::string text = "ELQ770 SIM 1.0";
    uint16_t parameters[PARAMETER_TOTAL];

    ModelConfig();
    // Sets a parameter by code when the value is in its range; returns 1, else 0.
    int setParameter(uint16_t code, uint16_t value);
};

enum class WordEffect { IGNORED, REQUEST, SPACE_KEY, RESET_MAX, RESET_MIN, PARAMETER_SET, PARAMETER_REJECTED };

class DeviceModel {
public:
    DeviceModel(const ModelConfig& config, uint32_t nowMs);

    WordEffect receiveWord(uint16_t word, uint32_t nowMs);
    // Advances the device to nowMs and appends the words of one step.
    void step(uint32_t nowMs, std::vector<uint16_t>& out);

    uint16_t parameter(uint16_t code) const;
    int activeLimit() const { return activeLimit_; }
    int measurement() const { return measurement_; }
    int maxPeak() const { return maxPeak_; }
    int minPeak() const { return minPeak_; }
    bool alarmOn() const { return alarmOn_; }
    size_t pendingAnswerWords() const { return answer_.size(); }

private:
    uint32_t random();
    int randomBetween(int low, int high);
    int activeIndex(int limit1Index, int limit2Index) const;
    void followCurve(uint32_t nowMs, uint32_t elapsedMs);
    void emitPeaks(uint32_t nowMs, std::vector<uint16_t>& out);
    void updateAlarm(uint32_t nowMs, std::vector<uint16_t>& out);
    void queueAnswer();
    void switchLimit(uint32_t nowMs);

    ModelConfig config_;
    uint16_t parameters_[PARAMETER_TOTAL];
    uint32_t randomState_;
    int activeLimit_;
    int measurement_ = -1;
    int maxPeak_ = -1;
    int minPeak_ = -1;
    bool peaksChanged_ = false;
    uint32_t lastStepMs_;
    uint32_t lastPeakRefreshMs_;
    // Load curve.
    double centre_ = -1.0;
    double noise_ = 0.0;
    uint32_t spikeStartMs_;
    uint32_t spikeEndMs_;
    // Alarm timing of the active limit.
    uint32_t armedAtMs_;
    bool beyond_ = false;
    uint32_t beyondSinceMs_ = 0;
    bool alarmOn_ = false;
    uint32_t alarmSinceMs_ = 0;
    uint32_t lastAlarmWordMs_ = 0;
    bool alarmWordSent_ = false;
    int lastWritten_ = -1;
    std::deque<uint16_t> answer_;
};

}  // namespace sim
