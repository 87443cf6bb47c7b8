// Turns reply words into line bytes, spoiling the line on request: a share of
// lines left out, a share sent with a wrong sum, and short garbage lines in
// between. Every spoiled line is one the program must drop by its sum rule;
// none can pass it by chance.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct LineFaults {
    int dropPercent = 0;
    int corruptPercent = 0;
    bool garbage = false;
};

class LineWriter {
public:
    LineWriter(const LineFaults& faults, uint32_t seed);

    // Appends the bytes for one reply word (possibly none) to out.
    void append(uint16_t word, std::vector<uint8_t>& out);

private:
    uint32_t random();
    bool chance(int percent);
    void appendGarbage(std::vector<uint8_t>& out);

    LineFaults faults_;
    uint32_t randomState_;
};

}  // namespace sim
