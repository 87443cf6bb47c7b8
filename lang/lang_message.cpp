#include "lang/lang_message.h"

#include <cstdio>
#include <cstring>

#include "lang/language_table.h"

bool isStopMessage(int messageIndex) {
    return messageIndex >= FIRST_STOP_MESSAGE;
}

void appendCodeSuffix(char* text, std::size_t size, int code) {
    if (code == 0 || size == 0) return;
    // The code is a 32-bit value on every platform; "%ld" of a long holding it
    // gives the same digits as the Win32 formatter does for ": %ld".
    char suffix[CODE_SUFFIX_SIZE];
    std::snprintf(suffix, sizeof suffix, ": %ld", static_cast<long>(code));
    const void* end = std::memchr(text, '\0', size);
    std::size_t used = end ? static_cast<const char*>(end) - text : size - 1;
    std::size_t room = size - 1 - used;
    std::size_t length = std::strlen(suffix);
    if (length > room) length = room;
    std::memcpy(text + used, suffix, length);
    text[used + length] = '\0';
}

void composeMessageText(char* text, int messageIndex, int code) {
    static_assert(MESSAGE_TEXT_SIZE >= LANGUAGE_TEXT_SIZE, "langText writes a whole slot");
    langText(text, messageIndex);
    appendCodeSuffix(text, MESSAGE_TEXT_SIZE, code);
}
