// The recording format in memory: what the writer lays down, what the reader
// takes back and what it refuses; the device-side packetizer; the meaning of
// words by band; and the golden recordings, each with its outcome as
// tests/data/recording-outcomes.txt has it (the simulator's reader is held
// to the same table in tools/sim/tests/golden_test.cpp).
#include "link/line_recording.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/command_frames.h"
#include "link/word_meaning.h"
#include "tests/support/golden_recordings.h"

namespace {

RecordedPacket packet(int64_t timeUs, RecordingDirection direction, std::vector<uint8_t> bytes) {
    RecordedPacket p;
    p.timeUs = timeUs;
    p.direction = direction;
    p.bytes = std::move(bytes);
    return p;
}

std::vector<uint8_t> twoPacketFile() {
    std::vector<uint8_t> file;
    appendRecordingHeader(&file);
    EXPECT_EQ(1, appendRecordedPacket(&file, packet(1765250000123456, FROM_DEVICE, {0x11, 0x61, 0x72, 0x0d})));
    EXPECT_EQ(1, appendRecordedPacket(&file, packet(1765250001000001, TO_DEVICE, {0xf1, 0xe1, 0x11, 0xa1, 0x64, 0x0d})));
    return file;
}

void put32At(std::vector<uint8_t>* file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*file)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

RecordingReadResult read(const std::vector<uint8_t>& file, RecordingContents* contents) {
    return readRecording(file.data(), file.size(), contents);
}

}  // namespace

TEST(LineRecording, HeaderIsClassicLittleEndianPcapOfLinkType147) {
    std::vector<uint8_t> file;
    appendRecordingHeader(&file);
    const uint8_t expected[24] = {0xd4, 0xc3, 0xb2, 0xa1, 2, 0, 4, 0, 0, 0, 0, 0,
                                  0,    0,    0,    0,    0xff, 0xff, 0, 0, 147, 0, 0, 0};
    ASSERT_EQ(24u, file.size());
    EXPECT_EQ(0, std::memcmp(expected, file.data(), 24));
}

TEST(LineRecording, PacketCarriesTimeLengthsDirectionAndBytes) {
    std::vector<uint8_t> file;
    ASSERT_EQ(1, appendRecordedPacket(&file, packet(7000002, TO_DEVICE, {0xaa, 0x0d})));
    const uint8_t expected[19] = {7, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 1, 0xaa, 0x0d};
    ASSERT_EQ(19u, file.size());
    EXPECT_EQ(0, std::memcmp(expected, file.data(), 19));
}

TEST(LineRecording, RoundTripKeepsTimesDirectionsAndBytes) {
    std::vector<uint8_t> file = twoPacketFile();
    RecordingContents contents;
    RecordingReadResult result = read(file, &contents);
    ASSERT_EQ(RECORDING_OK, result.error) << result.text;
    ASSERT_EQ(2u, contents.packets.size());
    EXPECT_FALSE(contents.truncatedLastPacket);
    EXPECT_EQ(1765250000123456, contents.packets[0].timeUs);
    EXPECT_EQ(FROM_DEVICE, contents.packets[0].direction);
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x61, 0x72, 0x0d}), contents.packets[0].bytes);
    EXPECT_EQ(1765250001000001, contents.packets[1].timeUs);
    EXPECT_EQ(TO_DEVICE, contents.packets[1].direction);
    EXPECT_EQ((std::vector<uint8_t>{0xf1, 0xe1, 0x11, 0xa1, 0x64, 0x0d}), contents.packets[1].bytes);
}

TEST(LineRecording, HeaderOnlyIsAnEmptyRecording) {
    std::vector<uint8_t> file;
    appendRecordingHeader(&file);
    RecordingContents contents;
    EXPECT_EQ(RECORDING_OK, read(file, &contents).error);
    EXPECT_TRUE(contents.packets.empty());
    EXPECT_FALSE(contents.truncatedLastPacket);
}

