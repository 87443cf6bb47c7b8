#include "params/settings.h"
#include "params/settings_testing.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "lang/language_table.h"
#include "params/file_access.h"
#include "params/port_choice.h"
#include "params/result_codes.h"

AppSettings appSettings{};

namespace {

// OTHER_PORT: the port named in the side file (params/port_choice.h).
bool validComPort(uint16_t port) {
    return port == OTHER_PORT || (port >= 1 && port <= 8) ||
           (port >= 1 + PORT_NOT_OPEN && port <= 8 + PORT_NOT_OPEN);
}

// The settings file's full path, fixed at the first access: the file dialogs
// change the current directory, and a later save must still reach the file
// that the next start reads. Falls back to the bare name when the folder
// cannot be named.
char settingsPathText[SETTINGS_PATH_SIZE];

// The file name in `folder` becomes the settings path; false, and the path
// unchanged, when the joined path does not fit.
bool placeSettingsIn(const char* folder) {
    char joined[SETTINGS_PATH_SIZE];
    int written = std::snprintf(joined, sizeof joined, "%s%c%s", folder, PATH_SEPARATOR, SETTINGS_FILE_NAME);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof joined) return false;
    std::memcpy(settingsPathText, joined, sizeof joined);
    return true;
}

const char* settingsPath() {
    if (settingsPathText[0] != '\0') return settingsPathText;
    char folder[SETTINGS_PATH_SIZE];
    if (currentDirectory(folder, sizeof folder) != 0 || !placeSettingsIn(folder))
        std::snprintf(settingsPathText, sizeof settingsPathText, "%s", SETTINGS_FILE_NAME);
    return settingsPathText;
}

// A whole record from the open file, checked against `fallback`, into
// *settings. Read into a scratch copy: a short read must not leave a
// half-replaced record.
bool readWholeRecord(FileHandle file, AppSettings* settings, const AppSettings& fallback) {
    AppSettings scratch;
    uint32_t done = 0;
    if (readFile(file, &scratch, sizeof scratch, &done) != 0 || done != sizeof scratch) return false;
    sanitizeSettings(&scratch, fallback);
    *settings = scratch;
    return true;
}

int finishWithClose(FileHandle file, int result) {
    closeFile(file);
    return result;
}

// An open refused with a sharing violation is tried again, FILE_BUSY_RETRIES
// times over about 150 ms, before the error goes to the caller.

bool inUserFolder = false;
int refusedWriteError = 0;  // test builds: the start-up folder refuses writes

int openSettingsFile(int access, FileHandle* file, int* existed) {
    for (int attempt = 0;; ++attempt) {
        int result = refusedWriteError != 0 && (access & FILE_WRITE) && !inUserFolder
                         ? refusedWriteError
                         : openAlwaysFile(settingsPathText, access, file, existed);
        if (!isSharingViolation(result) || attempt == FILE_BUSY_RETRIES) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(FILE_BUSY_RETRY_PAUSE_MS));
    }
}

// Takes a complete, readable settings file at path into the record.
void seedFrom(const char* path, AppSettings* settings) {
    FileHandle file{};
    if (openExistingFile(path, &file) != 0) return;
    readWholeRecord(file, settings, *settings);
    closeFile(file);
}

// The start-up folder refused the file with access denied at the first
// access, as a folder under Program Files does (an x64 program gets no file
// virtualisation): the per-user folder takes its place for this run. A file
// that the start-up folder still lets us read (installed there with the
// program) seeds the per-user file when that does not exist yet; once it
// exists it holds the user's own choices and wins. Without a per-user folder
// the start-up folder's error stands.
int openInUserFolder(int deniedError, AppSettings* seed, int access, FileHandle* file, int* existed) {
    char startupPath[SETTINGS_PATH_SIZE];
    std::snprintf(startupPath, sizeof startupPath, "%s", settingsPathText);
    char folder[SETTINGS_PATH_SIZE];
    if (userDataFolder(folder, sizeof folder) != 0 || !placeSettingsIn(folder)) return deniedError;
    inUserFolder = true;
    int result = openSettingsFile(access, file, existed);
    if (result == 0 && seed != nullptr && !*existed) seedFrom(startupPath, seed);
    return result;
}

// Opens the settings file; the first access decides its folder.
int openSettings(AppSettings* seed, int access, FileHandle* file, int* existed) {
    bool firstAccess = settingsPathText[0] == '\0';
    settingsPath();
    int result = openSettingsFile(access, file, existed);
    if (firstAccess && isAccessDenied(result))
        result = openInUserFolder(result, seed, access, file, existed);
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
    if (!validLanguage(candidate->languageOffset))
        candidate->languageOffset = fallback.languageOffset;
}

int readSettings(AppSettings* settings) {
    FileHandle file{};
    int existed = 0;
    int result = openSettings(settings, FILE_READ | FILE_WRITE, &file, &existed);
    if (result != 0) return result;

    uint32_t done = 0;
    if (!existed) {
        result = writeFile(file, settings, sizeof *settings, &done);
        return finishWithClose(file, done == sizeof *settings ? 0 : ERR_SHORT_TRANSFER);
    }
    AppSettings defaults;
    setSettingsDefaults(&defaults);
    return finishWithClose(file, readWholeRecord(file, settings, defaults) ? 0 : ERR_SHORT_TRANSFER);
}

int writeSettings(const AppSettings* settings) {
    FileHandle file{};
    int existed = 0;
    int result = openSettings(nullptr, FILE_WRITE, &file, &existed);
    if (result != 0) return result;
    // The other port not open is written as the other port: 10 would read
    // as COM10 to a build that takes the number as it stands.
    AppSettings written = *settings;
    if (written.comPort == OTHER_PORT + PORT_NOT_OPEN) written.comPort = OTHER_PORT;
    uint32_t done = 0;
    result = writeFile(file, &written, sizeof written, &done);
    if (result == 0 && done != sizeof *settings) result = ERR_SHORT_TRANSFER;
    closeFile(file);
    return result;
}

const char* settingsFilePath() { return settingsPath(); }

void forgetSettingsPath() {
    settingsPathText[0] = '\0';
    inUserFolder = false;
}

void refuseSettingsWrites(int error) { refusedWriteError = error; }
