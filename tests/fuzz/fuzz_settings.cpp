// Writes the input as the settings file and reads it: a file of 280 bytes or
// more gives a record whose fields are all within range (each either the
// file's value or its default) and whose reserved bytes are the file's; a
// shorter file gives ERR_SHORT_TRANSFER and leaves the record untouched. A
// write afterwards replaces only the first 280 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "params/result_codes.h"
#include "params/settings.h"
#include "tests/fuzz/scratch_directory.h"

namespace {

using fuzz::check;

void writeWhole(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(SETTINGS_FILE_NAME, "wb");
    check(file != nullptr);
    check(std::fwrite(data, 1, size, file) == size);
    check(std::fclose(file) == 0);
}

std::vector<uint8_t> readWhole() {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(SETTINGS_FILE_NAME, "rb");
    check(file != nullptr);
    int c;
    while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
    return bytes;
}

uint16_t at(const uint8_t* data, size_t offset) {
    return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
}

void checkField(uint16_t got, uint16_t inFile, uint16_t fallback, bool valid) {
    check(got == (valid ? inFile : fallback));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024) return 0;
    fuzz::enterScratchDirectory(SETTINGS_FILE_NAME);
    writeWhole(data, size);

    AppSettings defaults;
    setSettingsDefaults(&defaults);
    AppSettings record;
    setSettingsDefaults(&record);
    record.comPort = 6;
    record.languageOffset = 100;
    std::memset(record.reserved1, 0xCD, sizeof record.reserved1);
    AppSettings before = record;

    int result = readSettings(&record);
    if (size < sizeof record) {
        check(result == ERR_SHORT_TRANSFER);
        check(std::memcmp(&record, &before, sizeof record) == 0);
        return 0;
    }
    check(result == 0);
    uint16_t port = at(data, 0);
    checkField(record.comPort, port, defaults.comPort,
               port == 0 || (port >= 1 && port <= 8) || (port >= 11 && port <= 18));  // 0: the other port
    checkField(record.rollIndex, at(data, 260), defaults.rollIndex, at(data, 260) <= 2);
    checkField(record.stopAtAlarm, at(data, 262), defaults.stopAtAlarm, at(data, 262) <= 1);
    uint16_t language = at(data, 264);
    checkField(record.languageOffset, language, defaults.languageOffset,
               language == 0 || language == 100 || language == 200);
    check(std::memcmp(record.reserved1, data + 2, sizeof record.reserved1) == 0);
    check(std::memcmp(record.reserved2, data + 266, sizeof record.reserved2) == 0);

    record.stopAtAlarm = record.stopAtAlarm ? 0 : 1;
    check(writeSettings(&record) == 0);
    std::vector<uint8_t> written = readWhole();
    check(written.size() == size);
    check(std::memcmp(written.data(), &record, sizeof record) == 0);
    check(std::memcmp(written.data() + sizeof record, data + sizeof record,
                      size - sizeof record) == 0);
    return 0;
}
