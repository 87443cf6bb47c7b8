// The portable half of publish --share (line_share.h): cutting a client's
// bytes into command frames.
#include <chrono>

#include "cli/gateway/line_share.h"

bool ClientFrames::take(uint8_t byte, uint8_t frame[FRAME_SIZE]) {
    if (byte != '\r') {
        if (length_ < FRAME_SIZE - 1)
            bytes_[length_++] = byte;
        else
            overlong_ = true;
        return false;
    }
    bool whole = length_ == FRAME_SIZE - 1 && !overlong_;
    if (!whole) ++dropped_;
    for (int i = 0; whole && i < FRAME_SIZE - 1; ++i) frame[i] = bytes_[i];
    frame[FRAME_SIZE - 1] = '\r';
    length_ = 0;
    overlong_ = false;
    return whole;
}

bool frameIsParameterWrite(const uint8_t frame[FRAME_SIZE]) {
    uint16_t word = 0;
    for (int i = 0; i < 4; ++i) word = static_cast<uint16_t>(word << 4 | frame[i] >> 4);
    return word < CMD_REQUEST_DATA || word > CMD_RESET_MIN_PEAK;
}

int64_t shareClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
