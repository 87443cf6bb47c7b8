#include "tools/sim/device_wire.h"

#include <cstring>

namespace sim {

namespace {

uint8_t nibbleByte(uint16_t word, int shift) {
    return static_cast<uint8_t>((((word >> shift) & 0x0F) << 4) | 0x01);
}

uint8_t sumOf(const uint8_t* bytes, int count) {
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

void reportBad(const uint8_t* bytes, int count, FrameEvent& event) {
    event.kind = FrameEvent::BAD;
    event.count = count;
    std::memcpy(event.bytes, bytes, static_cast<size_t>(count));
}

}  // namespace

int encodeReplyLine(uint16_t word, uint8_t out[MAX_REPLY_LINE]) {
    int dataBytes = word <= 0xFF ? 2 : 4;
    for (int i = 0; i < dataBytes; ++i) out[i] = nibbleByte(word, 4 * (dataBytes - 1 - i));
    out[dataBytes] = sumOf(out, dataBytes);
    out[dataBytes + 1] = LINE_END;
    return dataBytes + 2;
}

int commandFrameOk(const uint8_t bytes[COMMAND_FRAME_DATA]) {
    return sumOf(bytes, 4) == bytes[4] ? 1 : 0;
}

uint16_t commandFrameWord(const uint8_t bytes[COMMAND_FRAME_DATA]) {
    unsigned word = 0;
    for (int i = 0; i < 4; ++i) word = (word << 4) | (bytes[i] >> 4);
    return static_cast<uint16_t>(word);
}

int FrameDecoder::feed(uint8_t byte, FrameEvent out[2]) {
    if (byte != LINE_END) {
        if (length_ == CAPACITY) {
            std::memmove(buffer_, buffer_ + 1, CAPACITY - 1);
            --length_;
            ++overflowed_;
        }
        buffer_[length_++] = byte;
        return 0;
    }
    int events = 0;
    int frameStart = length_ - COMMAND_FRAME_DATA;
    if (frameStart >= 0 && commandFrameOk(buffer_ + frameStart)) {
        if (frameStart > 0 || overflowed_ > 0) reportBad(buffer_, frameStart, out[events++]);
        out[events].kind = FrameEvent::WORD;
        out[events].word = commandFrameWord(buffer_ + frameStart);
        out[events].count = 0;
        ++events;
    } else if (length_ > 0 || overflowed_ > 0) {
        reportBad(buffer_, length_, out[events++]);
    }
    length_ = 0;
    overflowed_ = 0;
    return events;
}

}  // namespace sim
