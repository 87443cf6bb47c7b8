#include "link/word_meaning.h"

#include "link/command_frames.h"
#include "params/parameter_set.h"
#include "params/parameter_values.h"

namespace {

const char* fieldName(const ParameterBand* band) {
    const ParameterRange* range = parameterRangeOf(band->field);
    return range != nullptr ? range->name : "";
}

WordMeaning meaning(WordBand band, const char* name, int32_t value, int limit = 0) {
    WordMeaning result;
    result.band = band;
    result.bandName = name;
    result.value = value;
    result.limit = limit;
    return result;
}

}  // namespace

WordMeaning describeReplyWord(uint16_t word) {
    if (word < CODE_MEASUREMENT_LIMIT2) return meaning(BAND_MEASUREMENT, "measurement", word - CODE_MEASUREMENT_LIMIT1, 1);
    if (word < CODE_MIN_PEAK) return meaning(BAND_MEASUREMENT, "measurement", word - CODE_MEASUREMENT_LIMIT2, 2);
    if (word < CODE_MAX_PEAK) return meaning(BAND_MIN_PEAK, "min peak", word - CODE_MIN_PEAK);
    if (word < CODE_MAX_PEAK_END) return meaning(BAND_MAX_PEAK, "max peak", word - CODE_MAX_PEAK);
    if (word >= PARAMETER_BAND_START && word < PARAMETER_BAND_END) {
        const ParameterBand* band = findParameterBand(word);
        WordMeaning result = meaning(BAND_PARAMETER, "parameter", word - band->code);
        result.field = fieldName(band);
        return result;
    }
    if (word >= CODE_ALARM_LIMIT1 && word <= CODE_ALARM_LIMIT1_LAST)
        return meaning(BAND_ALARM, "alarm", word - CODE_ALARM_LIMIT1, 1);
    if (word >= CODE_ALARM_LIMIT2 && word <= CODE_ALARM_LIMIT2_LAST)
        return meaning(BAND_ALARM, "alarm", word - CODE_ALARM_LIMIT2, 2);
    if (word >= CODE_TEXT_CHARACTER && word <= CODE_TEXT_CHARACTER_LAST)
        return meaning(BAND_TEXT, "text", word - CODE_TEXT_CHARACTER);
    return meaning(BAND_UNUSED, "unused", word);
}

CommandMeaning describeCommandWord(uint16_t word) {
    CommandMeaning result;
    switch (word) {
    case CMD_REQUEST_DATA: result.kind = COMMAND_REQUEST_DATA; result.kindName = "request data"; return result;
    case CMD_SPACE_KEY: result.kind = COMMAND_SPACE_KEY; result.kindName = "space key"; return result;
    case CMD_RESET_MAX_PEAK: result.kind = COMMAND_RESET_MAX_PEAK; result.kindName = "reset max peak"; return result;
    case CMD_RESET_MIN_PEAK: result.kind = COMMAND_RESET_MIN_PEAK; result.kindName = "reset min peak"; return result;
    default: break;
    }
    const ParameterBand* band = findParameterBand(word);
    if (band == nullptr) {
        result.kindName = "unknown";
        return result;
    }
    result.kind = COMMAND_SET_PARAMETER;
    result.kindName = "set parameter";
    result.field = fieldName(band);
    result.value = static_cast<uint16_t>(word - band->code);
    return result;
}
