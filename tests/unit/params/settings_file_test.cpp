// The settings file "Vantor.cnf": created with the defaults, read whole or not
// at all, values outside their ranges replaced by defaults, rewritten in place.
// Each case runs in a fresh directory of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "params/result_codes.h"
#include "params/port_choice.h"
#include "params/settings.h"
#include "params/settings_testing.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        savedDirectory = fs::current_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        directory = fs::temp_directory_path() /
                    ("settings_test_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(directory);
        fs::current_path(directory);
        forgetSettingsPath();
        setSettingsDefaults(&record);
    }

    void TearDown() override {
        fs::current_path(savedDirectory);
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }

    static Bytes readBack() {
        std::ifstream in(SETTINGS_FILE_NAME, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static void writeRaw(const Bytes& bytes) {
        std::ofstream out(SETTINGS_FILE_NAME, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    static void put16(Bytes& bytes, size_t offset, uint16_t value) {
        bytes[offset] = static_cast<uint8_t>(value & 0xFF);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }

    static Bytes imageOf(const AppSettings& settings) {
        Bytes bytes(sizeof settings);
        std::memcpy(bytes.data(), &settings, sizeof settings);
        return bytes;
    }

    // A valid 280-byte file: COM5, 60 s, stop at alarm, Danish, and a pattern
    // in the reserved bytes.
    static Bytes validFile() {
        Bytes bytes(280);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        put16(bytes, 0, 5);
        put16(bytes, 260, 2);
        put16(bytes, 262, 1);
        put16(bytes, 264, 200);
        return bytes;
    }

    AppSettings record{};
    fs::path directory;
    fs::path savedDirectory;
    static inline int serial = 0;
};

}  // namespace

TEST_F(SettingsFile, MissingFileIsCreatedWithTheDefaults) {
    EXPECT_EQ(0, readSettings(&record));
    Bytes expected(280, 0);
    expected[0] = 1;
    expected[260] = 1;
    EXPECT_EQ(expected, readBack());
    EXPECT_EQ(1, record.comPort);
    EXPECT_EQ(1, record.rollIndex);
    EXPECT_EQ(0, record.stopAtAlarm);
    EXPECT_EQ(0, record.languageOffset);
}

TEST_F(SettingsFile, EmptyFileIsAShortTransferAndKeepsTheDefaults) {
    writeRaw({});
    AppSettings defaults;
    setSettingsDefaults(&defaults);
    EXPECT_EQ(ERR_SHORT_TRANSFER, readSettings(&record));
    EXPECT_EQ(imageOf(defaults), imageOf(record));
    EXPECT_EQ(0, writeSettings(&record));
    EXPECT_EQ(imageOf(defaults), readBack());
}

TEST_F(SettingsFile, ShortFileLeavesTheRecordUntouched) {
    record.comPort = 3;
    record.languageOffset = 100;
    record.reserved1[0] = 0x42;
    const Bytes before = imageOf(record);
    writeRaw(Bytes(100, 0x07));
    EXPECT_EQ(ERR_SHORT_TRANSFER, readSettings(&record));
    EXPECT_EQ(before, imageOf(record));
}

TEST_F(SettingsFile, ValidFileIsTakenWhole) {
    const Bytes file = validFile();
    writeRaw(file);
    EXPECT_EQ(0, readSettings(&record));
    EXPECT_EQ(file, imageOf(record));
    EXPECT_EQ(5, record.comPort);
    EXPECT_EQ(2, record.rollIndex);
    EXPECT_EQ(1, record.stopAtAlarm);
    EXPECT_EQ(200, record.languageOffset);
}

TEST_F(SettingsFile, LongerFileIsReadForItsFirst280BytesAndRewrittenInPlace) {
    Bytes file = validFile();
    Bytes tail(120);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<uint8_t>(0xA0 + i % 16);
    file.insert(file.end(), tail.begin(), tail.end());
    writeRaw(file);
    EXPECT_EQ(0, readSettings(&record));
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 280), imageOf(record));

    record.languageOffset = 100;
    EXPECT_EQ(0, writeSettings(&record));
    Bytes written = readBack();
    ASSERT_EQ(400u, written.size());
    EXPECT_EQ(imageOf(record), Bytes(written.begin(), written.begin() + 280));
    EXPECT_EQ(tail, Bytes(written.begin() + 280, written.end()));
}

TEST_F(SettingsFile, OutOfRangeFieldsTakeTheirDefaultsAndReservedBytesStay) {
    // The record in memory holds other values than the defaults: a field out
    // of range falls back to its default, not to what memory held.
    record.comPort = 4;
    record.rollIndex = 0;
    record.stopAtAlarm = 1;
    record.languageOffset = 100;
    Bytes file = validFile();
    put16(file, 0, 9);
    put16(file, 260, 3);
    put16(file, 262, 2);
    put16(file, 264, 50);
    writeRaw(file);
    EXPECT_EQ(0, readSettings(&record));
    EXPECT_EQ(1, record.comPort);
    EXPECT_EQ(1, record.rollIndex);
    EXPECT_EQ(0, record.stopAtAlarm);
    EXPECT_EQ(0, record.languageOffset);
    EXPECT_EQ(0, std::memcmp(record.reserved1, file.data() + 2, sizeof record.reserved1));
    EXPECT_EQ(0, std::memcmp(record.reserved2, file.data() + 266, sizeof record.reserved2));
}

