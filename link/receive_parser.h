// Turns the device's byte stream into the live state and deviceParameters.
//
// Threads: parseReceivedBytes runs on the reader thread only; it keeps its
// partial line in parser-private storage that survives closing and reopening
// the link. It shows each chunk to the receivedTaps and announces the end
// of a parameter answer to the replyTaps (line_taps.h).
#pragma once

#include <cstdint>

#include "link/line_taps.h"
#include "link/link_config.h"  // what the parser takes from its front end

constexpr int LINE_CAPACITY = 8;   // 7 bytes and the terminating NUL
constexpr int DEVICE_TEXT_MAX = 31;  // characters kept in deviceText before its NUL

void parseReceivedBytes(const uint8_t* bytes, int count);

// Forgets a partially received line (tests; a fresh program start).
void resetReceiveLine();

// A reply line as the parser assembles it: the bytes since the last CR, of
// which it keeps the first LINE_CAPACITY - 1.
struct LineAssembly {
    uint8_t bytes[LINE_CAPACITY];
    int32_t length;
};
// Takes one byte. Returns 1 when it was the CR that ends the line: bytes then
// holds the line NUL-terminated, and the next byte starts a new one.
int assembleLineByte(LineAssembly* line, uint8_t byte);

int lineLength(const uint8_t* line);
int lineChecksumOk(const uint8_t* line);
uint16_t decodeLineValue(const uint8_t* line);

// Applies one checked word to the live state or deviceParameters by band.
void dispatchWord(uint16_t word);
