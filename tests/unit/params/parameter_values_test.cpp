// Entry rules and value texts of the parameters, and the parameter file:
// read whole or not at all, refused when a value is outside the sheet's
// ranges, written as the 76-byte little-endian image.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "params/parameter_file.h"
#include "params/parameter_values.h"
#include "params/result_codes.h"

namespace fs = std::filesystem;

namespace {

// Every parameter at the lowest value the sheet allows.
ParameterSet lowestRecord() {
    ParameterSet record{};
    for (const ParameterRange& range : PARAMETER_RANGES) record.*range.field = range.minimum;
    return record;
}

// The number of values a parameter's band holds: a value of at least this
// width would travel as a word of the next parameter's band.
uint16_t bandWidth(const ParameterBand& band) {
    const ParameterBand* next = &band + 1;
    uint16_t end = next < PARAMETER_BANDS + PARAMETER_COUNT ? next->code : PARAMETER_BAND_END;
    return static_cast<uint16_t>(end - band.code);
}

uint16_t tenths(const char* text) {
    return parseTenths(text, static_cast<int>(std::strlen(text)));
}

TEST(ParseTenths, ExamplesOfTheSheet) {
    const struct { const char* text; uint16_t value; } cases[] = {
        {"", 0},      {".", 0},      {",7", 7},     {".5", 5},     {"5.", 50},
        {"5.5", 55},  {"12.5", 125}, {"12,5", 125}, {"123.4", 1234}, {"5.55", 55},
        {"5", 50},    {"25", 250},   {"1234", 9999}, {"12345", 9999}, {"x", 0},
        {"25.1", 251}, {"0", 0},     {" 7", 70},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value, tenths(c.text)) << '"' << c.text << '"';
}

TEST(ParseTenths, NegativeEntriesBecomeLargeRefusedValues) {
    EXPECT_GT(tenths("-1"), 250);
    EXPECT_GT(tenths("-1.5"), 250);
    EXPECT_EQ(0, tenths("-0"));
}

TEST(ParseTenths, OnlyTheCopiedCharactersCount) {
    EXPECT_EQ(120, parseTenths("12.5", 2));  // "12" without its decimal
    EXPECT_EQ(0, parseTenths("5.5", 0));
}

TEST(ParameterValues, TenthsAreShownWithOneDecimal) {
    char text[16];
    formatTenths(text, sizeof text, 125);
    EXPECT_STREQ("12.5", text);
    formatTenths(text, sizeof text, 0);
    EXPECT_STREQ("0.0", text);
}

TEST(ParameterValues, EveryEntryRangeFitsItsBand) {
    for (const ParameterRange& range : PARAMETER_RANGES) {
        const ParameterBand* band = findParameterBand(range.code);
        ASSERT_NE(nullptr, band);
        EXPECT_EQ(range.field, band->field) << range.code;
        EXPECT_LT(range.maximum, bandWidth(*band)) << range.code;
    }
    EXPECT_EQ(5, bandWidth(*findParameterBand(CODE_POLARITY)));
    EXPECT_EQ(60500, bandWidth(*findParameterBand(CODE_P1_MAX)));
}

TEST(ParameterValues, TextsOutsideTheTableAreNumbers) {
    char text[VALUE_TEXT_SIZE];
    currentRangeText(text, 9);
    EXPECT_STREQ("80A", text);
    currentRangeText(text, 10);
    EXPECT_STREQ("10", text);
    nominalVoltageText(text, 6);
    EXPECT_STREQ("575V", text);
    nominalVoltageText(text, 65535);
    EXPECT_STREQ("65535", text);
    limitTypeText(text, 0);
    EXPECT_STREQ("", text);
    limitTypeText(text, 2);
    EXPECT_STREQ("Max.", text);
    limitTypeText(text, 3);
    EXPECT_STREQ("3", text);
}

class ParameterFile : public ::testing::Test {
protected:
    void SetUp() override {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        directory = fs::temp_directory_path() / ("parameter_file_" + std::to_string(stamp));
        fs::create_directories(directory);
        path = (directory / "unit.770").string();
        std::memset(&record, 0xA5, sizeof record);
        before = record;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
    void writeRaw(const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static std::string image(const ParameterSet& set) {
        return std::string(reinterpret_cast<const char*>(&set), sizeof set);
    }
    fs::path directory;
    std::string path;
    ParameterSet record;
    ParameterSet before;
};

TEST_F(ParameterFile, SavedImageIsLittleEndianAtFixedOffsets) {
    ParameterSet saved = lowestRecord();
    saved.limit1Setpoint = 50;
    saved.p1Max = 0x0164;
    std::strcpy(saved.deviceText, "ELQ770 SIM 1.0");
    saved.activeLimit = 1;
    ASSERT_EQ(0, writeParameterFile(path.c_str(), saved));
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);  // closed before the unshared open below
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_EQ(76u, bytes.size());
    EXPECT_EQ(std::string("\x32\x00", 2), bytes.substr(2, 2));
    EXPECT_EQ(std::string("\x64\x01", 2), bytes.substr(28, 2));
    EXPECT_EQ("ELQ770 SIM 1.0", std::string(bytes.c_str() + 32));
    EXPECT_EQ(1, bytes[64]);
    EXPECT_EQ(std::string(10, '\0'), bytes.substr(66));

    saved.p1Max = 100;  // 356 showed the byte order; no sheet allows it
    ASSERT_EQ(0, writeParameterFile(path.c_str(), saved));
    ASSERT_EQ(0, readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_EXISTING));
    EXPECT_EQ(image(saved), image(record));
}

TEST_F(ParameterFile, ShortFilesLeaveTheRecordAlone) {
    for (size_t size : {0u, 10u, 75u}) {
        writeRaw(std::string(size, '\x01'));
        EXPECT_EQ(ERR_SHORT_TRANSFER, readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_ALWAYS));
        EXPECT_EQ(image(before), image(record)) << size;
    }
}

