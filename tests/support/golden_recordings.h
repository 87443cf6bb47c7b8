// The golden recordings of the line with their outcomes, as
// tests/data/recording-outcomes.txt has them: the one table both readers of
// the format (the core's and the simulator's own) are held to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

struct GoldenRecording {
    std::string name;
    bool read = false;            // false: the reader must refuse it
    std::size_t devicePackets = 0;
    bool lastPacketCutOff = false;
    std::vector<uint8_t> bytes;   // empty when the file did not read
};

// Every row of the table under dataDir, with its file's bytes; empty when
// the table does not read.
inline std::vector<GoldenRecording> goldenRecordings(const std::string& dataDir) {
    std::vector<GoldenRecording> rows;
    std::ifstream table(dataDir + "/recording-outcomes.txt");
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        GoldenRecording row;
        std::string outcome, cutOff;
        fields >> row.name >> outcome >> row.devicePackets >> cutOff;
        row.read = outcome == "read";
        row.lastPacketCutOff = cutOff == "yes";
        std::ifstream file(dataDir + "/recordings/" + row.name, std::ios::binary);
        row.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        rows.push_back(std::move(row));
    }
    return rows;
}
