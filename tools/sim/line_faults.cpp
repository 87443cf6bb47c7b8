#include "tools/sim/line_faults.h"

#include "tools/sim/device_wire.h"

namespace sim {

namespace {

constexpr int GARBAGE_PERCENT = 25;

}  // namespace

LineWriter::LineWriter(const LineFaults& faults, uint32_t seed)
    : faults_(faults), randomState_(seed != 0 ? seed ^ 0xA5A5A5A5u : 0x2545F491u) {
    if (randomState_ == 0) randomState_ = 0x2545F491u;
}

uint32_t LineWriter::random() {
    randomState_ ^= randomState_ << 13;
    randomState_ ^= randomState_ >> 17;
    randomState_ ^= randomState_ << 5;
    return randomState_;
}

bool LineWriter::chance(int percent) {
    return percent > 0 && static_cast<int>(random() % 100) < percent;
}

// One to four bytes and a CR. No byte is 0 (the program would cut the line
// there) or 13, and the last byte is never the sum of the others, so the
// program drops the line whole and the next line arrives intact.
void LineWriter::appendGarbage(std::vector<uint8_t>& out) {
    int count = 1 + static_cast<int>(random() % 4);
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) {
        uint8_t byte = static_cast<uint8_t>(random() & 0xFF);
        if (byte == 0 || byte == LINE_END) byte = 0x55;
        bool last = i == count - 1;
        if (last && count > 1 && byte == (sum & 0xFF)) byte = static_cast<uint8_t>(byte == 0x55 ? 0x56 : 0x55);
        sum += byte;
        out.push_back(byte);
    }
    out.push_back(LINE_END);
}

void LineWriter::append(uint16_t word, std::vector<uint8_t>& out) {
    if (faults_.garbage && chance(GARBAGE_PERCENT)) appendGarbage(out);
    if (chance(faults_.dropPercent)) return;
    uint8_t line[MAX_REPLY_LINE];
    int length = encodeReplyLine(word, line);
    // Changing the high nibble of the first data byte breaks the sum but keeps
    // the low nibble 1, so no byte becomes 0 or 13.
    if (chance(faults_.corruptPercent)) line[0] ^= 0x40;
    out.insert(out.end(), line, line + length);
}

}  // namespace sim
