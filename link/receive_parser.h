// Turns the device's byte stream into the live state and deviceParameters.
//
// Threads: parseReceivedBytes runs on the reader thread only; it keeps its
// partial line in parser-private storage that survives closing and reopening
// the link. The end of a parameter answer is announced through the reply
// hook, bound by the program to SetEvent(ReplyEvent).
#pragma once

#include <cstdint>

#include "link/link_config.h"  // what the parser takes from its front end

constexpr int LINE_CAPACITY = 8;   // 7 bytes and the terminating NUL
constexpr int DEVICE_TEXT_MAX = 31;  // characters kept in deviceText before its NUL

using ReplyHook = void (*)();
void setReplyHook(ReplyHook hook);

void parseReceivedBytes(const uint8_t* bytes, int count);

// Called on the reader thread with every chunk parseReceivedBytes takes,
// before it is parsed, so that a recorder sees the bytes as they arrived.
using ReceivedBytesHook = void (*)(const uint8_t* bytes, int count);
void setReceivedBytesHook(ReceivedBytesHook hook);

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
