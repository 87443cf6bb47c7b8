#include "tools/sim/replay_file.h"

#include <cstdio>

namespace sim {

namespace {

constexpr size_t FILE_HEADER = 24;
constexpr size_t PACKET_HEADER = 16;
constexpr uint32_t MAGIC = 0xa1b2c3d4;
constexpr uint32_t LINK_TYPE = 147;
constexpr uint32_t SNAPLEN = 65535;

uint32_t le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

}  // namespace

int parseReplay(const uint8_t* data, size_t size, ReplayFile& file, std::string& error) {
    file = ReplayFile{};
    if (size < FILE_HEADER || le32(data) != MAGIC) {
        error = "not a recording: no little-endian microsecond pcap header";
        return 0;
    }
    if (le32(data + 4) != (2u | 4u << 16)) {
        error = "not a recording: pcap version other than 2.4";
        return 0;
    }
    if ((le32(data + 20) & 0x0FFFFFFF) != LINK_TYPE) {
        error = "not a recording of the serial line: link type " + std::to_string(le32(data + 20) & 0x0FFFFFFF);
        return 0;
    }
    ReplayFile read;
    bool started = false;
    int64_t firstUs = 0;
    int64_t lastOffset = 0;
    size_t index = 0;
    for (size_t offset = FILE_HEADER; offset < size; ++index) {
        std::string where = "packet " + std::to_string(index + 1) + " (byte " + std::to_string(offset) + ")";
        if (size - offset < PACKET_HEADER) {
            read.warning = where + " is cut off; the packets before it are played";
            break;
        }
        const uint8_t* header = data + offset;
        uint32_t micros = le32(header + 4);
        uint32_t length = le32(header + 8);
        if (length > SNAPLEN || length == 0 || micros >= 1000000) {
            error = where + ": bad packet header";
            return 0;
        }
        if (size - offset - PACKET_HEADER < length) {
            read.warning = where + " is cut off; the packets before it are played";
            break;
        }
        const uint8_t* body = header + PACKET_HEADER;
        if (body[0] > 1) {
            error = where + ": direction byte " + std::to_string(body[0]);
            return 0;
        }
        offset += PACKET_HEADER + length;
        if (body[0] != 0) continue;  // what the program sent is not played
        int64_t timeUs = static_cast<int64_t>(le32(header)) * 1000000 + micros;
        if (!started) {
            started = true;
            firstUs = timeUs;
        }
        int64_t packetOffset = timeUs - firstUs;
        if (packetOffset < lastOffset) packetOffset = lastOffset;
        lastOffset = packetOffset;
        read.packets.push_back(ReplayPacket{packetOffset, std::vector<uint8_t>(body + 1, body + length)});
    }
    file = std::move(read);
    return 1;
}

int readReplayFile(const std::string& path, ReplayFile& file, std::string& error) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        error = path + ": cannot open";
        return 0;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[16384];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.insert(data.end(), chunk, chunk + got);
    bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        error = path + ": cannot read";
        return 0;
    }
    if (!parseReplay(data.data(), data.size(), file, error)) {
        error = path + ": " + error;
        return 0;
    }
    if (file.packets.empty()) {
        error = path + ": the recording holds nothing from the device";
        return 0;
    }
    return 1;
}

}  // namespace sim
