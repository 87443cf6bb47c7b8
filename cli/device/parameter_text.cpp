#include "cli/device/parameter_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "display/readout_text.h"
#include "lang/cp1252.h"
#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "lang/utf8.h"
#include "output/print_page.h"
#include "params/parameter_values.h"

namespace {


using Field = uint16_t ParameterSet::*;

std::string language(int languageOffset, int index) {
    char text[LANGUAGE_TEXT_SIZE];
    langTextIn(text, languageOffset, index);
    return utf8FromCp1252(text);
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A decimal number of at most five digits, nothing else.
bool parseWhole(const std::string& text, uint16_t* value) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long number = std::stoul(text);
    if (number > 0xFFFF) return false;
    *value = static_cast<uint16_t>(number);
    return true;
}

// Seconds as the sheet's Tr and Ts boxes take them, but only text that reads
// as a number: the sheet would take a stray letter as 0.0 s.
bool parseSeconds(const std::string& text, uint16_t* value) {
    std::size_t separator = text.find_first_of(".,");
    std::string whole = text.substr(0, separator);
    std::string fraction = separator == std::string::npos ? "" : text.substr(separator + 1);
    bool digitsOnly = whole.find_first_not_of("0123456789") == std::string::npos &&
                      fraction.find_first_not_of("0123456789") == std::string::npos;
    if (!digitsOnly || (whole.empty() && fraction.empty())) return false;
    *value = parseTenths(text.c_str(), static_cast<int>(text.size()));
    return true;
}

// A list parameter's own text: "Max." (or "Max"), "10A", "400V".
bool parseListText(Field field, const std::string& text, uint16_t* value) {
    const ParameterRange* range = parameterRangeOf(field);
    for (uint16_t code = range->minimum; code <= range->maximum; ++code) {
        std::string shown = valueText(field, code);
        std::string bare = !shown.empty() && shown.back() == '.' ? shown.substr(0, shown.size() - 1) : shown;
        if (sameIgnoringCase(text, shown) || sameIgnoringCase(text, bare)) {
            *value = code;
            return true;
        }
    }
    return false;
}

std::string rangeText(Field field, const ParameterRange& range) {
    char text[64];
    if (isTenthsField(field)) {
        char low[16], high[16];
        formatTenths(low, sizeof low, range.minimum);
        formatTenths(high, sizeof high, range.maximum);
        std::snprintf(text, sizeof text, "%s to %s seconds", low, high);
    } else {
        std::snprintf(text, sizeof text, "%u to %u", range.minimum, range.maximum);
    }
    return text;
}

std::string trimmedRight(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

const ParameterRange* parameterNamed(const std::string& name) {
    for (const ParameterRange& parameter : PARAMETER_RANGES)
        if (sameIgnoringCase(name, parameter.name)) return &parameter;
    return nullptr;
}

const char* parameterName(Field field) {
    const ParameterRange* parameter = parameterRangeOf(field);
    return parameter != nullptr ? parameter->name : "?";
}

int languageOffsetOf(const std::string& code) {
    if (code == "de") return LANGUAGE_GERMAN;
    if (code == "da") return LANGUAGE_DANISH;
    return LANGUAGE_ENGLISH;
}

std::string utf8FromCp1252(const char* text, std::size_t maxLength) {
    std::string utf8;
    for (std::size_t i = 0; i < maxLength && text[i] != '\0'; ++i) {
        appendUtf8(utf8, cp1252ToUtf16Unit(static_cast<unsigned char>(text[i])));
    }
    return utf8;
}

std::string valueText(Field field, uint16_t value, int languageOffset) {
    char text[LANGUAGE_TEXT_SIZE];
    parameterValueText(text, sizeof text, languageOffset, field, value);
    return utf8FromCp1252(text);
}

std::string parameterTable(const ParameterSet& record, int languageOffset) {
    std::string table = MAKER_PREFIX + utf8FromCp1252(record.deviceText, sizeof record.deviceText) + "\n\n";
    table += language(languageOffset, TXT_PARAMETERS) + "\n";
    for (const ParameterListRow& row : PARAMETER_LIST_ROWS) {
        if (row.field == nullptr) {
            table += "  " + language(languageOffset, row.textIndex) + "\n";
            continue;
        }
        table += "    " + language(languageOffset, row.textIndex) +
                 valueText(row.field, record.*row.field, languageOffset) + "\n";
    }
    char active[READOUT_TEXT_SIZE];
    activeLimitText(active, sizeof active, languageOffset, record.deviceText[0] != '\0' ? 1 : 0, record.activeLimit,
                    record.limit1Type, record.limit2Type);
    table += '\n';
    table += language(languageOffset, LBL_ACTIVE_LIMIT);
    table += trimmedRight(utf8FromCp1252(active));
    table += '\n';
    return table;
}

nlohmann::ordered_json parameterJson(const ParameterSet& record) {
    nlohmann::ordered_json json;
    json["deviceText"] = utf8FromCp1252(record.deviceText, sizeof record.deviceText);
    json["activeLimit"] = record.activeLimit;
    for (const ParameterRange& parameter : PARAMETER_RANGES) json[parameter.name] = record.*parameter.field;
    return json;
}

std::string applyAssignment(const std::string& assignment, ParameterSet* record) {
    std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) return "'" + assignment + "' is not NAME=VALUE";
    std::string name = assignment.substr(0, equals);
    std::string text = assignment.substr(equals + 1);
    const ParameterRange* parameter = parameterNamed(name);
    if (parameter == nullptr) return "no parameter is named '" + name + "'";
    uint16_t value = 0;
    bool read = isTenthsField(parameter->field) ? parseSeconds(text, &value)
                                                : parseWhole(text, &value) || parseListText(parameter->field, text, &value);
    if (!read || !valueInRange(*parameter, value))
        return std::string(parameter->name) + "=" + text + " refused: allowed " + rangeText(parameter->field, *parameter);
    record->*parameter->field = value;
    return "";
}

std::string parameterJsonText(const ParameterSet& record) { return parameterJson(record).dump(2); }