TEST_F(ParameterFile, ValuesOutsideTheSheetsRangesAreRefused) {
    // The ranges written out from the sheet's entry rules, in record order,
    // so that a wrong table cannot pass the probes below.
    const struct {
        uint16_t ParameterSet::*field;
        uint16_t minimum;
        uint16_t maximum;
    } sheet[] = {{&ParameterSet::limit1Type, 1, 2},      {&ParameterSet::limit1Setpoint, 5, 99},
                 {&ParameterSet::limit1Tr, 0, 250},      {&ParameterSet::limit1Ts, 0, 250},
                 {&ParameterSet::limit1CurrentRange, 0, 9}, {&ParameterSet::limit2Type, 1, 2},
                 {&ParameterSet::limit2Setpoint, 5, 99}, {&ParameterSet::limit2Tr, 0, 250},
                 {&ParameterSet::limit2Ts, 0, 250},      {&ParameterSet::limit2CurrentRange, 0, 9},
                 {&ParameterSet::nominalVoltage, 0, 6},  {&ParameterSet::polarity, 0, 1},
                 {&ParameterSet::analogueOutput, 0, 1},  {&ParameterSet::outputs, 1, 2},
                 {&ParameterSet::p1Max, 40, 100},        {&ParameterSet::autoShutDown, 0, 1}};
    for (const auto& entry : sheet) {
        const ParameterRange* range = parameterRangeOf(entry.field);
        ASSERT_NE(nullptr, range);
        EXPECT_EQ(entry.minimum, range->minimum) << range->name;
        EXPECT_EQ(entry.maximum, range->maximum) << range->name;
    }
    ASSERT_EQ(nullptr, firstValueOutsideRange(lowestRecord()));
    for (const ParameterRange& range : PARAMETER_RANGES) {
        ParameterSet probe = lowestRecord();
        probe.*range.field = range.maximum;
        EXPECT_EQ(nullptr, firstValueOutsideRange(probe)) << range.name << " at its maximum";
        const uint32_t outside[] = {range.minimum - 1u, range.maximum + 1u};
        for (uint32_t value : outside) {
            if (value > 0xFFFF) continue;  // no value below 0
            probe.*range.field = static_cast<uint16_t>(value);
            EXPECT_EQ(&range, firstValueOutsideRange(probe)) << range.name << " " << value;
        }
    }
    ParameterSet foreign = lowestRecord();
    foreign.p1Max = 30;
    writeRaw(image(foreign));
    EXPECT_EQ(ERR_NOT_PARAMETER_FILE, readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_EXISTING));
    EXPECT_EQ(image(before), image(record));
}

TEST_F(ParameterFile, AnAllZeroFileIsRefused) {
    // What "Save Parameters" wrote before the device had answered.
    writeRaw(std::string(sizeof(ParameterSet), '\0'));
    ParameterSet asRead;
    EXPECT_EQ(ERR_NOT_PARAMETER_FILE,
              readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_EXISTING, &asRead));
    EXPECT_EQ(image(before), image(record));
    EXPECT_EQ(&ParameterSet::limit1Type, firstValueOutsideRange(asRead)->field);
}

TEST_F(ParameterFile, LongerFilesAreReadToTheirFirst76Bytes) {
    ParameterSet saved = lowestRecord();
    saved.outputs = 2;
    writeRaw(image(saved) + std::string(24, '\x7F'));
    ASSERT_EQ(0, readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_EXISTING));
    EXPECT_EQ(image(saved), image(record));
}

TEST_F(ParameterFile, MissingFileIsCreatedOnlyWhenAskedTo) {
    EXPECT_NE(0, readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_EXISTING));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ERR_SHORT_TRANSFER, readParameterFile(path.c_str(), &record, PARAMETER_FILE_OPEN_ALWAYS));
    EXPECT_EQ(0u, fs::file_size(path));
}

TEST_F(ParameterFile, WriteIntoAMissingFolderReportsTheSystemError) {
    std::string missing = (directory / "no" / "such.770").string();
    int result = writeParameterFile(missing.c_str(), ParameterSet{});
    EXPECT_NE(0, result);
    EXPECT_NE(ERR_SHORT_TRANSFER, result);
}

}  // namespace
