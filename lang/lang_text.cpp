#include <cstring>

#include "lang/language_table.h"
#include "params/parameter_set.h"
#include "params/settings.h"

void langText(char* destination, int index) {
    int offset = loadField(appSettings.languageOffset);
    if (index < 0 || index >= LANGUAGE_BLOCK || (offset != 0 && offset != 100 && offset != 200)) {
        destination[0] = '\0';
        return;
    }
    std::memcpy(destination, languageTable.slots[offset + index], LANGUAGE_TEXT_SIZE);
    destination[LANGUAGE_TEXT_SIZE - 1] = '\0';
}