TEST(LineRecording, WriterRefusesWhatTheFormatCannotHold) {
    std::vector<uint8_t> file;
    EXPECT_EQ(0, appendRecordedPacket(&file, packet(0, FROM_DEVICE, std::vector<uint8_t>(RECORDING_MAX_BYTES + 1))));
    EXPECT_EQ(0, appendRecordedPacket(&file, packet(-1, FROM_DEVICE, {1})));
    EXPECT_EQ(0, appendRecordedPacket(&file, packet(0x100000000LL * 1000000, FROM_DEVICE, {1})));
    EXPECT_TRUE(file.empty());
    EXPECT_EQ(1, appendRecordedPacket(&file, packet(0, FROM_DEVICE, std::vector<uint8_t>(RECORDING_MAX_BYTES))));
    RecordingContents contents;
    std::vector<uint8_t> whole;
    appendRecordingHeader(&whole);
    whole.insert(whole.end(), file.begin(), file.end());
    ASSERT_EQ(RECORDING_OK, read(whole, &contents).error);
    EXPECT_EQ(static_cast<size_t>(RECORDING_MAX_BYTES), contents.packets.at(0).bytes.size());
}

TEST(LineRecording, AnotherFormatIsRefused) {
    RecordingContents contents;
    std::vector<uint8_t> text(100, 'x');
    RecordingReadResult result = read(text, &contents);
    EXPECT_EQ(RECORDING_NOT_PCAP, result.error);
    EXPECT_NE(std::string::npos, result.text.find("not a recording"));
    EXPECT_EQ(std::string::npos, result.text.find('\n'));
    EXPECT_EQ(RECORDING_NOT_PCAP, read(std::vector<uint8_t>{'P', 'K'}, &contents).error);

    std::vector<uint8_t> file = twoPacketFile();
    put32At(&file, 0, 0xa1b23c4d);  // nanosecond timestamps
    EXPECT_EQ(RECORDING_UNSUPPORTED_PCAP, read(file, &contents).error);
    file = twoPacketFile();
    std::swap(file[0], file[3]);  // big-endian magic
    std::swap(file[1], file[2]);
    EXPECT_EQ(RECORDING_UNSUPPORTED_PCAP, read(file, &contents).error);
    file = twoPacketFile();
    file[4] = 3;  // version 3.4
    EXPECT_EQ(RECORDING_UNSUPPORTED_PCAP, read(file, &contents).error);
    EXPECT_TRUE(contents.packets.empty());
}

TEST(LineRecording, TruncatedHeaderIsRefused) {
    std::vector<uint8_t> file = twoPacketFile();
    RecordingContents contents;
    for (size_t size : {size_t{0}, size_t{2}, size_t{4}, size_t{23}}) {
        RecordingReadResult result = readRecording(file.data(), size, &contents);
        EXPECT_EQ(RECORDING_TRUNCATED_HEADER, result.error) << size;
        EXPECT_NE(std::string::npos, result.text.find("truncated")) << result.text;
    }
}

TEST(LineRecording, WrongLinkTypeIsRefused) {
    std::vector<uint8_t> file = twoPacketFile();
    put32At(&file, 20, 1);  // Ethernet
    RecordingContents contents;
    RecordingReadResult result = read(file, &contents);
    EXPECT_EQ(RECORDING_WRONG_LINK_TYPE, result.error);
    EXPECT_EQ(1u, result.detail);
    EXPECT_NE(std::string::npos, result.text.find("link type 1,")) << result.text;
    EXPECT_TRUE(contents.packets.empty());
}

TEST(LineRecording, PacketLongerThanSnaplenIsRefused) {
    std::vector<uint8_t> file = twoPacketFile();
    size_t second = 24 + 16 + 5;
    put32At(&file, second + 8, RECORDING_SNAPLEN + 1);
    RecordingContents contents;
    RecordingReadResult result = read(file, &contents);
    EXPECT_EQ(RECORDING_PACKET_TOO_LONG, result.error);
    EXPECT_EQ(second, result.offset);
    EXPECT_NE(std::string::npos, result.text.find("packet 2")) << result.text;
    EXPECT_TRUE(contents.packets.empty());
}

TEST(LineRecording, PacketWithoutOrWithAWrongDirectionByteIsRefused) {
    std::vector<uint8_t> file;
    appendRecordingHeader(&file);
    appendRecordedPacket(&file, packet(0, FROM_DEVICE, {}));
    RecordingContents contents;
    EXPECT_EQ(RECORDING_OK, read(file, &contents).error);  // a direction byte and nothing else
    put32At(&file, 24 + 8, 0);
    put32At(&file, 24 + 12, 0);
    file.pop_back();
    EXPECT_EQ(RECORDING_EMPTY_PACKET, read(file, &contents).error);

    file = twoPacketFile();
    file[24 + 16] = 2;
    EXPECT_EQ(RECORDING_BAD_DIRECTION, read(file, &contents).error);
    file = twoPacketFile();
    put32At(&file, 24 + 4, 1000000);
    EXPECT_EQ(RECORDING_BAD_TIMESTAMP, read(file, &contents).error);
}

