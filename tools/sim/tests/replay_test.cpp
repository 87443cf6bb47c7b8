// The simulator's own reader of recordings, on files built byte by byte here.
#include <gtest/gtest.h>

#include <cstdio>

#include "tools/sim/replay_file.h"

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> header(uint32_t magic = 0xa1b2c3d4, uint32_t version = 2 | 4 << 16, uint32_t link = 147) {
    std::vector<uint8_t> out;
    put32(out, magic);
    put32(out, version);
    put32(out, 0);
    put32(out, 0);
    put32(out, 65535);
    put32(out, link);
    return out;
}

void packet(std::vector<uint8_t>& out, uint32_t seconds, uint32_t micros, uint8_t direction,
            std::vector<uint8_t> bytes, uint32_t length = 0) {
    put32(out, seconds);
    put32(out, micros);
    uint32_t size = length != 0 ? length : static_cast<uint32_t>(bytes.size() + 1);
    put32(out, size);
    put32(out, size);
    out.push_back(direction);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::string refusal(const std::vector<uint8_t>& data) {
    sim::ReplayFile file;
    std::string error;
    EXPECT_EQ(0, sim::parseReplay(data.data(), data.size(), file, error));
    EXPECT_TRUE(file.packets.empty());
    return error;
}

}  // namespace

TEST(SimReplayFile, DevicePacketsWithTheirOffsetsAndNothingSentByTheProgram) {
    std::vector<uint8_t> data = header();
    packet(data, 100, 999990, 1, {0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D});
    packet(data, 101, 0, 0, {0x21, 0xd1, 0xf2, 0x0d});
    packet(data, 101, 20000, 0, {0x55});
    packet(data, 101, 10000, 0, {0x0d});  // backwards: plays at once after the one before
    sim::ReplayFile file;
    std::string error;
    ASSERT_EQ(1, sim::parseReplay(data.data(), data.size(), file, error)) << error;
    ASSERT_EQ(3u, file.packets.size());
    EXPECT_EQ(0, file.packets[0].offsetUs);
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0xd1, 0xf2, 0x0d}), file.packets[0].bytes);
    EXPECT_EQ(20000, file.packets[1].offsetUs);
    EXPECT_EQ(20000, file.packets[2].offsetUs);
    EXPECT_EQ((std::vector<uint8_t>{0x0d}), file.packets[2].bytes);
    EXPECT_TRUE(file.warning.empty());
}

TEST(SimReplayFile, CutOffLastPacketIsLeftOutWithAWarning) {
    std::vector<uint8_t> data = header();
    packet(data, 5, 0, 0, {0x21, 0xd1, 0xf2, 0x0d});
    packet(data, 5, 20000, 0, {0x21, 0xd1, 0xf2, 0x0d});
    data.resize(data.size() - 2);
    sim::ReplayFile file;
    std::string error;
    ASSERT_EQ(1, sim::parseReplay(data.data(), data.size(), file, error)) << error;
    EXPECT_EQ(1u, file.packets.size());
    EXPECT_NE(std::string::npos, file.warning.find("packet 2 (byte 45) is cut off")) << file.warning;
}

TEST(SimReplayFile, EveryMalformedFileIsRefusedWithItsReason) {
    std::vector<uint8_t> text = {'S', 'T', 'A', 'R', 'T'};
    EXPECT_NE(std::string::npos, refusal(text).find("not a recording"));
    std::vector<uint8_t> shortHeader = header();
    shortHeader.resize(20);
    EXPECT_NE(std::string::npos, refusal(shortHeader).find("not a recording"));
    EXPECT_NE(std::string::npos, refusal(header(0xd4c3b2a1)).find("not a recording"));
    EXPECT_NE(std::string::npos, refusal(header(0xa1b23c4d)).find("not a recording"));
    EXPECT_NE(std::string::npos, refusal(header(0xa1b2c3d4, 2 | 3 << 16)).find("version"));
    std::vector<uint8_t> ethernet = header(0xa1b2c3d4, 2 | 4 << 16, 1);
    packet(ethernet, 1, 0, 0, {0x0d});
    EXPECT_NE(std::string::npos, refusal(ethernet).find("link type 1"));
    std::vector<uint8_t> tooLong = header();
    packet(tooLong, 1, 0, 0, {0x0d}, 65536);
    EXPECT_NE(std::string::npos, refusal(tooLong).find("packet 1 (byte 24): bad packet header"));
    std::vector<uint8_t> empty = header();
    put32(empty, 1);
    put32(empty, 0);
    put32(empty, 0);
    put32(empty, 0);
    EXPECT_NE(std::string::npos, refusal(empty).find("bad packet header"));
    std::vector<uint8_t> micros = header();
    packet(micros, 1, 1000000, 0, {0x0d});
    EXPECT_NE(std::string::npos, refusal(micros).find("bad packet header"));
    std::vector<uint8_t> direction = header();
    packet(direction, 1, 0, 0, {0x0d});
    packet(direction, 1, 0, 2, {0x0d});
    EXPECT_NE(std::string::npos, refusal(direction).find("packet 2 (byte 42): direction byte 2"));
}

// A header alone, or only what the program sent, is a recording with nothing
// to play: the reader takes it as the program's reader does, and the file
// is refused for playing.
TEST(SimReplayFile, RecordingWithNothingFromTheDeviceIsReadButNotPlayed) {
    std::vector<uint8_t> onlySent = header();
    packet(onlySent, 1, 0, 1, {0x0d});
    std::string path = testing::TempDir() + "/only-sent.pcap";
    for (const std::vector<uint8_t>& data : {header(), onlySent}) {
        sim::ReplayFile file;
        std::string error;
        EXPECT_EQ(1, sim::parseReplay(data.data(), data.size(), file, error)) << error;
        EXPECT_TRUE(file.packets.empty());
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, out);
        ASSERT_EQ(data.size(), std::fwrite(data.data(), 1, data.size(), out));
        std::fclose(out);
        EXPECT_EQ(0, sim::readReplayFile(path, file, error));
        EXPECT_NE(std::string::npos, error.find("nothing from the device")) << error;
    }
    std::remove(path.c_str());
}
