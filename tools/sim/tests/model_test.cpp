// The simulated device driven by a fake clock: one step every 20 ms.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/sim/device_model.h"

using namespace sim;

namespace {

constexpr uint32_t STEP = 20;

bool isStreamWord(uint16_t word) {
    return word < 1000 || (word >= ALARM1_BASE && word < ALARM1_BASE + 50);
}

bool isAlarmOnWord(uint16_t word) {
    return (word >= ALARM1_BASE + 10 && word <= ALARM1_BASE + 24) ||
           (word >= ALARM2_BASE + 10 && word <= ALARM2_BASE + 24);
}

struct DeviceRun {
    DeviceModel model;
    uint32_t now = 0;

    explicit DeviceRun(const ModelConfig& config) : model(config, 0) {}

    std::vector<uint16_t> step() {
        now += STEP;
        std::vector<uint16_t> out;
        model.step(now, out);
        return out;
    }

    // Steps until the answer has gone out; returns the words that are not
    // part of the measurement stream.
    std::vector<uint16_t> collectAnswer(int maxSteps = 100) {
        std::vector<uint16_t> answer;
        for (int i = 0; i < maxSteps; ++i) {
            for (uint16_t word : step())
                if (!isStreamWord(word)) answer.push_back(word);
        }
        return answer;
    }

    // Time (ms) of the first alarm-on word within the next `ms`, or 0.
    uint32_t firstAlarmWithin(uint32_t ms, uint16_t* word = nullptr) {
        uint32_t end = now + ms;
        while (now < end) {
            for (uint16_t w : step()) {
                if (isAlarmOnWord(w)) {
                    if (word != nullptr) *word = w;
                    return now;
                }
            }
        }
        return 0;
    }
};

ModelConfig levelConfig(int level) {
    ModelConfig config;
    config.fixedLevel = level;
    return config;
}

std::vector<uint16_t> expectedAnswer(const ModelConfig& config) {
    std::vector<uint16_t> words;
    for (int i = 1; i < PARAMETER_TOTAL; ++i)
        words.push_back(static_cast<uint16_t>(PARAMETER_SPECS[i].code + config.parameters[i]));
    words.push_back(static_cast<uint16_t>(3000 + config.parameters[0]));
    for (char c : config.text) words.push_back(static_cast<uint16_t>(65200 + c));
    words.push_back(65213);
    return words;
}

}  // namespace

TEST(DefaultParameters, AreInsideTheirRangesAndBands) {
    ModelConfig config;
    for (int i = 0; i < PARAMETER_TOTAL; ++i) {
        const ParameterSpec& spec = PARAMETER_SPECS[i];
        EXPECT_GE(config.parameters[i], spec.min) << spec.name;
        EXPECT_LE(config.parameters[i], spec.max) << spec.name;
        EXPECT_EQ(i, parameterIndexOfWord(static_cast<uint16_t>(spec.code + spec.max))) << spec.name;
        if (i > 0) {
            EXPECT_LT(PARAMETER_SPECS[i - 1].code, spec.code);
        }
    }
    DeviceRun run(config);
    EXPECT_EQ(2, run.model.parameter(3000));
    EXPECT_EQ(60, run.model.parameter(3100));
    EXPECT_EQ(1, run.model.parameter(3010));
    EXPECT_EQ(100, run.model.parameter(4500));
}

TEST(RequestAnswer, ParametersWithCode3000LastThenTextThenEnd) {
    ModelConfig config = levelConfig(40);
    DeviceRun run(config);
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    std::vector<uint16_t> answer = run.collectAnswer();
    EXPECT_EQ(expectedAnswer(config), answer);
    ASSERT_EQ(16u + 14u + 1u, answer.size());
    EXPECT_EQ(3002, answer[15]);
    EXPECT_EQ(65200 + 'E', answer[16]);
}

TEST(RequestAnswer, InterleavesWithTheMeasurementStream) {
    DeviceRun run(levelConfig(40));
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    int answerWords = 0;
    for (int i = 0; i < 40; ++i) {
        std::vector<uint16_t> words = run.step();
        ASSERT_FALSE(words.empty());
        EXPECT_EQ(40, words[0]);  // every step opens with its measurement
        int inStep = 0;
        for (uint16_t word : words)
            if (!isStreamWord(word)) ++inStep;
        EXPECT_LE(inStep, ANSWER_WORDS_PER_STEP);
        answerWords += inStep;
    }
    EXPECT_EQ(31, answerWords);
}

