// The sixteen parameters as the tool shows and takes them: their names (the
// record's field names), a labelled table in the chosen language with the
// printout's value texts, JSON, and NAME=VALUE assignments checked by the
// property sheet's entry rules.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "lang/language_table.h"
#include "params/parameter_set.h"
#include "params/parameter_values.h"

// By the names in PARAMETER_RANGES, case-insensitive.
const ParameterRange* parameterNamed(const std::string& name);
const char* parameterName(uint16_t ParameterSet::*field);

// Language offset (LANGUAGE_ENGLISH, _GERMAN, _DANISH) of "en", "de" or "da".
int languageOffsetOf(const std::string& code);

// Code page 1252 text (the language table, the device text) as UTF-8.
std::string utf8FromCp1252(const char* text, std::size_t maxLength = std::string::npos);

// The value as the printout writes it: "Max.", "45%", "2.5s", "10A", ...;
// the tool's own reports are English, so that is the language unless given.
std::string valueText(uint16_t ParameterSet::*field, uint16_t value, int languageOffset = LANGUAGE_ENGLISH);

// The device text, the sixteen labelled values in the printout's groups and
// the active limit, in the language languageOffset.
std::string parameterTable(const ParameterSet& record, int languageOffset);

// {"deviceText": ..., "activeLimit": 0 or 1, "limit1Type": ..., ...}: the
// record's own numbers (Tr and Ts in tenths of a second).
nlohmann::ordered_json parameterJson(const ParameterSet& record);
// That JSON as info --json and show --json print it, and as the MQTT
// gateway publishes it: indented by two, without a closing line break.
std::string parameterJsonText(const ParameterSet& record);

// Takes "NAME=VALUE" into record when the value passes the property sheet's
// rule for that parameter. Tr and Ts are seconds with one decimal ("12,5" or
// "12.5"); the list parameters take their code or their text ("Max.",
// "400V", "10A"). Returns "" or the reason for refusing it.
std::string applyAssignment(const std::string& assignment, ParameterSet* record);
