#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/sim/sim_options.h"

using namespace sim;

namespace {

ParseResult parse(std::vector<const char*> args, SimOptions& options, std::string& error) {
    args.insert(args.begin(), "elq770-sim");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

bool rejected(std::vector<const char*> args) {
    SimOptions options;
    std::string error;
    bool failed = parse(args, options, error) == ParseResult::FAILED;
    EXPECT_FALSE(error.empty());
    return failed;
}

}  // namespace

TEST(SimOptionsParsing, ValuesReachTheDeviceConfiguration) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(ParseResult::OK,
              parse({"--link", "/tmp/x/com1", "--log=/tmp/x/log", "--level", "42", "--setpoint1", "70",
                     "--setpoint2", "15", "--param", "3300=120", "--limit2", "--seed", "5", "--drop", "10",
                     "--corrupt", "20", "--garbage", "--hangup-after", "3", "--wrong-params", "--no-answer",
                     "--silent", "--text", "Unit 7"},
                    options, error))
        << error;
    EXPECT_EQ("/tmp/x/com1", options.linkPath);
    EXPECT_EQ("/tmp/x/log", options.logPath);
    EXPECT_EQ(42, options.model.fixedLevel);
    EXPECT_EQ(1, options.model.activeLimit);
    EXPECT_EQ(70, options.model.parameters[parameterIndexOfCode(3100)]);
    EXPECT_EQ(15, options.model.parameters[parameterIndexOfCode(3200)]);
    EXPECT_EQ(120, options.model.parameters[parameterIndexOfCode(3300)]);
    EXPECT_TRUE(options.seedGiven);
    EXPECT_EQ(5u, options.model.seed);
    EXPECT_EQ(10, options.dropPercent);
    EXPECT_EQ(20, options.corruptPercent);
    EXPECT_TRUE(options.garbage);
    EXPECT_EQ(3, options.hangupAfterSeconds);
    EXPECT_TRUE(options.model.wrongParameters);
    EXPECT_TRUE(options.model.noAnswer);
    EXPECT_TRUE(options.silent);
    EXPECT_EQ("Unit 7", options.model.text);
}

TEST(SimOptionsParsing, OutOfRangeOrMalformedValuesAreRefused) {
    EXPECT_TRUE(rejected({"--level", "128"}));
    EXPECT_TRUE(rejected({"--level", "-1"}));
    EXPECT_TRUE(rejected({"--level", "4x"}));
    EXPECT_TRUE(rejected({"--setpoint1", "4"}));
    EXPECT_TRUE(rejected({"--setpoint2", "100"}));
    EXPECT_TRUE(rejected({"--param", "3000=3"}));
    EXPECT_TRUE(rejected({"--param", "3001=1"}));  // not a parameter code
    EXPECT_TRUE(rejected({"--param", "4500"}));
    EXPECT_TRUE(rejected({"--drop", "101"}));
    EXPECT_TRUE(rejected({"--text", "0123456789012345678901234567890X"}));  // 32 characters
    EXPECT_TRUE(rejected({"--text", ""}));
    EXPECT_TRUE(rejected({"--seed"}));
    EXPECT_TRUE(rejected({"--bogus"}));
    EXPECT_TRUE(rejected({"--silent=1"}));
    EXPECT_TRUE(rejected({"stray"}));
    EXPECT_TRUE(rejected({"--link", "a", "--port", "b"}));
}

TEST(SimOptionsParsing, HelpWinsAndListsEveryOption) {
    SimOptions options;
    std::string error;
    EXPECT_EQ(ParseResult::HELP, parse({"--level", "5", "--help"}, options, error));
    std::string help = helpText();
    const char* names[] = {"--link", "--port", "--log", "--text", "--level", "--limit2", "--setpoint1",
                           "--setpoint2", "--param", "--silent", "--no-answer", "--drop", "--corrupt",
                           "--garbage", "--hangup-after", "--wrong-params", "--seed", "--help"};
    for (const char* name : names) EXPECT_NE(std::string::npos, help.find(std::string("  ") + name + " ")) << name;
    // Every listed option is accepted (with a plausible value where it takes one).
    for (const char* name : names) {
        if (std::string(name) == "--help" || std::string(name) == "--port") continue;
        SimOptions each;
        std::string value = std::string(name) == "--param" ? "3100=50"
                          : std::string(name) == "--text"   ? "T"
                          : std::string(name) == "--link" || std::string(name) == "--log" ? "/tmp/p"
                                                            : "10";
        std::vector<const char*> args = {name};
        bool flag = help.find(std::string("  ") + name + "  ") != std::string::npos;
        if (!flag) args.push_back(value.c_str());
        EXPECT_EQ(ParseResult::OK, parse(args, each, error)) << name << ": " << error;
    }
}

TEST(SimOptionsParsing, DefaultsAreAFreeRunningDevice) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(ParseResult::OK, parse({}, options, error));
    EXPECT_EQ(-1, options.model.fixedLevel);
    EXPECT_EQ(0, options.model.activeLimit);
    EXPECT_EQ("ELQ770 SIM 1.0", options.model.text);
    EXPECT_FALSE(options.seedGiven);
    EXPECT_EQ(-1, options.hangupAfterSeconds);
}

TEST(SimOptionsParsing, ReplayTakesASpeedAndALoopAndTheyNeedIt) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(ParseResult::OK, parse({"--replay", "/tmp/r.pcap", "--speed", "2.5", "--loop"}, options, error)) << error;
    EXPECT_EQ("/tmp/r.pcap", options.replayPath);
    EXPECT_DOUBLE_EQ(2.5, options.replaySpeed);
    EXPECT_TRUE(options.replayLoop);
    EXPECT_TRUE(rejected({"--speed", "2"}));
    EXPECT_TRUE(rejected({"--loop"}));
    EXPECT_TRUE(rejected({"--replay", "r", "--speed", "0"}));
    EXPECT_TRUE(rejected({"--replay", "r", "--speed", "2x"}));
    EXPECT_TRUE(rejected({"--replay", "r", "--speed", "nan"}));
    EXPECT_TRUE(rejected({"--replay", ""}));
    std::string help = helpText();
    for (const char* name : {"--replay", "--speed", "--loop"})
        EXPECT_NE(std::string::npos, help.find(std::string("  ") + name + " ")) << name;
}
