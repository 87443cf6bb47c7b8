// The portable half of publish --share (line_share.h): cutting a client's
// bytes into command frames and reading the share's address.
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

std::string parseShareAddress(const std::string& text, std::string* host, std::string* port) {
    std::string::size_type colon = text.rfind(':');
    *host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    *port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (host->size() >= 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
    if (host->empty()) return "the host before ':' is empty";
    if (port->empty() || port->find_first_not_of("0123456789") != std::string::npos || port->size() > 5 ||
        std::stoi(*port) < 1 || std::stoi(*port) > 65535)
        return "the port must be a number from 1 to 65535";
    return "";
}

int64_t shareClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
