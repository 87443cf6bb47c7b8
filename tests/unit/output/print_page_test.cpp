#include "output/print_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lang/cp1252.h"
#include "../lang/language_guard.h"

namespace {

// Lines are UTF-16; the expectations are written in code page 1252, as the
// language table is.
std::u16string wide(const char* cp1252) {
    char16_t text[PRINT_LINE_SIZE];
    cp1252ToUtf16(cp1252, text, PRINT_LINE_SIZE);
    return text;
}

const PrintLine* lineAt(const PrintLine* lines, int count, int x, int y) {
    for (int i = 0; i < count; ++i)
        if (lines[i].x == x && lines[i].y == y) return &lines[i];
    return nullptr;
}

std::u16string textAt(const PrintLine* lines, int count, int x, int y) {
    const PrintLine* line = lineAt(lines, count, x, y);
    return line != nullptr ? std::u16string(line->text) : u"<no line>";
}

ParameterSet simulatorLikeRecord() {
    ParameterSet record{};
    record.limit1Type = 2;
    record.limit1Setpoint = 60;
    record.limit1Tr = 25;
    record.limit1Ts = 0;
    record.limit1CurrentRange = 2;
    record.limit2Type = 1;
    record.limit2Setpoint = 20;
    record.limit2Tr = 250;
    record.limit2Ts = 10;
    record.limit2CurrentRange = 9;
    record.nominalVoltage = 6;
    record.polarity = 1;
    record.analogueOutput = 0;
    record.outputs = 2;
    record.p1Max = 100;
    record.autoShutDown = 1;
    std::memcpy(record.deviceText, "ELQ770 SIM", 10);
    return record;
}

}  // namespace

TEST(PrintLayout, OrientationFollowsThePrintableArea) {
    PrintLayout portrait = printLayoutFor(2479, 3508);
    EXPECT_EQ(600, portrait.windowWidth);
    EXPECT_EQ(860, portrait.windowHeight);
    EXPECT_EQ(45, portrait.graphX);
    EXPECT_EQ(430, portrait.graphY);
    EXPECT_EQ(150, portrait.listX);
    EXPECT_EQ(500, portrait.listY);
    PrintLayout landscape = printLayoutFor(3508, 2479);
    EXPECT_EQ(860, landscape.windowWidth);
    EXPECT_EQ(600, landscape.windowHeight);
    EXPECT_EQ(310, landscape.graphX);
    EXPECT_EQ(510, landscape.graphY);
    EXPECT_EQ(20, landscape.listX);
    EXPECT_EQ(200, landscape.listY);
    EXPECT_EQ(860, printLayoutFor(1000, 1000).windowWidth) << "a square area counts as landscape";
}

TEST(PrintLayout, FontsByUse) {
    EXPECT_EQ(15, printFontHeightWeight(PrintFont::TITLE).height);
    EXPECT_EQ(700, printFontHeightWeight(PrintFont::TITLE).weight);
    EXPECT_EQ(10, printFontHeightWeight(PrintFont::HEADING).height);
    EXPECT_EQ(700, printFontHeightWeight(PrintFont::HEADING).weight);
    EXPECT_EQ(10, printFontHeightWeight(PrintFont::BODY).height);
    EXPECT_EQ(400, printFontHeightWeight(PrintFont::BODY).weight);
}

TEST(PrintHeader, DeviceDateAndPeaks) {
    LanguageGuard english(0);
    PrintLine lines[HEADER_LINE_COUNT];
    headerLines(lines, "ELQ770 SIM", u"Tuesday, 8 December 2026", u"04:05", 87, 3);
    EXPECT_EQ(u"Corvanta:  ELQ770 SIM", textAt(lines, 3, 40, 35));
    EXPECT_EQ(PrintFont::TITLE, lines[0].font);
    EXPECT_EQ(u"Date: Tuesday, 8 December 2026, 04:05", textAt(lines, 3, 40, 65));
    EXPECT_EQ(wide("Peak values:  Max Peak [%]: 87,   Min Peak [%]: 3"), textAt(lines, 3, 40, 85));
    EXPECT_EQ(PrintFont::BODY, lines[1].font);
    EXPECT_EQ(PrintFont::BODY, lines[2].font);
}

// The system's date text is kept as it is, beyond code page 1252 too; the
// labels come in the language in force.
TEST(PrintHeader, NoDeviceAndGermanLabels) {
    LanguageGuard german(100);
    PrintLine lines[HEADER_LINE_COUNT];
    headerLines(lines, "", u"2026\u5E7412\u67088\u65E5", u"4:05", -1, -1);
    EXPECT_EQ(u"Corvanta:  ", textAt(lines, 3, 40, 35));
    EXPECT_EQ(u"Datum: 2026\u5E7412\u67088\u65E5, 4:05", textAt(lines, 3, 40, 65));
    EXPECT_EQ(u"Spitzenwerte:  Maximalwert [%]: -1,   Minimalwert [%]: -1", textAt(lines, 3, 40, 85));
}

