// What a word on the line means, by the same bands the receive parser
// dispatches on (dispatchWord) and the command words the program frames:
// for tools that show a recording rather than act on it. No state.
#pragma once

#include <cstdint>

enum WordBand {
    BAND_MEASUREMENT,  // value: percent; limit: the active limit, 1 or 2
    BAND_MIN_PEAK,     // value: the peak
    BAND_MAX_PEAK,
    BAND_PARAMETER,    // field and value
    BAND_ALARM,        // limit: 1 or 2; value: the word's offset in its band
    BAND_TEXT,         // value: the character; 13 ends the text
    BAND_UNUSED,       // a word the program ignores
};

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
