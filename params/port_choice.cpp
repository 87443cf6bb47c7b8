#include "params/port_choice.h"

#include <cstdio>
#include <cstring>

#include "params/file_access.h"
#include "params/result_codes.h"
#include "params/settings.h"

char otherPortName[OTHER_PORT_NAME_SIZE];

namespace {

constexpr const char* SIDE_FILE_NAME = "Vantor.port";

char sideFilePath[SETTINGS_PATH_SIZE + 8];

void trimLineEnd(char* text, uint32_t* length) {
    while (*length > 0 && (text[*length - 1] == '\n' || text[*length - 1] == '\r')) --*length;
    text[*length] = '\0';
}

}  // namespace

// The settings file's folder, which its first access fixed, with our name.
const char* otherPortFilePath() {
    const char* settings = settingsFilePath();
    size_t folder = std::strlen(settings) - std::strlen(SETTINGS_FILE_NAME);
    std::snprintf(sideFilePath, sizeof sideFilePath, "%.*s%s", static_cast<int>(folder), settings, SIDE_FILE_NAME);
    return sideFilePath;
}

int readOtherPortName() {
    otherPortName[0] = '\0';
    FileHandle file{};
    int result = openExistingFile(otherPortFilePath(), &file);
    if (result != 0) return 0;  // none chosen yet
    char text[OTHER_PORT_NAME_SIZE];
    uint32_t done = 0;
    result = readFile(file, text, OTHER_PORT_NAME_SIZE - 1, &done);
    closeFile(file);
    if (result != 0) return result;
    trimLineEnd(text, &done);
    std::memcpy(otherPortName, text, done + 1);
    return 0;
}

int writeOtherPortName(const char* name) {
    std::snprintf(otherPortName, sizeof otherPortName, "%s", name);
    FileHandle file{};
    int result = createAlwaysFile(otherPortFilePath(), &file);
    if (result != 0) return result;
    uint32_t length = static_cast<uint32_t>(std::strlen(otherPortName));
    uint32_t done = 0;
    result = writeFile(file, otherPortName, length, &done);
    closeFile(file);
    if (result == 0 && done != length) result = ERR_SHORT_TRANSFER;
    return result;
}