TEST(PrintParameterList, EveryLabelAndValueInItsPlace) {
    LanguageGuard english(0);
    PrintLine lines[PARAMETER_LINE_COUNT];
    parameterListLines(lines, simulatorLikeRecord(), 150, 500);
    const int n = PARAMETER_LINE_COUNT;
    struct Expected {
        int x, y;
        const char* text;
        PrintFont font;
    };
    const Expected expected[] = {
        {170, 515, "Parameters", PrintFont::TITLE},
        {170, 535, "Limit 1", PrintFont::HEADING},
        {170, 550, "Limit      : Max.", PrintFont::BODY},
        {170, 565, "Setpoint   : 60%", PrintFont::BODY},
        {170, 580, "Tr         : 2.5s", PrintFont::BODY},
        {170, 595, "Ts         : 0.0s", PrintFont::BODY},
        {170, 610, "Current rng: 10A", PrintFont::BODY},
        {170, 640, "Limit 2", PrintFont::HEADING},
        {170, 655, "Limit      : Min.", PrintFont::BODY},
        {170, 670, "Setpoint   : 20%", PrintFont::BODY},
        {170, 685, "Tr         : 25.0s", PrintFont::BODY},
        {170, 700, "Ts         : 1.0s", PrintFont::BODY},
        {170, 715, "Current rng: 80A", PrintFont::BODY},
        {170, 745, "Active Limit: Limit 1 (Max)  ", PrintFont::BODY},
        {310, 535, "Setup", PrintFont::HEADING},
        {310, 550, "Voltage    : 575V", PrintFont::BODY},
        {310, 565, "Iout       : 0-20mA", PrintFont::BODY},
        {310, 595, "Zoom", PrintFont::HEADING},
        {310, 610, "P1Max      : 100%", PrintFont::BODY},
        {310, 640, "Outputs", PrintFont::HEADING},
        {310, 655, "Outputs    : 2", PrintFont::BODY},
        {310, 670, "Polarity   : inv", PrintFont::BODY},
        {310, 700, "Auto ShutDn: On", PrintFont::BODY},
    };
    static_assert(sizeof expected / sizeof expected[0] == PARAMETER_LINE_COUNT);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.text);
        const PrintLine* line = lineAt(lines, n, e.x, e.y);
        ASSERT_NE(nullptr, line);
        EXPECT_EQ(wide(e.text), std::u16string(line->text));
        EXPECT_EQ(e.font, line->font);
    }
}

// Other values of the switches, the limit type 0, limit 2 active, and codes a
// device can report beyond the value texts: printed as their number.
TEST(PrintParameterList, OtherValuesAndCodesBeyondTheValueTexts) {
    LanguageGuard english(0);
    ParameterSet record = simulatorLikeRecord();
    record.limit1Type = 0;
    record.limit2Type = 7;
    record.limit1CurrentRange = 10;
    record.limit2CurrentRange = 65535;
    record.nominalVoltage = 7;
    record.analogueOutput = 1;
    record.polarity = 0;
    record.autoShutDown = 0;
    record.activeLimit = 1;
    PrintLine lines[PARAMETER_LINE_COUNT];
    parameterListLines(lines, record, 20, 200);
    const int n = PARAMETER_LINE_COUNT;
    EXPECT_EQ(wide("Limit      : "), textAt(lines, n, 40, 250));
    EXPECT_EQ(wide("Limit      : 7"), textAt(lines, n, 40, 355));
    EXPECT_EQ(wide("Current rng: 10"), textAt(lines, n, 40, 310));
    EXPECT_EQ(wide("Current rng: 65535"), textAt(lines, n, 40, 415));
    EXPECT_EQ(wide("Voltage    : 7"), textAt(lines, n, 180, 250));
    EXPECT_EQ(wide("Iout       : 4-20mA"), textAt(lines, n, 180, 265));
    EXPECT_EQ(wide("Polarity   : n.inv"), textAt(lines, n, 180, 370));
    EXPECT_EQ(wide("Auto ShutDn: Off"), textAt(lines, n, 180, 400));
    EXPECT_EQ(wide("Active Limit: Limit 2 (Max)  "), textAt(lines, n, 40, 445));
    std::memset(record.deviceText, 0, sizeof record.deviceText);
    parameterListLines(lines, record, 20, 200);
    EXPECT_EQ(wide("Active Limit: - - -                    "), textAt(lines, n, 40, 445));
}

TEST(PrintParameterList, GermanLabelsKeepTheirUmlauts) {
    LanguageGuard german(100);
    PrintLine lines[PARAMETER_LINE_COUNT];
    parameterListLines(lines, simulatorLikeRecord(), 150, 500);
    const int n = PARAMETER_LINE_COUNT;
    EXPECT_EQ(u"Parameter", textAt(lines, n, 170, 515));
    EXPECT_EQ(u"Ausg\u00E4nge   : 2", textAt(lines, n, 310, 655));
    EXPECT_EQ(u"Polarit\u00E4t  : inv", textAt(lines, n, 310, 670));
    EXPECT_EQ(u"Auto-Absch.: Ein", textAt(lines, n, 310, 700));
    EXPECT_EQ(u"Aktive Grenze: Grenze 1 (Max)  ", textAt(lines, n, 170, 745));
}
