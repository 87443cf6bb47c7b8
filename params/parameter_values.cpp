#include "params/parameter_values.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint16_t TENTHS_TOO_LONG = 9999;
constexpr int SEPARATOR_SEARCH = 4;

bool isSeparator(char c) { return c == '.' || c == ','; }

// Index of the first separator among the first four characters, or -1.
int findSeparator(const char* text, int length) {
    int limit = length < SEPARATOR_SEARCH ? length : SEPARATOR_SEARCH;
    for (int i = 0; i < limit; ++i)
        if (isSeparator(text[i])) return i;
    return -1;
}

void indexedText(char* text, int first, int count, uint16_t code) {
    if (code < count)
        std::memcpy(text, VALUE_TEXTS[first + code], VALUE_TEXT_SIZE);
    else
        std::snprintf(text, VALUE_TEXT_SIZE, "%u", static_cast<unsigned>(code));
}

}  // namespace

uint16_t parseTenths(const char* text, int length) {
    if (length <= 0) return 0;
    char digits[8] = {};
    int separator = findSeparator(text, length);
    if (separator < 0) {
        if (length > 3) return TENTHS_TOO_LONG;
        std::memcpy(digits, text, static_cast<std::size_t>(length));
        digits[length] = '0';
    } else {
        // The integer digits, then the first digit after the separator or 0.
        std::memcpy(digits, text, static_cast<std::size_t>(separator));
        digits[separator] = separator + 1 < length ? text[separator + 1] : '0';
    }
    // atoi's rules (blanks, a sign, digits up to the first other character),
    // taken as 16 bits: a negative entry becomes a large, refused value.
    return static_cast<uint16_t>(std::atoi(digits));
}

void formatTenths(char* text, std::size_t size, uint16_t value) {
    std::snprintf(text, size, "%d.%d", value / 10, value % 10);
}

const ParameterRange PARAMETER_RANGES[PARAMETER_COUNT] = {
    {&ParameterSet::limit1Type, CODE_LIMIT1_TYPE, 1, 2, "limit1Type"},
    {&ParameterSet::limit1Setpoint, CODE_LIMIT1_SETPOINT, 5, 99, "limit1Setpoint"},
    {&ParameterSet::limit1Tr, CODE_LIMIT1_TR, 0, 250, "limit1Tr"},
    {&ParameterSet::limit1Ts, CODE_LIMIT1_TS, 0, 250, "limit1Ts"},
    {&ParameterSet::limit1CurrentRange, CODE_LIMIT1_CURRENT_RANGE, 0, 9, "limit1CurrentRange"},
    {&ParameterSet::limit2Type, CODE_LIMIT2_TYPE, 1, 2, "limit2Type"},
    {&ParameterSet::limit2Setpoint, CODE_LIMIT2_SETPOINT, 5, 99, "limit2Setpoint"},
    {&ParameterSet::limit2Tr, CODE_LIMIT2_TR, 0, 250, "limit2Tr"},
    {&ParameterSet::limit2Ts, CODE_LIMIT2_TS, 0, 250, "limit2Ts"},
    {&ParameterSet::limit2CurrentRange, CODE_LIMIT2_CURRENT_RANGE, 0, 9, "limit2CurrentRange"},
    {&ParameterSet::nominalVoltage, CODE_NOMINAL_VOLTAGE, 0, 6, "nominalVoltage"},
    {&ParameterSet::polarity, CODE_POLARITY, 0, 1, "polarity"},
    {&ParameterSet::analogueOutput, CODE_ANALOGUE_OUTPUT, 0, 1, "analogueOutput"},
    {&ParameterSet::outputs, CODE_OUTPUTS, 1, 2, "outputs"},
    {&ParameterSet::p1Max, CODE_P1_MAX, 40, 100, "p1Max"},
    {&ParameterSet::autoShutDown, CODE_AUTO_SHUT_DOWN, 0, 1, "autoShutDown"},
};

const ParameterRange* parameterRangeOf(uint16_t ParameterSet::*field) {
    for (const ParameterRange& range : PARAMETER_RANGES)
        if (range.field == field) return &range;
    return nullptr;
}

const char* const ANALOGUE_OUTPUT_TEXTS[2] = {"0-20mA", "4-20mA"};
const char* const POLARITY_TEXTS[2] = {"n.inv", "inv"};

bool isTenthsField(uint16_t ParameterSet::*field) {
    return field == &ParameterSet::limit1Tr || field == &ParameterSet::limit1Ts ||
           field == &ParameterSet::limit2Tr || field == &ParameterSet::limit2Ts;
}

int valueInRange(const ParameterRange& range, uint32_t value) {
    return value >= range.minimum && value <= range.maximum ? 1 : 0;
}

const ParameterRange* firstValueOutsideRange(const ParameterSet& record) {
    for (const ParameterRange& range : PARAMETER_RANGES)
        if (!valueInRange(range, record.*range.field)) return &range;
    return nullptr;
}

const char VALUE_TEXTS[VALUE_TEXT_COUNT][VALUE_TEXT_SIZE] = {
    "",     "Min.", "Max.", "1A",   "5A",   "10A",  "20A",  "30A",  "40A",  "50A",
    "60A",  "70A",  "80A",  "230V", "380V", "400V", "440V", "460V", "500V", "575V",
};

void limitTypeText(char* text, uint16_t type) { indexedText(text, 0, 3, type); }

void currentRangeText(char* text, uint16_t code) {
    indexedText(text, VALUE_TEXT_CURRENT_RANGE, 10, code);
}

void nominalVoltageText(char* text, uint16_t code) {
    indexedText(text, VALUE_TEXT_NOMINAL_VOLTAGE, 7, code);
}