TEST(LineRecording, TruncatedLastPacketIsReportedAndTheRestKept) {
    std::vector<uint8_t> file = twoPacketFile();
    size_t second = 24 + 16 + 5;
    // Cut inside the second packet's data and inside its header.
    for (size_t size : {file.size() - 1, second + 17, second + 15, second + 1}) {
        RecordingContents contents;
        RecordingReadResult result = readRecording(file.data(), size, &contents);
        ASSERT_EQ(RECORDING_OK, result.error) << size;
        EXPECT_TRUE(contents.truncatedLastPacket) << size;
        EXPECT_EQ(second, contents.truncatedAtOffset);
        ASSERT_EQ(1u, contents.packets.size());
        EXPECT_EQ(1765250000123456, contents.packets[0].timeUs);
    }
}

namespace {

// An input that never ends, the pattern over and over; counts what was taken.
class EndlessSource : public RecordingSource {
public:
    explicit EndlessSource(std::vector<uint8_t> pattern) : pattern_(std::move(pattern)) {}
    size_t read(uint8_t* buffer, size_t count) override {
        for (size_t i = 0; i < count; ++i) buffer[i] = pattern_[taken++ % pattern_.size()];
        return count;
    }
    size_t taken = 0;

private:
    std::vector<uint8_t> pattern_;
};

}  // namespace

// A file of another format (here endless zeros) costs the reader its first 24
// bytes and no more, however long it is.
TEST(RecordingReader, AnotherFileIsRefusedAfterTheHeaderIsRead) {
    EndlessSource zeros({0});
    RecordingReader reader(&zeros);
    EXPECT_EQ(RECORDING_NOT_PCAP, reader.readHeader().error);
    RecordedPacket packet;
    EXPECT_EQ(RecordingReader::REFUSED, reader.next(&packet));
    EXPECT_EQ(static_cast<size_t>(RECORDING_HEADER_SIZE), zeros.taken);
}

// The packetizer.

TEST(LinePacketizer, OnePacketPerLineStampedAtItsCr) {
    LinePacketizer packetizer;
    std::vector<RecordedPacket> out;
    const uint8_t first[] = {0x11, 0x61};
    const uint8_t rest[] = {0x72, 0x0d, 0x21, 0x31, 0x52, 0x0d, 0x41};
    packetizer.feed(first, 2, 1000, &out);
    EXPECT_TRUE(out.empty());
    packetizer.feed(rest, 7, 5000, &out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x61, 0x72, 0x0d}), out[0].bytes);
    EXPECT_EQ(5000, out[0].timeUs);
    EXPECT_EQ(FROM_DEVICE, out[0].direction);
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x31, 0x52, 0x0d}), out[1].bytes);
    EXPECT_EQ(1, packetizer.pending());
}

TEST(LinePacketizer, BytesWithoutCrGoOutAfterTwentyMillisecondsOfSilence) {
    LinePacketizer packetizer;
    std::vector<RecordedPacket> out;
    const uint8_t torn[] = {0x11, 0x61};
    packetizer.feed(torn, 1, 1000, &out);
    packetizer.feed(torn + 1, 1, 3000, &out);
    packetizer.tick(3000 + PACKETIZER_IDLE_US - 1, &out);
    EXPECT_TRUE(out.empty());
    packetizer.tick(3000 + PACKETIZER_IDLE_US, &out);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x61}), out[0].bytes);
    EXPECT_EQ(3000, out[0].timeUs);  // the last byte's arrival
    EXPECT_EQ(0, packetizer.pending());
}

TEST(LinePacketizer, SilenceBeforeNewBytesSeparatesThemWithoutATick) {
    LinePacketizer packetizer;
    std::vector<RecordedPacket> out;
    const uint8_t torn[] = {0x11};
    const uint8_t line[] = {0x21, 0x31, 0x52, 0x0d};
    packetizer.feed(torn, 1, 0, &out);
    packetizer.feed(line, 4, PACKETIZER_IDLE_US + 500, &out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ((std::vector<uint8_t>{0x11}), out[0].bytes);
    EXPECT_EQ(0, out[0].timeUs);
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x31, 0x52, 0x0d}), out[1].bytes);
}

