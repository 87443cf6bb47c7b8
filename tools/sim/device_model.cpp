#include "tools/sim/device_model.h"

#include <algorithm>
#include <cmath>

namespace sim {

const ParameterSpec PARAMETER_SPECS[PARAMETER_TOTAL] = {
    {3000, 1, 2, 2, "limit1Type"},
    {3010, 1, 2, 1, "limit2Type"},
    {3020, 0, 9, 2, "limit1CurrentRange"},
    {3030, 0, 9, 2, "limit2CurrentRange"},
    {3040, 0, 6, 0, "nominalVoltage"},
    {3050, 0, 1, 0, "analogueOutput"},
    {3060, 0, 1, 0, "polarity"},
    {3065, 0, 1, 0, "autoShutDown"},
    {3070, 1, 2, 1, "outputs"},
    {3100, 5, 99, 60, "limit1Setpoint"},
    {3200, 5, 99, 20, "limit2Setpoint"},
    {3300, 0, 250, 20, "limit1Tr"},
    {3600, 0, 250, 20, "limit2Tr"},
    {3900, 0, 250, 10, "limit1Ts"},
    {4200, 0, 250, 10, "limit2Ts"},
    {4500, 40, 100, 100, "p1Max"},
};

namespace {

constexpr int LIMIT1_TYPE = 0;
constexpr int LIMIT2_TYPE = 1;
constexpr int LIMIT1_SETPOINT = 9;
constexpr int LIMIT2_SETPOINT = 10;
constexpr int LIMIT1_TR = 11;
constexpr int LIMIT2_TR = 12;
constexpr int LIMIT1_TS = 13;
constexpr int LIMIT2_TS = 14;
constexpr int TYPE_MIN = 1;
constexpr int TYPE_MAX = 2;

// The load sits this far on the safe side of the active setpoint, swings
// around there, and now and then a spike crosses the setpoint by SPIKE_DEPTH.
constexpr double SAFE_DISTANCE = 18.0;
constexpr double SPIKE_DEPTH = 8.0;
constexpr double CENTRE_FOLLOW_MS = 3000.0;
constexpr double SPIKE_EDGE_MS = 300.0;  // a spike rises and falls within this
constexpr double PI = 3.14159265358979323846;

// Signed distance from `from` to `to` on the wrapping millisecond clock.
int32_t msSince(uint32_t to, uint32_t from) {
    return static_cast<int32_t>(to - from);
}

}  // namespace

int parameterIndexOfCode(uint16_t code) {
    for (int i = 0; i < PARAMETER_TOTAL; ++i)
        if (PARAMETER_SPECS[i].code == code) return i;
    return -1;
}

int parameterIndexOfWord(uint16_t word) {
    if (word < PARAMETER_WORD_FIRST || word >= PARAMETER_WORD_END) return -1;
    int index = 0;
    for (int i = 0; i < PARAMETER_TOTAL; ++i)
        if (PARAMETER_SPECS[i].code <= word) index = i;
    return index;
}

ModelConfig::ModelConfig() {
    for (int i = 0; i < PARAMETER_TOTAL; ++i) parameters[i] = PARAMETER_SPECS[i].initial;
}

int ModelConfig::setParameter(uint16_t code, uint16_t value) {
    int index = parameterIndexOfCode(code);
    if (index < 0) return 0;
    if (value < PARAMETER_SPECS[index].min || value > PARAMETER_SPECS[index].max) return 0;
    parameters[index] = value;
    return 1;
}

DeviceModel::DeviceModel(const ModelConfig& config, uint32_t nowMs)
    : config_(config),
      randomState_(config.seed != 0 ? config.seed : 0x9E3779B9u),
      activeLimit_(config.activeLimit != 0 ? 1 : 0),
      lastStepMs_(nowMs),
      lastPeakRefreshMs_(nowMs) {
    std::copy(config.parameters, config.parameters + PARAMETER_TOTAL, parameters_);
    spikeStartMs_ = nowMs + static_cast<uint32_t>(randomBetween(4000, 10000));
    spikeEndMs_ = spikeStartMs_ + static_cast<uint32_t>(randomBetween(1000, 4000));
    armedAtMs_ = nowMs + 100u * parameters_[activeIndex(LIMIT1_TS, LIMIT2_TS)];
}

uint32_t DeviceModel::random() {
    // xorshift32: the same sequence for a seed on every platform.
    randomState_ ^= randomState_ << 13;
    randomState_ ^= randomState_ >> 17;
    randomState_ ^= randomState_ << 5;
    return randomState_;
}

int DeviceModel::randomBetween(int low, int high) {
    return low + static_cast<int>(random() % static_cast<uint32_t>(high - low + 1));
}

int DeviceModel::activeIndex(int limit1Index, int limit2Index) const {
    return activeLimit_ == 0 ? limit1Index : limit2Index;
}

uint16_t DeviceModel::parameter(uint16_t code) const {
    int index = parameterIndexOfCode(code);
    return index < 0 ? 0 : parameters_[index];
}

WordEffect DeviceModel::receiveWord(uint16_t word, uint32_t nowMs) {
    switch (word) {
    case WORD_REQUEST_DATA:
        if (!config_.noAnswer) queueAnswer();
        return WordEffect::REQUEST;
    case WORD_SPACE_KEY:
        switchLimit(nowMs);
        return WordEffect::SPACE_KEY;
    case WORD_RESET_MAX_PEAK:
        maxPeak_ = measurement_;
        peaksChanged_ = true;
        return WordEffect::RESET_MAX;
    case WORD_RESET_MIN_PEAK:
        minPeak_ = measurement_;
        peaksChanged_ = true;
        return WordEffect::RESET_MIN;
    default:
        break;
    }
    int index = parameterIndexOfWord(word);
    if (index < 0) return WordEffect::IGNORED;
    const ParameterSpec& spec = PARAMETER_SPECS[index];
    uint16_t value = static_cast<uint16_t>(word - spec.code);
    if (value < spec.min || value > spec.max) return WordEffect::PARAMETER_REJECTED;
    parameters_[index] = value;
    lastWritten_ = index;
    return WordEffect::PARAMETER_SET;
}

// A new active limit starts its own start delay; its alarm timing begins anew.
void DeviceModel::switchLimit(uint32_t nowMs) {
    activeLimit_ ^= 1;
    armedAtMs_ = nowMs + 100u * parameters_[activeIndex(LIMIT1_TS, LIMIT2_TS)];
    beyond_ = false;
    alarmOn_ = false;
    alarmWordSent_ = false;
}

// The answer to a data request: the fifteen other parameters, the word of code
// 3000 last (the program takes it as the end of the parameters and restarts
// its text there), then the text and its end word. A request that arrives
// while an answer is still going out starts the answer afresh.
void DeviceModel::queueAnswer() {
    answer_.clear();
    auto parameterWord = [this](int index) {
        uint16_t value = parameters_[index];
        // Flipping the low bit keeps the value inside its band.
        if (config_.wrongParameters && index == lastWritten_) value ^= 1;
        return static_cast<uint16_t>(PARAMETER_SPECS[index].code + value);
    };
    for (int i = 1; i < PARAMETER_TOTAL; ++i) answer_.push_back(parameterWord(i));
    answer_.push_back(parameterWord(0));
    size_t length = std::min(config_.text.size(), static_cast<size_t>(TEXT_MAX));
    for (size_t i = 0; i < length; ++i)
        answer_.push_back(static_cast<uint16_t>(TEXT_BASE + static_cast<uint8_t>(config_.text[i])));
    answer_.push_back(TEXT_END);
}

void DeviceModel::step(uint32_t nowMs, std::vector<uint16_t>& out) {
    uint32_t elapsedMs = nowMs - lastStepMs_;
    lastStepMs_ = nowMs;
    if (config_.fixedLevel >= 0) {
        measurement_ = std::min(config_.fixedLevel, MEASUREMENT_MAX);
    } else {
        followCurve(nowMs, elapsedMs);
    }
    out.push_back(static_cast<uint16_t>(measurement_ + (activeLimit_ != 0 ? LIMIT2_FLAG : 0)));
    emitPeaks(nowMs, out);
    updateAlarm(nowMs, out);
    for (int i = 0; i < ANSWER_WORDS_PER_STEP && !answer_.empty(); ++i) {
        out.push_back(answer_.front());
        answer_.pop_front();
    }
}

// Slow swings on the safe side of the active setpoint, smoothed noise, and
// spikes of one to four seconds across the setpoint every 6 to 15 seconds.
// The centre follows a change of limit or setpoint with a lag, as a load would
// not jump.
void DeviceModel::followCurve(uint32_t nowMs, uint32_t elapsedMs) {
    int type = parameters_[activeIndex(LIMIT1_TYPE, LIMIT2_TYPE)];
    double setpoint = parameters_[activeIndex(LIMIT1_SETPOINT, LIMIT2_SETPOINT)];
    double side = type == TYPE_MIN ? 1.0 : -1.0;
    double target = std::clamp(setpoint + side * SAFE_DISTANCE, 5.0, 110.0);
    if (centre_ < 0.0) {
        centre_ = target;
    } else {
        centre_ += (target - centre_) * std::min(1.0, elapsedMs / CENTRE_FOLLOW_MS);
    }
    noise_ += (randomBetween(-30, 30) / 10.0 - noise_) * 0.3;
    double t = nowMs;
    double value = centre_ + 6.0 * std::sin(2.0 * PI * t / 9000.0) + 4.0 * std::sin(2.0 * PI * t / 23000.0) + noise_;
    if (msSince(nowMs, spikeStartMs_) >= 0 && msSince(nowMs, spikeEndMs_) < 0) {
        double edgeMs = std::min(msSince(nowMs, spikeStartMs_), msSince(spikeEndMs_, nowMs));
        double rise = std::min(1.0, edgeMs / SPIKE_EDGE_MS);
        value += (setpoint - side * SPIKE_DEPTH + noise_ - value) * rise;
    } else if (msSince(nowMs, spikeEndMs_) >= 0) {
        spikeStartMs_ = nowMs + static_cast<uint32_t>(randomBetween(6000, 15000));
        spikeEndMs_ = spikeStartMs_ + static_cast<uint32_t>(randomBetween(1000, 4000));
    }
    measurement_ = static_cast<int>(std::lround(std::clamp(value, 0.0, double(MEASUREMENT_MAX))));
}

// Peaks go out when they change and again every second, so that a program
// that connects later (or has dropped them on a lost link) learns them.
void DeviceModel::emitPeaks(uint32_t nowMs, std::vector<uint16_t>& out) {
    bool sendMax = peaksChanged_;
    bool sendMin = peaksChanged_;
    peaksChanged_ = false;
    if (maxPeak_ < 0 || measurement_ > maxPeak_) {
        maxPeak_ = measurement_;
        sendMax = true;
    }
    if (minPeak_ < 0 || measurement_ < minPeak_) {
        minPeak_ = measurement_;
        sendMin = true;
    }
    if (msSince(nowMs, lastPeakRefreshMs_) >= static_cast<int32_t>(PEAK_REFRESH_MS)) {
        lastPeakRefreshMs_ = nowMs;
        sendMax = sendMin = true;
    }
    if (sendMax) out.push_back(static_cast<uint16_t>(MAX_PEAK_BASE + maxPeak_));
    if (sendMin) out.push_back(static_cast<uint16_t>(MIN_PEAK_BASE + minPeak_));
}

// The active limit is watched once its start delay Ts has passed. A value
// beyond its setpoint (above for "Max.", below for "Min.") that holds for Tr
// turns the alarm on. While the hold runs the device reports its progress in
// the "below 10" words; with the alarm on it sends "10 and above" words
// (10 + whole seconds in alarm, at most 24), each every 100 ms.
void DeviceModel::updateAlarm(uint32_t nowMs, std::vector<uint16_t>& out) {
    int type = parameters_[activeIndex(LIMIT1_TYPE, LIMIT2_TYPE)];
    int setpoint = parameters_[activeIndex(LIMIT1_SETPOINT, LIMIT2_SETPOINT)];
    uint32_t holdMs = 100u * parameters_[activeIndex(LIMIT1_TR, LIMIT2_TR)];
    bool armed = msSince(nowMs, armedAtMs_) >= 0;
    bool beyond = armed && ((type == TYPE_MAX && measurement_ > setpoint) ||
                            (type == TYPE_MIN && measurement_ < setpoint));
    if (!beyond) {
        beyond_ = alarmOn_ = alarmWordSent_ = false;
        return;
    }
    if (!beyond_) {
        beyond_ = true;
        beyondSinceMs_ = nowMs;
    }
    uint32_t heldMs = nowMs - beyondSinceMs_;
    if (!alarmOn_ && heldMs >= holdMs) {
        alarmOn_ = true;
        alarmSinceMs_ = nowMs;
        alarmWordSent_ = false;
    }
    if (alarmWordSent_ && nowMs - lastAlarmWordMs_ < ALARM_REPEAT_MS) return;
    uint16_t base = activeLimit_ == 0 ? ALARM1_BASE : ALARM2_BASE;
    uint32_t offset = alarmOn_ ? ALARM_ON_OFFSET + std::min<uint32_t>(14, (nowMs - alarmSinceMs_) / 1000)
                               : std::min<uint32_t>(9, heldMs * 10 / holdMs);
    out.push_back(static_cast<uint16_t>(base + offset));
    lastAlarmWordMs_ = nowMs;
    alarmWordSent_ = true;
}

}  // namespace sim
