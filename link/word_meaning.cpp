#include "link/word_meaning.h"

#include "link/command_frames.h"
#include "params/parameter_set.h"
#include "params/parameter_values.h"

namespace {

const char* fieldName(const ParameterBand* band) {
    const ParameterRange* range = parameterRangeOf(band->field);
    return range != nullptr ? range->name : "";
}

const char* const BAND_NAMES[] = {"measurement", "min peak", "max peak", "parameter", "alarm", "text", "unused"};

}  // namespace

WordMeaning describeReplyWord(uint16_t word) {
    ReplyWordClass of = classifyReplyWord(word);
    WordMeaning result;
    result.band = of.band;
    result.bandName = BAND_NAMES[of.band];
    result.value = of.value;
    result.limit = of.limit;
    if (of.band == BAND_PARAMETER) {
        const ParameterBand* band = findParameterBand(word);
        result.value = word - band->code;
        result.field = fieldName(band);
    }
    return result;
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
