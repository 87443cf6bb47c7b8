#include "output/print_page.h"

#include <cstdio>
#include <cstring>

#include "display/readout_text.h"
#include "lang/cp1252.h"
#include "lang/language_table.h"
#include "params/parameter_values.h"

namespace {

constexpr PrintLayout PORTRAIT{600, 860, 45, 430, 150, 500};
constexpr PrintLayout LANDSCAPE{860, 600, 310, 510, 20, 200};

constexpr const char* MAKER_PREFIX = "Corvanta: ";

// Language table entries the page prints.
constexpr int TXT_OFF = 3;
constexpr int TXT_ON = 4;
constexpr int TXT_ZOOM = 15;
constexpr int TXT_OUTPUTS = 16;
constexpr int TXT_LIMIT1 = 20;
constexpr int TXT_LIMIT2 = 21;
constexpr int TXT_SETUP = 23;
constexpr int TXT_MAX_PEAK = 25;
constexpr int TXT_MIN_PEAK = 26;
constexpr int TXT_DATE = 30;
constexpr int TXT_PEAK_VALUES = 31;
constexpr int TXT_PARAMETERS = 32;
constexpr int LBL_AUTO_SHUT_DOWN = 50;
constexpr int LBL_CURRENT_RANGE = 51;
constexpr int LBL_VOLTAGE = 52;
constexpr int LBL_OUTPUTS = 53;
constexpr int LBL_IOUT = 54;
constexpr int LBL_LIMIT = 55;
constexpr int LBL_P1_MAX = 56;
constexpr int LBL_ACTIVE_LIMIT = 57;
constexpr int LBL_POLARITY = 58;
constexpr int LBL_SETPOINT = 59;
constexpr int LBL_TR = 61;
constexpr int LBL_TS = 62;

constexpr int COLUMN2_DX = 160;
constexpr int COLUMN1_DX = 20;

// Builds one line in code page 1252 and converts it whole.
class LineWriter {
public:
    explicit LineWriter(PrintLine* lines) : lines_(lines) {}

    void add(int x, int y, PrintFont font, const char* text) {
        PrintLine& line = lines_[count_++];
        line.x = x;
        line.y = y;
        line.font = font;
        cp1252ToUtf16(text, line.text, PRINT_LINE_SIZE);
    }

    void addText(int x, int y, PrintFont font, int index) {
        char text[LANGUAGE_TEXT_SIZE];
        langText(text, index);
        add(x, y, font, text);
    }

    // A body line: the label, then the value directly behind it.
    void addValue(int x, int y, int label, const char* value) {
        char text[LANGUAGE_TEXT_SIZE + 32];
        langText(text, label);
        std::strncat(text, value, sizeof text - std::strlen(text) - 1);
        add(x, y, PrintFont::BODY, text);
    }

    int count() const { return count_; }

private:
    PrintLine* lines_;
    int count_ = 0;
};

void percentText(char* text, std::size_t size, uint16_t value) { std::snprintf(text, size, "%u%%", value); }

void secondsText(char* text, std::size_t size, uint16_t tenths) {
    formatTenths(text, size - 1, tenths);
    std::strcat(text, "s");
}

// The rows of one limit's block, column 1, from y.
void limitBlock(LineWriter& out, int x, int y, int heading, uint16_t type, uint16_t setpoint, uint16_t tr,
                uint16_t ts, uint16_t currentRange) {
    char value[32];
    out.addText(x, y, PrintFont::HEADING, heading);
    limitTypeText(value, type);
    out.addValue(x, y + 15, LBL_LIMIT, value);
    percentText(value, sizeof value, setpoint);
    out.addValue(x, y + 30, LBL_SETPOINT, value);
    secondsText(value, sizeof value, tr);
    out.addValue(x, y + 45, LBL_TR, value);
    secondsText(value, sizeof value, ts);
    out.addValue(x, y + 60, LBL_TS, value);
    currentRangeText(value, currentRange);
    out.addValue(x, y + 75, LBL_CURRENT_RANGE, value);
}

}  // namespace

PrintLayout printLayoutFor(int horzRes, int vertRes) { return horzRes < vertRes ? PORTRAIT : LANDSCAPE; }

