// The simulator's own reader of a recording of the serial line (a classic
// pcap file: 24-byte file header, then per packet a 16-byte header and the
// data, whose first byte is the direction, 0 from the device). Kept apart
// from the program's core so that the simulator stays an independent oracle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct ReplayPacket {
    int64_t offsetUs;            // since the first packet from the device
    std::vector<uint8_t> bytes;  // without the direction byte
};

struct ReplayFile {
    std::vector<ReplayPacket> packets;  // from the device only, in file order
    std::string warning;                // set when a cut-off last packet was left out
};

// Decodes a whole file. 0 with error set (one line) for a file that is not a
// recording: no little-endian microsecond pcap 2.4 header, another link type
// than 147, a packet header claiming more than 65535 bytes or no byte at
// all, a direction byte other than 0 or 1, or microseconds of a million or
// more. A header alone is a recording of nothing. Times that run backwards
// play at once.
int parseReplay(const uint8_t* data, size_t size, ReplayFile& file, std::string& error);
// Reads a file to play: 0 with error set also for a recording that holds
// no packet from the device, which would leave nothing to play.
int readReplayFile(const std::string& path, ReplayFile& file, std::string& error);

}  // namespace sim
