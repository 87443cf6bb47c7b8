#include "output/print_page.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "display/readout_text.h"
#include "lang/cp1252.h"
#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "params/parameter_values.h"

namespace {

constexpr PrintLayout PORTRAIT{600, 860, 45, 430, 150, 500};
constexpr PrintLayout LANDSCAPE{860, 600, 310, 510, 20, 200};


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

}  // namespace

PrintLayout printLayoutFor(int horzRes, int vertRes) { return horzRes < vertRes ? PORTRAIT : LANDSCAPE; }

PrintFontHeightWeight printFontHeightWeight(PrintFont font) {
    switch (font) {
    case PrintFont::TITLE: return {15, 700};
    case PrintFont::HEADING: return {10, 700};
    case PrintFont::BODY: break;
    }
    return {10, 400};
}

int printTextLength(const char16_t* text) {
    return static_cast<int>(std::char_traits<char16_t>::length(text));
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
    for (const ParameterListRow& row : PARAMETER_LIST_ROWS) {
        int x = row.column == 0 ? x1 : x2;
        if (row.field == nullptr) {
            out.addText(x, b + row.dy, PrintFont::HEADING, row.textIndex);
            continue;
        }
        parameterValueText(value, sizeof value, currentLanguage(), row.field, record.*row.field);
        out.addValue(x, b + row.dy, row.textIndex, value);
    }
    activeLimitText(value, sizeof value, currentLanguage(), record.deviceText[0] != '\0', record.activeLimit,
                    record.limit1Type, record.limit2Type);
    out.addValue(x1, b + 245, LBL_ACTIVE_LIMIT, value);
}

const ParameterListRow PARAMETER_LIST_ROWS[PARAMETER_LIST_ROW_COUNT] = {
    {0, 35, TXT_LIMIT1, nullptr},
    {0, 50, LBL_LIMIT, &ParameterSet::limit1Type},
    {0, 65, LBL_SETPOINT, &ParameterSet::limit1Setpoint},
    {0, 80, LBL_TR, &ParameterSet::limit1Tr},
    {0, 95, LBL_TS, &ParameterSet::limit1Ts},
    {0, 110, LBL_CURRENT_RANGE, &ParameterSet::limit1CurrentRange},
    {0, 140, TXT_LIMIT2, nullptr},
    {0, 155, LBL_LIMIT, &ParameterSet::limit2Type},
    {0, 170, LBL_SETPOINT, &ParameterSet::limit2Setpoint},
    {0, 185, LBL_TR, &ParameterSet::limit2Tr},
    {0, 200, LBL_TS, &ParameterSet::limit2Ts},
    {0, 215, LBL_CURRENT_RANGE, &ParameterSet::limit2CurrentRange},
    {1, 35, TXT_SETUP, nullptr},
    {1, 50, LBL_VOLTAGE, &ParameterSet::nominalVoltage},
    {1, 65, LBL_IOUT, &ParameterSet::analogueOutput},
    {1, 95, TXT_ZOOM, nullptr},
    {1, 110, LBL_P1_MAX, &ParameterSet::p1Max},
    {1, 140, TXT_OUTPUTS, nullptr},
    {1, 155, LBL_OUTPUTS, &ParameterSet::outputs},
    {1, 170, LBL_POLARITY, &ParameterSet::polarity},
    {1, 200, LBL_AUTO_SHUT_DOWN, &ParameterSet::autoShutDown},
};

void parameterValueText(char* text, std::size_t size, int languageOffset, uint16_t ParameterSet::*field,
                        uint16_t value) {
    using F = uint16_t ParameterSet::*;
    auto either = [field](F a, F b) { return field == a || field == b; };
    char word[LANGUAGE_TEXT_SIZE];
    if (either(&ParameterSet::limit1Type, &ParameterSet::limit2Type)) {
        limitTypeText(word, value);
    } else if (either(&ParameterSet::limit1CurrentRange, &ParameterSet::limit2CurrentRange)) {
        currentRangeText(word, value);
    } else if (field == &ParameterSet::nominalVoltage) {
        nominalVoltageText(word, value);
    } else if (either(&ParameterSet::limit1Setpoint, &ParameterSet::limit2Setpoint) ||
               field == &ParameterSet::p1Max) {
        std::snprintf(word, sizeof word, "%u%%", value);
    } else if (isTenthsField(field)) {
        formatTenths(word, sizeof word - 1, value);
        std::strcat(word, "s");
    } else if (field == &ParameterSet::analogueOutput) {
        std::strcpy(word, ANALOGUE_OUTPUT_TEXTS[value != 0]);
    } else if (field == &ParameterSet::polarity) {
        std::strcpy(word, POLARITY_TEXTS[value != 0]);
    } else if (field == &ParameterSet::autoShutDown) {
        langTextIn(word, languageOffset, value != 0 ? TXT_ON : TXT_OFF);
    } else {
        std::snprintf(word, sizeof word, "%u", value);
    }
    std::snprintf(text, size, "%s", word);
}
