#include "params/settings.h"

#include <cstdio>
#include <cstring>

#include "params/file_access.h"
#include "params/result_codes.h"

AppSettings appSettings{};

namespace {

bool validComPort(uint16_t port) {
    return (port >= 1 && port <= 8) ||
           (port >= 1 + PORT_NOT_OPEN && port <= 8 + PORT_NOT_OPEN);
}

bool validLanguageOffset(uint16_t offset) {
    return offset == 0 || offset == 100 || offset == 200;
}

// The settings file's full path, fixed at the first access: the file dialogs
// change the current directory, and a later save must still reach the file
// that the next start reads. Falls back to the bare name when the folder
// cannot be named.
char settingsPathText[SETTINGS_PATH_SIZE];

const char* settingsPath() {
    if (settingsPathText[0] != '\0') return settingsPathText;
    char folder[SETTINGS_PATH_SIZE];
    int written = -1;
    if (currentDirectory(folder, sizeof folder) == 0)
        written = std::snprintf(settingsPathText, sizeof settingsPathText, "%s%c%s", folder,
                                PATH_SEPARATOR, SETTINGS_FILE_NAME);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof settingsPathText)
        std::snprintf(settingsPathText, sizeof settingsPathText, "%s", SETTINGS_FILE_NAME);
    return settingsPathText;
}

int finishWithClose(FileHandle file, int result) {
    closeFile(file);
    return result;
}

}  // namespace

void setSettingsDefaults(AppSettings* settings) {
    std::memset(settings, 0, sizeof *settings);
    settings->comPort = 1;
    settings->rollIndex = 1;
    settings->stopAtAlarm = 0;
    settings->languageOffset = 0;
}

void sanitizeSettings(AppSettings* candidate, const AppSettings& fallback) {
    // The values build port names, menu ids and table indexes: an out-of-range
    // value from a damaged file must not reach them.
    if (!validComPort(candidate->comPort)) candidate->comPort = fallback.comPort;
    if (candidate->rollIndex > 2) candidate->rollIndex = fallback.rollIndex;
    if (candidate->stopAtAlarm > 1) candidate->stopAtAlarm = fallback.stopAtAlarm;
    if (!validLanguageOffset(candidate->languageOffset))
        candidate->languageOffset = fallback.languageOffset;
}

int readSettings(AppSettings* settings) {
    FileHandle file{};
    int existed = 0;
    int result = openAlwaysFile(settingsPath(), FILE_READ | FILE_WRITE, &file, &existed);
    if (result != 0) return result;

    uint32_t done = 0;
    if (!existed) {
        result = writeFile(file, settings, sizeof *settings, &done);
        return finishWithClose(file, done == sizeof *settings ? 0 : ERR_SHORT_TRANSFER);
    }
    // A scratch copy: a short read must not leave a half-replaced record.
    AppSettings scratch;
    result = readFile(file, &scratch, sizeof scratch, &done);
    if (result != 0 || done != sizeof scratch) return finishWithClose(file, ERR_SHORT_TRANSFER);
    AppSettings defaults;
    setSettingsDefaults(&defaults);
    sanitizeSettings(&scratch, defaults);
    *settings = scratch;
    return finishWithClose(file, 0);
}

int writeSettings(const AppSettings* settings) {
    FileHandle file{};
    int existed = 0;
    int result = openAlwaysFile(settingsPath(), FILE_WRITE, &file, &existed);
    if (result != 0) return result;
    uint32_t done = 0;
    result = writeFile(file, settings, sizeof *settings, &done);
    if (result == 0 && done != sizeof *settings) result = ERR_SHORT_TRANSFER;
    closeFile(file);
    return result;
}

const char* settingsFilePath() { return settingsPath(); }

void forgetSettingsPath() { settingsPathText[0] = '\0'; }
