// What a parameter value means and which values are allowed: the entry rules
// of the property sheet, the tenths-of-a-second texts, the value texts of the
// printout and the band check that a parameter file must pass. Portable;
// shared by the window program and the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "params/parameter_set.h"

// The value of a Tr or Ts text in tenths of a second, as the sheet reads it:
// "." and "," both separate one decimal; digits beyond it are dropped; four
// or more digits without a separator give 9999, which every caller refuses.
// length is the number of characters in text (at most 5 are looked at).
uint16_t parseTenths(const char* text, int length);

// "%d.%d" of value / 10 and value % 10: the text the sheet shows for Tr, Ts.
void formatTenths(char* text, std::size_t size, uint16_t value);

// The values the property sheet lets the user enter for one parameter.
struct ParameterRange {
    uint16_t ParameterSet::*field;
    uint16_t code;
    uint16_t minimum;
    uint16_t maximum;
    const char* name;  // the record's field name, as the command-line tool takes it
};

// The sixteen parameters in record order with their entry ranges.
extern const ParameterRange PARAMETER_RANGES[PARAMETER_COUNT];
const ParameterRange* parameterRangeOf(uint16_t ParameterSet::*field);
// Whole entries, so that a number beyond 16 bits is refused, never wrapped.
int valueInRange(const ParameterRange& range, uint32_t value);

// True for the four delay times (Tr, Ts of both limits), held in tenths of
// a second.
bool isTenthsField(uint16_t ParameterSet::*field);

// The two choices of the analogue output and of the output polarity, by
// value (the sheet's lists and the printout).
extern const char* const ANALOGUE_OUTPUT_TEXTS[2];
extern const char* const POLARITY_TEXTS[2];

// The first of the sixteen parameters (in record order) whose value is
// outside the range the sheet lets a user enter, or nullptr when all are
// inside. A parameter file that fails this check is refused: an all-zero
// record (limit type 0, setpoint 0 %, no outputs) would otherwise reach a
// protection device. Every range lies inside its band, so a record that
// passes also downloads each value as its own parameter.
const ParameterRange* firstValueOutsideRange(const ParameterSet& record);

// The printout's value texts: "" and the limit types, the current ranges from
// entry 3, the nominal voltages from entry 13; 10-byte fields.
constexpr int VALUE_TEXT_COUNT = 20;
constexpr int VALUE_TEXT_SIZE = 10;
constexpr int VALUE_TEXT_CURRENT_RANGE = 3;
constexpr int VALUE_TEXT_NOMINAL_VOLTAGE = 13;
extern const char VALUE_TEXTS[VALUE_TEXT_COUNT][VALUE_TEXT_SIZE];

// The text of a limit type, current-range code or voltage code. A device can
// report codes the table has no entry for; those are written as their number
// so that nothing is read past the table. text holds at least VALUE_TEXT_SIZE.
void limitTypeText(char* text, uint16_t type);
void currentRangeText(char* text, uint16_t code);
void nominalVoltageText(char* text, uint16_t code);