TEST(RequestAnswer, CustomTextIsSentAsGiven) {
    ModelConfig config = levelConfig(40);
    config.text = "AB 9";
    DeviceRun run(config);
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    std::vector<uint16_t> answer = run.collectAnswer();
    std::vector<uint16_t> tail(answer.end() - 5, answer.end());
    EXPECT_EQ((std::vector<uint16_t>{65265, 65266, 65232, 65257, 65213}), tail);
}

TEST(RequestAnswer, NoAnswerModeSendsOnlyTheStream) {
    ModelConfig config = levelConfig(40);
    config.noAnswer = true;
    DeviceRun run(config);
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    EXPECT_TRUE(run.collectAnswer().empty());
}

TEST(RequestAnswer, RequestDuringAnAnswerStartsItAfresh) {
    ModelConfig config = levelConfig(40);
    DeviceRun run(config);
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    run.step();
    run.step();
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    EXPECT_EQ(expectedAnswer(config), run.collectAnswer());
}

TEST(ParameterWrites, InRangeWordSetsItsParameterAndShowsInTheAnswer) {
    ModelConfig config = levelConfig(40);
    DeviceRun run(config);
    EXPECT_EQ(WordEffect::PARAMETER_SET, run.model.receiveWord(3420, run.now));
    EXPECT_EQ(WordEffect::PARAMETER_SET, run.model.receiveWord(3042, run.now));
    EXPECT_EQ(WordEffect::PARAMETER_SET, run.model.receiveWord(3012, run.now));
    EXPECT_EQ(120, run.model.parameter(3300));
    EXPECT_EQ(2, run.model.parameter(3040));
    EXPECT_EQ(2, run.model.parameter(3010));
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    std::vector<uint16_t> answer = run.collectAnswer();
    EXPECT_NE(answer.end(), std::find(answer.begin(), answer.end(), 3420));
    EXPECT_NE(answer.end(), std::find(answer.begin(), answer.end(), 3042));
    EXPECT_NE(answer.end(), std::find(answer.begin(), answer.end(), 3012));
}

TEST(ParameterWrites, OutOfRangeValuesAreIgnored) {
    DeviceRun run(levelConfig(40));
    const uint16_t rejected[] = {3000, 3003, 3013, 3104, 3100, 3551, 4451, 4539, 4601, 3047, 3052, 3064, 3068, 3070, 3073};
    for (uint16_t word : rejected)
        EXPECT_EQ(WordEffect::PARAMETER_REJECTED, run.model.receiveWord(word, run.now)) << word;
    ModelConfig defaults;
    for (int i = 0; i < PARAMETER_TOTAL; ++i)
        EXPECT_EQ(defaults.parameters[i], run.model.parameter(PARAMETER_SPECS[i].code)) << PARAMETER_SPECS[i].name;
}

TEST(ParameterWrites, RangeEdgesAreAccepted) {
    DeviceRun run(levelConfig(40));
    const uint16_t accepted[] = {3001, 3002, 3105, 3199, 3550, 4540, 4600, 3029, 3046, 3061, 3066, 3072};
    for (uint16_t word : accepted)
        EXPECT_EQ(WordEffect::PARAMETER_SET, run.model.receiveWord(word, run.now)) << word;
    EXPECT_EQ(250, run.model.parameter(3300));
    EXPECT_EQ(99, run.model.parameter(3100));
    EXPECT_EQ(100, run.model.parameter(4500));
    EXPECT_EQ(9, run.model.parameter(3020));
    EXPECT_EQ(6, run.model.parameter(3040));
    EXPECT_EQ(2, run.model.parameter(3070));
}

TEST(ParameterWrites, WordsOutsideTheParameterBandsChangeNothing) {
    DeviceRun run(levelConfig(40));
    EXPECT_EQ(WordEffect::IGNORED, run.model.receiveWord(1500, run.now));
    EXPECT_EQ(WordEffect::IGNORED, run.model.receiveWord(65000, run.now));
    EXPECT_EQ(WordEffect::IGNORED, run.model.receiveWord(65213, run.now));
    EXPECT_EQ(60, run.model.parameter(3100));
}

