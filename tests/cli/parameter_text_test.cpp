// The tool's own rules, without a device: NAME=VALUE by the property sheet's
// entry rules, value texts, JSON of any device text, and the timestamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "cli/console/clock.h"
#include "cli/device/parameter_text.h"

namespace {

// The value the assignment left in a record, or -1 when it was refused
// (and then the record must be untouched).
int taken(const std::string& assignment) {
    ParameterSet record{};
    record.limit1Setpoint = 77;
    std::string refused = applyAssignment(assignment, &record);
    if (!refused.empty()) {
        EXPECT_EQ(record.limit1Setpoint, 77) << assignment;
        return -1;
    }
    std::string name = assignment.substr(0, assignment.find('='));
    return record.*parameterNamed(name)->field;
}

}  // namespace

TEST(SetAssignment, SecondsTakeCommaOrPointWithinTheSheetsRange) {
    EXPECT_EQ(taken("limit1Tr=12,5"), 125);
    EXPECT_EQ(taken("limit2Ts=12.5"), 125);
    EXPECT_EQ(taken("limit1Ts=.5"), 5);
    EXPECT_EQ(taken("limit1Ts=5."), 50);
    EXPECT_EQ(taken("limit1Tr=25"), 250);
    EXPECT_EQ(taken("limit1Tr=2.55"), 25);
    for (const char* refused : {"limit1Tr=25.1", "limit1Tr=1234", "limit1Tr=abc", "limit1Tr=", "limit1Tr=-1",
                                "limit1Tr=1e2"})
        EXPECT_EQ(taken(refused), -1) << refused;
}

TEST(SetAssignment, NumbersAndListTextsWithinTheSheetsRanges) {
    EXPECT_EQ(taken("limit1Setpoint=5"), 5);
    EXPECT_EQ(taken("LIMIT1SETPOINT=99"), 99);
    EXPECT_EQ(taken("p1Max=40"), 40);
    EXPECT_EQ(taken("limit1Type=max"), 2);
    EXPECT_EQ(taken("limit2Type=Min."), 1);
    EXPECT_EQ(taken("nominalVoltage=575V"), 6);
    EXPECT_EQ(taken("limit2CurrentRange=80A"), 9);
    EXPECT_EQ(taken("analogueOutput=4-20mA"), 1);
    EXPECT_EQ(taken("autoShutDown=On"), 1);
    EXPECT_EQ(taken("outputs=2"), 2);
    for (const char* refused : {"limit1Setpoint=100", "limit1Setpoint=4", "limit1Setpoint=65541", "p1Max=30",
                                "outputs=0", "limit1Type=0", "nominalVoltage=7", "nominalVoltage=999V",
                                "limit1Setpoint=5O"})
        EXPECT_EQ(taken(refused), -1) << refused;
    ParameterSet record{};
    EXPECT_NE(applyAssignment("volume=3", &record).find("no parameter is named 'volume'"), std::string::npos);
    EXPECT_NE(applyAssignment("limit1Setpoint", &record).find("NAME=VALUE"), std::string::npos);
}

TEST(ParameterText, CodesOutsideTheValueTableShowAsNumbers) {
    EXPECT_EQ(valueText(&ParameterSet::limit1CurrentRange, 2), "10A");
    EXPECT_EQ(valueText(&ParameterSet::limit1CurrentRange, 12), "12");
    EXPECT_EQ(valueText(&ParameterSet::nominalVoltage, 9), "9");
    EXPECT_EQ(valueText(&ParameterSet::limit2Type, 0), "");
    EXPECT_EQ(valueText(&ParameterSet::limit2Tr, 250), "25.0s");
}

// A device or file can bring any byte into the text; JSON must stay valid.
TEST(ParameterText, DeviceTextReachesJsonAndTableAsUtf8) {
    ParameterSet record{};
    std::memcpy(record.deviceText, "Caf\xE9 \x80", 6);
    EXPECT_NO_THROW(parameterJson(record).dump());
    EXPECT_EQ(parameterJson(record)["deviceText"], "Caf\xC3\xA9 \xE2\x82\xAC");
    std::memset(record.deviceText, 'A', sizeof record.deviceText);  // no NUL at all
    EXPECT_EQ(parameterJson(record)["deviceText"].get<std::string>().size(), 32u);
}

TEST(MonitorTimestamp, LocalTimeWithMillisecondsAndItsUtcOffset) {
    const char* saved = std::getenv("TZ");
    std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "<+02>-2", 1);
    tzset();
    EXPECT_EQ(isoTimestamp(1234), "1970-01-01T02:00:01.234+02:00");
    setenv("TZ", "<-0330>3:30", 1);
    tzset();
    EXPECT_EQ(isoTimestamp(1234), "1969-12-31T20:30:01.234-03:30");
    if (saved != nullptr) setenv("TZ", previous.c_str(), 1); else unsetenv("TZ");
    tzset();
}
