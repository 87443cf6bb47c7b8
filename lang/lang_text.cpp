// The language in force: the window thread sets it (from the settings at
// start-up and from the language menu); any thread may read texts in it, so
// it is one atomic int, read and written relaxed since a text in the old
// language for one paint is harmless.
#include <atomic>
#include <cstring>

#include "lang/language_table.h"

namespace {

std::atomic<int> languageInForce{LANGUAGE_ENGLISH};

}  // namespace

int validLanguage(int languageOffset) {
    return languageOffset == LANGUAGE_ENGLISH || languageOffset == LANGUAGE_GERMAN ||
                   languageOffset == LANGUAGE_DANISH
               ? 1
               : 0;
}

void setLanguage(int languageOffset) { languageInForce.store(languageOffset, std::memory_order_relaxed); }

int currentLanguage() { return languageInForce.load(std::memory_order_relaxed); }

void langTextIn(char* destination, int languageOffset, int index) {
    if (index < 0 || index >= LANGUAGE_BLOCK || !validLanguage(languageOffset)) {
        destination[0] = '\0';
        return;
    }
    std::memcpy(destination, languageTable.slots[languageOffset + index], LANGUAGE_TEXT_SIZE);
    destination[LANGUAGE_TEXT_SIZE - 1] = '\0';
}

void langText(char* destination, int index) { langTextIn(destination, currentLanguage(), index); }