TEST(WrongParameters, LastWrittenParameterComesBackOffByOne) {
    ModelConfig config = levelConfig(40);
    config.wrongParameters = true;
    DeviceRun run(config);
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    EXPECT_EQ(expectedAnswer(config), run.collectAnswer());  // nothing written yet
    run.model.receiveWord(3170, run.now);
    run.model.receiveWord(WORD_REQUEST_DATA, run.now);
    std::vector<uint16_t> answer = run.collectAnswer();
    EXPECT_EQ(answer.end(), std::find(answer.begin(), answer.end(), 3170));
    EXPECT_NE(answer.end(), std::find(answer.begin(), answer.end(), 3171));
    EXPECT_EQ(70, run.model.parameter(3100));
}

TEST(SpaceKey, SwitchesTheActiveLimitAndBit7OfTheMeasurement) {
    DeviceRun run(levelConfig(40));
    EXPECT_EQ(40, run.step()[0]);
    EXPECT_EQ(WordEffect::SPACE_KEY, run.model.receiveWord(WORD_SPACE_KEY, run.now));
    EXPECT_EQ(1, run.model.activeLimit());
    EXPECT_EQ(168, run.step()[0]);
    run.model.receiveWord(WORD_SPACE_KEY, run.now);
    EXPECT_EQ(0, run.model.activeLimit());
    EXPECT_EQ(40, run.step()[0]);
}

TEST(Peaks, FollowTheCurveAndResetToTheCurrentValue) {
    ModelConfig config;
    config.seed = 7;
    DeviceRun run(config);
    int highest = -1;
    int lowest = 1000;
    for (int i = 0; i < 1500; ++i) {
        std::vector<uint16_t> words = run.step();
        highest = std::max<int>(highest, words[0]);
        lowest = std::min<int>(lowest, words[0]);
        for (uint16_t word : words) {
            if (word >= MAX_PEAK_BASE && word < 1000) {
                EXPECT_EQ(run.model.maxPeak() + 500, word);
            }
            if (word >= MIN_PEAK_BASE && word < MAX_PEAK_BASE) {
                EXPECT_EQ(run.model.minPeak() + 300, word);
            }
        }
    }
    EXPECT_EQ(highest, run.model.maxPeak());
    EXPECT_EQ(lowest, run.model.minPeak());
    ASSERT_LT(lowest, highest);

    int current = run.model.measurement();
    EXPECT_EQ(WordEffect::RESET_MAX, run.model.receiveWord(WORD_RESET_MAX_PEAK, run.now));
    EXPECT_EQ(current, run.model.maxPeak());
    EXPECT_EQ(WordEffect::RESET_MIN, run.model.receiveWord(WORD_RESET_MIN_PEAK, run.now));
    EXPECT_EQ(current, run.model.minPeak());
    std::vector<uint16_t> words = run.step();
    int next = words[0];
    EXPECT_EQ(std::max(current, next) + 500, words[1]);
    EXPECT_EQ(std::min(current, next) + 300, words[2]);
}

TEST(Peaks, AreSentOnChangeAndRepeatedEverySecond) {
    DeviceRun run(levelConfig(33));
    std::vector<uint16_t> first = run.step();
    EXPECT_EQ((std::vector<uint16_t>{33, 533, 333}), first);
    int repeats = 0;
    for (int i = 0; i < 250; ++i)  // 5 s
        for (uint16_t word : run.step())
            if (word == 533) ++repeats;
    EXPECT_EQ(5, repeats);
}

TEST(AlarmTiming, MaxLimitAlarmsAfterStartDelayPlusHold) {
    // Level 70 above setpoint 60 ("Max."): watched from Ts = 1.0 s, alarm after Tr = 2.0 s more.
    DeviceRun run(levelConfig(70));
    uint16_t word = 0;
    EXPECT_EQ(3000u, run.firstAlarmWithin(10000, &word));
    EXPECT_EQ(65010, word);
    EXPECT_TRUE(run.model.alarmOn());
}

TEST(AlarmTiming, AlarmWordsCountSecondsInAlarmAndRepeat) {
    DeviceRun run(levelConfig(70));
    run.firstAlarmWithin(10000);
    std::vector<uint16_t> alarms;
    for (int i = 0; i < 60; ++i)  // 1.2 s after the alarm came on
        for (uint16_t word : run.step())
            if (isAlarmOnWord(word)) alarms.push_back(word);
    ASSERT_GE(alarms.size(), 10u);
    EXPECT_LE(alarms.size(), 13u);
    EXPECT_EQ(65010, alarms.front());
    EXPECT_EQ(65011, alarms.back());
}