PrintFontSpec printFontSpec(PrintFont font) {
    switch (font) {
    case PrintFont::TITLE: return {15, 700};
    case PrintFont::HEADING: return {10, 700};
    case PrintFont::BODY: break;
    }
    return {10, 400};
}

int printTextLength(const char16_t* text) {
    int length = 0;
    while (text[length] != 0) ++length;
    return length;
}

void headerLines(PrintLine lines[HEADER_LINE_COUNT], const char* deviceText, const char16_t* date,
                 const char16_t* time, int32_t maxPeak, int32_t minPeak) {
    LineWriter out(lines);
    char text[LANGUAGE_TEXT_SIZE * 3 + 64];
    std::snprintf(text, sizeof text, "%s %s", MAKER_PREFIX, deviceText);
    out.add(40, 35, PrintFont::TITLE, text);

    langText(text, TXT_DATE);
    std::strcat(text, ": ");
    out.add(40, 65, PrintFont::BODY, text);
    // The system's date and time go behind the label as they are.
    char16_t* end = lines[1].text + printTextLength(lines[1].text);
    char16_t* limit = lines[1].text + PRINT_LINE_SIZE - 1;
    auto append = [&](const char16_t* piece) {
        while (*piece != 0 && end < limit) *end++ = *piece++;
    };
    append(date);
    append(u", ");
    append(time);
    *end = 0;

    char label[LANGUAGE_TEXT_SIZE];
    langText(text, TXT_PEAK_VALUES);
    std::strcat(text, ":  ");
    langText(label, TXT_MAX_PEAK);
    std::strcat(text, label);
    std::snprintf(text + std::strlen(text), 32, " %d,   ", static_cast<int>(maxPeak));
    langText(label, TXT_MIN_PEAK);
    std::strcat(text, label);
    std::snprintf(text + std::strlen(text), 32, " %d", static_cast<int>(minPeak));
    out.add(40, 85, PrintFont::BODY, text);
}

void parameterListLines(PrintLine lines[PARAMETER_LINE_COUNT], const ParameterSet& record, int a, int b) {
    LineWriter out(lines);
    const int x1 = a + COLUMN1_DX;
    const int x2 = a + COLUMN2_DX;
    char value[READOUT_TEXT_SIZE];

    out.addText(x1, b + 15, PrintFont::TITLE, TXT_PARAMETERS);
    limitBlock(out, x1, b + 35, TXT_LIMIT1, record.limit1Type, record.limit1Setpoint, record.limit1Tr,
               record.limit1Ts, record.limit1CurrentRange);
    limitBlock(out, x1, b + 140, TXT_LIMIT2, record.limit2Type, record.limit2Setpoint, record.limit2Tr,
               record.limit2Ts, record.limit2CurrentRange);

    out.addText(x2, b + 35, PrintFont::HEADING, TXT_SETUP);
    nominalVoltageText(value, record.nominalVoltage);
    out.addValue(x2, b + 50, LBL_VOLTAGE, value);
    out.addValue(x2, b + 65, LBL_IOUT, record.analogueOutput != 0 ? "4-20mA" : "0-20mA");
    out.addText(x2, b + 95, PrintFont::HEADING, TXT_ZOOM);
    percentText(value, sizeof value, record.p1Max);
    out.addValue(x2, b + 110, LBL_P1_MAX, value);
    out.addText(x2, b + 140, PrintFont::HEADING, TXT_OUTPUTS);
    std::snprintf(value, sizeof value, "%u", record.outputs);
    out.addValue(x2, b + 155, LBL_OUTPUTS, value);
    out.addValue(x2, b + 170, LBL_POLARITY, record.polarity != 0 ? "inv" : "n.inv");
    langText(value, record.autoShutDown != 0 ? TXT_ON : TXT_OFF);
    out.addValue(x2, b + 200, LBL_AUTO_SHUT_DOWN, value);

    activeLimitText(value, sizeof value, record.deviceText[0] != '\0', record.activeLimit, record.limit1Type,
                    record.limit2Type);
    out.addValue(x1, b + 245, LBL_ACTIVE_LIMIT, value);
}