TEST_F(SettingsFile, EachFieldIsCheckedOnItsOwn) {
    // offset, value in the file, value expected in the record
    const int cases[][3] = {
        {0, 0, 0},     {0, 1, 1},     {0, 8, 8},      {0, 9, 1},     {0, 10, 1},
        {0, 11, 11},   {0, 18, 18},   {0, 19, 1},     {0, 0xFFFF, 1}, {0, 0x0105, 1},
        {260, 0, 0},   {260, 2, 2},   {260, 3, 1},    {260, 0x100, 1},
        {262, 0, 0},   {262, 1, 1},   {262, 2, 0},    {262, 0xFFFF, 0},
        {264, 0, 0},   {264, 100, 100}, {264, 200, 200}, {264, 1, 0}, {264, 300, 0},
    };
    for (const auto& c : cases) {
        Bytes file = validFile();
        put16(file, static_cast<size_t>(c[0]), static_cast<uint16_t>(c[1]));
        writeRaw(file);
        setSettingsDefaults(&record);
        ASSERT_EQ(0, readSettings(&record));
        Bytes expected = file;
        put16(expected, static_cast<size_t>(c[0]), static_cast<uint16_t>(c[2]));
        EXPECT_EQ(expected, imageOf(record)) << "offset " << c[0] << " value " << c[1];
    }
}

TEST_F(SettingsFile, WriteCreatesTheFileLittleEndian) {
    record.comPort = 5 + PORT_NOT_OPEN;
    record.languageOffset = 200;
    record.rollIndex = 2;
    EXPECT_EQ(0, writeSettings(&record));
    Bytes written = readBack();
    ASSERT_EQ(280u, written.size());
    EXPECT_EQ(15, written[0]);
    EXPECT_EQ(0, written[1]);
    EXPECT_EQ(2, written[260]);
    EXPECT_EQ(200, written[264]);
    EXPECT_EQ(0, written[265]);

    AppSettings again;
    setSettingsDefaults(&again);
    EXPECT_EQ(0, readSettings(&again));
    EXPECT_EQ(15, again.comPort);
}

// The other port: comPort 0 in the file, written so also while it is not
// open (10 would be COM10 to a build that takes the number as it stands),
// and its name in the side file beside the settings file.
TEST_F(SettingsFile, OtherPortIsZeroInTheFileAndItsNameIsBesideIt) {
    EXPECT_EQ(0, readOtherPortName());
    EXPECT_STREQ("", otherPortName) << "no side file: no name";
    record.comPort = OTHER_PORT + PORT_NOT_OPEN;
    EXPECT_EQ(0, writeSettings(&record));
    EXPECT_EQ(0, readBack()[0]);
    EXPECT_EQ(0, writeOtherPortName("rfc2217://[::1]:2217"));
    fs::create_directory("elsewhere");
    fs::current_path("elsewhere");
    otherPortName[0] = '\0';
    EXPECT_EQ(0, readOtherPortName());
    EXPECT_STREQ("rfc2217://[::1]:2217", otherPortName);
    std::ofstream(otherPortFilePath(), std::ios::binary) << "COM12\r\n";
    EXPECT_EQ(0, readOtherPortName());
    EXPECT_STREQ("COM12", otherPortName) << "an editor's line end is not part of the name";
    AppSettings again;
    setSettingsDefaults(&again);
    EXPECT_EQ(0, readSettings(&again));
    EXPECT_EQ(OTHER_PORT, again.comPort);
}

// The file dialogs change the current directory; the settings must stay
// where the next start looks for them.
TEST_F(SettingsFile, FileStaysInTheFolderOfTheFirstAccess) {
    EXPECT_EQ(0, readSettings(&record));
    fs::create_directory("elsewhere");
    fs::current_path("elsewhere");
    record.languageOffset = 100;
    EXPECT_EQ(0, writeSettings(&record));
    EXPECT_FALSE(fs::exists(SETTINGS_FILE_NAME));
    fs::current_path(directory);
    EXPECT_EQ(100, readBack()[264]);
    EXPECT_EQ((directory / SETTINGS_FILE_NAME).string(), settingsFilePath());
}

TEST_F(SettingsFile, OpenFailureReportsTheSystemErrorAndKeepsTheRecord) {
    // The folder is fixed first: Windows refuses a folder in the file's place
    // with access denied, which at the first access would move the file to
    // the per-user folder instead (SettingsFolder).
    settingsFilePath();
    fs::create_directory(SETTINGS_FILE_NAME);
    record.comPort = 7;
    const Bytes before = imageOf(record);
    int result = readSettings(&record);
    EXPECT_NE(0, result);
    EXPECT_NE(ERR_SHORT_TRANSFER, result);
    EXPECT_EQ(before, imageOf(record));
    EXPECT_NE(0, writeSettings(&record));
}
