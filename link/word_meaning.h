// What a word on the line means: its band, which the receive parser
// dispatches on (dispatchWord), and for tools that show a recording rather
// than act on it, the band's and the field's names and the command words the
// program frames. No state.
#pragma once

#include <cstdint>

#include "params/parameter_set.h"

enum WordBand {
    BAND_MEASUREMENT,  // value: percent; limit: the active limit, 1 or 2
    BAND_MIN_PEAK,     // value: the peak
    BAND_MAX_PEAK,
    BAND_PARAMETER,    // field and value
    BAND_ALARM,        // limit: 1 or 2; value: the word's offset in its band
    BAND_TEXT,         // value: the character; 13 ends the text
    BAND_UNUSED,       // a word the program ignores
};

// The band of a reply word and what it carries; inline, since the reader
// thread classifies every line with it.
struct ReplyWordClass {
    WordBand band;
    int32_t value;  // as WordMeaning's, but the whole word for a parameter
    int limit;
};

inline ReplyWordClass classifyReplyWord(uint16_t word) {
    if (word < CODE_MEASUREMENT_LIMIT2) return {BAND_MEASUREMENT, word - CODE_MEASUREMENT_LIMIT1, 1};
    if (word < CODE_MIN_PEAK) return {BAND_MEASUREMENT, word - CODE_MEASUREMENT_LIMIT2, 2};
    if (word < CODE_MAX_PEAK) return {BAND_MIN_PEAK, word - CODE_MIN_PEAK, 0};
    if (word < CODE_MAX_PEAK_END) return {BAND_MAX_PEAK, word - CODE_MAX_PEAK, 0};
    if (word >= PARAMETER_BAND_START && word < PARAMETER_BAND_END) return {BAND_PARAMETER, word, 0};
    if (word >= CODE_ALARM_LIMIT1 && word <= CODE_ALARM_LIMIT1_LAST) return {BAND_ALARM, word - CODE_ALARM_LIMIT1, 1};
    if (word >= CODE_ALARM_LIMIT2 && word <= CODE_ALARM_LIMIT2_LAST) return {BAND_ALARM, word - CODE_ALARM_LIMIT2, 2};
    if (word >= CODE_TEXT_CHARACTER && word <= CODE_TEXT_CHARACTER_LAST)
        return {BAND_TEXT, word - CODE_TEXT_CHARACTER, 0};
    return {BAND_UNUSED, word, 0};
}

struct WordMeaning {
    WordBand band = BAND_UNUSED;
    const char* bandName = "";  // "measurement", "min peak", ... "unused"
    int32_t value = 0;
    int limit = 0;
    const char* field = nullptr;  // the record's field name (BAND_PARAMETER)
};

WordMeaning describeReplyWord(uint16_t word);

enum CommandKind {
    COMMAND_REQUEST_DATA,
    COMMAND_SPACE_KEY,
    COMMAND_RESET_MAX_PEAK,
    COMMAND_RESET_MIN_PEAK,
    COMMAND_SET_PARAMETER,  // field and value
    COMMAND_UNKNOWN,
};

struct CommandMeaning {
    CommandKind kind = COMMAND_UNKNOWN;
    const char* kindName = "";  // "request data", ... "set parameter", "unknown"
    const char* field = nullptr;
    uint16_t value = 0;
};

CommandMeaning describeCommandWord(uint16_t word);