TEST(LinePacketizer, SixtyFourBytesWithoutCrAreAPacket) {
    LinePacketizer packetizer;
    std::vector<RecordedPacket> out;
    std::vector<uint8_t> noise(PACKETIZER_MAX_BYTES * 2 + 3, 0x55);
    packetizer.feed(noise.data(), 40, 100, &out);
    EXPECT_TRUE(out.empty());
    packetizer.feed(noise.data() + 40, static_cast<int>(noise.size()) - 40, 200, &out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(static_cast<size_t>(PACKETIZER_MAX_BYTES), out[0].bytes.size());
    EXPECT_EQ(static_cast<size_t>(PACKETIZER_MAX_BYTES), out[1].bytes.size());
    EXPECT_EQ(3, packetizer.pending());
    packetizer.finish(&out);
    ASSERT_EQ(3u, out.size());
    EXPECT_EQ(3u, out[2].bytes.size());
    EXPECT_EQ(200, out[2].timeUs);
}

// What words mean.

TEST(WordMeaning, ReplyWordsByBand) {
    WordMeaning m = describeReplyWord(42);
    EXPECT_EQ(BAND_MEASUREMENT, m.band);
    EXPECT_EQ(42, m.value);
    EXPECT_EQ(1, m.limit);
    m = describeReplyWord(128 + 7);
    EXPECT_EQ(BAND_MEASUREMENT, m.band);
    EXPECT_EQ(7, m.value);
    EXPECT_EQ(2, m.limit);
    EXPECT_EQ(BAND_MIN_PEAK, describeReplyWord(312).band);
    EXPECT_EQ(12, describeReplyWord(312).value);
    EXPECT_EQ(BAND_MAX_PEAK, describeReplyWord(999).band);
    EXPECT_EQ(499, describeReplyWord(999).value);
    EXPECT_EQ(BAND_UNUSED, describeReplyWord(1000).band);
    m = describeReplyWord(3150);
    EXPECT_EQ(BAND_PARAMETER, m.band);
    EXPECT_STREQ("limit1Setpoint", m.field);
    EXPECT_EQ(50, m.value);
    m = describeReplyWord(65036);
    EXPECT_EQ(BAND_ALARM, m.band);
    EXPECT_EQ(2, m.limit);
    EXPECT_EQ(BAND_UNUSED, describeReplyWord(65025).band);
    m = describeReplyWord(65200 + 'A');
    EXPECT_EQ(BAND_TEXT, m.band);
    EXPECT_EQ('A', m.value);
}

TEST(WordMeaning, CommandWords) {
    EXPECT_EQ(COMMAND_REQUEST_DATA, describeCommandWord(CMD_REQUEST_DATA).kind);
    EXPECT_EQ(COMMAND_RESET_MIN_PEAK, describeCommandWord(CMD_RESET_MIN_PEAK).kind);
    CommandMeaning m = describeCommandWord(4500 + 80);
    EXPECT_EQ(COMMAND_SET_PARAMETER, m.kind);
    EXPECT_STREQ("p1Max", m.field);
    EXPECT_EQ(80, m.value);
    EXPECT_EQ(COMMAND_UNKNOWN, describeCommandWord(17).kind);
}

TEST(GoldenRecordings, TheCoresReaderGivesEachFilesOutcome) {
    std::vector<GoldenRecording> files = goldenRecordings(ELQ_TEST_DATA_DIR);
    ASSERT_EQ(6u, files.size());
    for (const GoldenRecording& file : files) {
        ASSERT_FALSE(file.bytes.empty()) << file.name;
        RecordingContents contents;
        RecordingReadResult result = readRecording(file.bytes.data(), file.bytes.size(), &contents);
        EXPECT_EQ(file.read, result.error == RECORDING_OK) << file.name << ": " << result.text;
        size_t fromDevice = 0;
        for (const RecordedPacket& packet : contents.packets) fromDevice += packet.direction == FROM_DEVICE;
        EXPECT_EQ(file.devicePackets, fromDevice) << file.name;
        EXPECT_EQ(file.lastPacketCutOff, contents.truncatedLastPacket) << file.name;
    }
}
