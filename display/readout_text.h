// The texts of the readout panel and the header band, built from plain
// inputs so that each rule can be checked on its own; the *Now variants read
// the live state and deviceParameters of the moment.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int DEVICE_TEXT_SIZE = 32;     // bytes of deviceText, NUL not guaranteed
constexpr int READOUT_TEXT_SIZE = 96;    // room for every text built here

// Copies deviceText into destination (DEVICE_TEXT_SIZE + 1 bytes), stopping
// at its NUL or after 32 bytes, and always terminates it. A parameter file
// can load any bytes into the field, so a missing NUL must not be followed.
// Returns the number of characters copied.
int copyDeviceText(char* destination);

// "%3d" from 100 up, "%02d" below 100, "--" for no value.
void formatMeasurement(char* destination, std::size_t size, int32_t measurement);
// "  %02d", "--" for no value.
void formatPeak(char* destination, std::size_t size, int32_t peak);

// The maker's name that leads the device text on screen, on paper and in the
// command-line tool's table.
constexpr const char* MAKER_PREFIX = "Corvanta: ";

// "Corvanta: " and the device text with 25 blanks behind when a device has
// identified itself and a measurement is known, else "Corvanta: - - -" with
// 27 blanks behind.
void headerLine(char* destination, std::size_t size, const char* deviceText, int32_t measurement);
void headerLineNow(char* destination, std::size_t size);

// "- - -" and 20 blanks without a device text; otherwise text 20 or 21 (the
// active limit, in the language languageOffset) and " (Min)  " for a type
// of 1, " (Max)  " for any other.
void activeLimitText(char* destination, std::size_t size, int languageOffset, int devicePresent,
                     uint16_t activeLimit, uint16_t limit1Type, uint16_t limit2Type);
// The device's active limit in the language in force.
void activeLimitTextNow(char* destination, std::size_t size);