TEST(AlarmTiming, ValueInsideTheSetpointNeverAlarms) {
    DeviceRun run(levelConfig(60));  // equal to the setpoint is not above it
    EXPECT_EQ(0u, run.firstAlarmWithin(20000));
    for (int i = 0; i < 100; ++i)
        for (uint16_t word : run.step()) EXPECT_FALSE(word >= ALARM1_BASE && word < 65050);
}

TEST(AlarmTiming, ReturningInsideRestartsTheHold) {
    DeviceRun run(levelConfig(70));
    while (run.now < 2000) run.step();
    run.model.receiveWord(3180, run.now);  // setpoint 80: 70 is inside now
    run.step();
    EXPECT_FALSE(run.model.alarmOn());
    run.model.receiveWord(3160, run.now);  // back to 60 at 2020 ms; next step starts the hold
    EXPECT_EQ(2040u + 2000u, run.firstAlarmWithin(10000));
}

TEST(AlarmTiming, MinLimitTwoUsesGroupTwoWords) {
    ModelConfig config = levelConfig(10);
    config.activeLimit = 1;  // Limit 2: "Min." at 20, Ts 1.0 s, Tr 2.0 s
    DeviceRun run(config);
    uint16_t word = 0;
    EXPECT_EQ(3000u, run.firstAlarmWithin(10000, &word));
    EXPECT_EQ(65035, word);
}

TEST(AlarmTiming, SwitchingLimitRestartsTheStartDelay) {
    DeviceRun run(levelConfig(10));  // inside Limit 1 ("Max." 60), below Limit 2 ("Min." 20)
    EXPECT_EQ(0u, run.firstAlarmWithin(5000));
    run.model.receiveWord(WORD_SPACE_KEY, run.now);  // at 5000 ms
    uint16_t word = 0;
    EXPECT_EQ(5000u + 1000u + 2000u, run.firstAlarmWithin(10000, &word));
    EXPECT_EQ(65035, word);
    run.model.receiveWord(WORD_SPACE_KEY, run.now);
    run.step();
    EXPECT_FALSE(run.model.alarmOn());
}

TEST(AlarmTiming, HoldProgressWordsStayBelowTen) {
    DeviceRun run(levelConfig(70));
    std::vector<uint16_t> progress;
    while (run.now < 2980)
        for (uint16_t word : run.step())
            if (word >= ALARM1_BASE && word < 65050) progress.push_back(word);
    ASSERT_FALSE(progress.empty());
    for (uint16_t word : progress) EXPECT_LT(word, ALARM1_BASE + 10);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST(LoadCurve, StaysInRangeSwingsAndSpikesAcrossTheSetpoint) {
    ModelConfig config;
    config.seed = 12345;
    DeviceRun run(config);
    int highest = 0;
    int lowest = 127;
    int aboveSetpoint = 0;
    for (int i = 0; i < 3000; ++i) {  // 60 s
        int value = run.step()[0];
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 127);  // Limit 1 active: bit 7 clear
        highest = std::max(highest, value);
        lowest = std::min(lowest, value);
        if (value > 60) ++aboveSetpoint;
    }
    EXPECT_GE(highest - lowest, 10);
    EXPECT_GT(aboveSetpoint, 0);
    EXPECT_LT(aboveSetpoint, 1500);  // spikes, not the usual state
}

TEST(LoadCurve, SameSeedSameCurveOtherSeedOtherCurve) {
    ModelConfig a;
    a.seed = 99;
    ModelConfig b = a;
    ModelConfig c = a;
    c.seed = 100;
    DeviceRun runA(a), runB(b), runC(c);
    bool differs = false;
    for (int i = 0; i < 500; ++i) {
        std::vector<uint16_t> wordsA = runA.step();
        EXPECT_EQ(wordsA, runB.step());
        if (wordsA != runC.step()) differs = true;
    }
    EXPECT_TRUE(differs);
}

TEST(LoadCurve, FixedLevelIsHeldWithoutNoise) {
    DeviceRun run(levelConfig(42));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(42, run.step()[0]);
}
