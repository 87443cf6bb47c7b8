// The device's side of the serial line: reply lines out, command frames in.
//
// Reply line: the word's nibbles in the high nibbles of the data bytes, low
// nibble 1, then the sum of the data bytes modulo 256, then CR. Words up to
// 255 go out as 8-bit lines (2 data bytes), all others as 16-bit lines (4 data
// bytes). With a 1 in every low nibble no byte but the CR can be 0 or 13.
//
// Command frame from the program: 4 data bytes and their sum, then CR. The
// decoder finds frames in a stream that may carry noise: at each CR it takes
// the five bytes before it as the frame when their sum holds and reports any
// bytes in front of them (or a whole line that fails) as bad.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

constexpr uint8_t LINE_END = 13;
constexpr int MAX_REPLY_LINE = 6;
constexpr int COMMAND_FRAME_DATA = 5;  // 4 data bytes and the checksum

// Writes the reply line of word (CR included) and returns its length: 4 for
// an 8-bit line, 6 for a 16-bit line.
int encodeReplyLine(uint16_t word, uint8_t out[MAX_REPLY_LINE]);

// 1 when the five bytes are a command frame whose checksum holds.
int commandFrameOk(const uint8_t bytes[COMMAND_FRAME_DATA]);
uint16_t commandFrameWord(const uint8_t bytes[COMMAND_FRAME_DATA]);

struct FrameEvent {
    enum Kind { NONE, WORD, BAD } kind = NONE;
    uint16_t word = 0;
    uint8_t bytes[32] = {};  // BAD: the rejected bytes (at most the last 32)
    int count = 0;
};

class FrameDecoder {
public:
    // Takes one byte. Returns the number of events (0 to 2) written to out:
    // a BAD for rejected bytes and then a WORD, both only at a CR.
    int feed(uint8_t byte, FrameEvent out[2]);

private:
    static constexpr int CAPACITY = 32;
    uint8_t buffer_[CAPACITY] = {};
    int length_ = 0;
    int overflowed_ = 0;  // bytes that fell out of the front of the buffer
};

}  // namespace sim
