// Recordings of the serial line: a file our writer made, read back by the
// real libpcap; elq770ctl decode and monitor --from on recordings made here.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/console/clock.h"
#include "link/command_frames.h"
#include "link/line_recording.h"
#include "tests/cli/cli_harness.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t START_US = 1765250000000000;  // 2025-12-09, whole seconds

using clitest::CtlRun;
using clitest::jsonLines;
using clitest::readText;
using clitest::workDir;

// The tool with its arguments written as one line (no blanks in the work
// folders' paths), under the shared harness's time-out.
CtlRun ctl(const std::string& dir, const std::string& args) {
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string word; in >> word;) words.push_back(word);
    return clitest::ctl(dir, words);
}

// A reply line as the device sends it: words up to 255 in two data bytes,
// others in four; each data byte a nibble of the word and a 1, then their sum
// and CR.
std::vector<uint8_t> replyLine(uint16_t word) {
    std::vector<uint8_t> line;
    int nibbles = word <= 255 ? 2 : 4;
    uint8_t sum = 0;
    for (int i = nibbles - 1; i >= 0; --i) {
        uint8_t b = static_cast<uint8_t>(((word >> (4 * i)) & 0x0F) << 4 | 0x01);
        line.push_back(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    line.push_back(sum);
    line.push_back(13);
    return line;
}

std::vector<uint8_t> commandFrame(uint16_t word) {
    uint8_t frame[FRAME_SIZE];
    buildFrame(word, frame);
    return std::vector<uint8_t>(frame, frame + FRAME_SIZE);
}

struct Recording {
    std::vector<RecordedPacket> packets;
    void add(int64_t offsetUs, RecordingDirection direction, std::vector<uint8_t> bytes) {
        RecordedPacket packet;
        packet.timeUs = START_US + offsetUs;
        packet.direction = direction;
        packet.bytes = std::move(bytes);
        packets.push_back(std::move(packet));
    }
    std::string write(const std::string& path) const {
        std::vector<uint8_t> file;
        appendRecordingHeader(&file);
        for (const RecordedPacket& packet : packets) EXPECT_EQ(1, appendRecordedPacket(&file, packet));
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                    static_cast<std::streamsize>(file.size()));
        return path;
    }
};

// The request, then 42 % on Limit 1, 7 % on Limit 2 and a min peak of 12.
Recording requestAndFirstReadings() {
    Recording recording;
    recording.add(0, TO_DEVICE, commandFrame(CMD_REQUEST_DATA));
    recording.add(20000, FROM_DEVICE, replyLine(42));
    recording.add(40000, FROM_DEVICE, replyLine(128 + 7));
    recording.add(60000, FROM_DEVICE, replyLine(312));
    return recording;
}

}  // namespace

TEST(Recording, LibpcapReadsOurFileWithTheSamePacketsAndTimes) {
    std::string dir = workDir();
    Recording recording;
    recording.add(0, TO_DEVICE, commandFrame(CMD_REQUEST_DATA));
    recording.add(20123, FROM_DEVICE, replyLine(42));
    recording.add(999999, FROM_DEVICE, replyLine(3150));
    recording.add(3000001, FROM_DEVICE, std::vector<uint8_t>(300, 0x55));
    std::string path = recording.write(dir + "/rec.pcap");

    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = pcap_open_offline(path.c_str(), error);
    ASSERT_NE(nullptr, pcap) << error;
    EXPECT_EQ(147, pcap_datalink(pcap));
    EXPECT_EQ(65535, pcap_snapshot(pcap));
    EXPECT_EQ(2, pcap_major_version(pcap));
    EXPECT_EQ(4, pcap_minor_version(pcap));
    EXPECT_EQ(0, pcap_is_swapped(pcap));
    size_t index = 0;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(pcap, &header, &data) == 1) {
        ASSERT_LT(index, recording.packets.size());
        const RecordedPacket& expected = recording.packets[index];
        EXPECT_EQ(expected.timeUs / 1000000, header->ts.tv_sec) << index;
        EXPECT_EQ(expected.timeUs % 1000000, header->ts.tv_usec) << index;
        ASSERT_EQ(expected.bytes.size() + 1, header->caplen) << index;
        EXPECT_EQ(header->caplen, header->len);
        EXPECT_EQ(expected.direction, data[0]);
        EXPECT_EQ(expected.bytes, std::vector<uint8_t>(data + 1, data + header->caplen)) << index;
        ++index;
    }
    EXPECT_EQ(recording.packets.size(), index);
    pcap_close(pcap);
}

TEST(Recording, DecodeJsonShowsWordsAndMeanings) {
    std::string dir = workDir();
    Recording recording = requestAndFirstReadings();
    recording.add(80000, FROM_DEVICE, replyLine(3150));
    recording.add(100000, FROM_DEVICE, replyLine(65200 + 'A'));
    recording.add(120000, FROM_DEVICE, replyLine(65036));
    std::vector<uint8_t> bad = replyLine(600);
    bad[2] ^= 0x10;  // the sum no longer holds
    recording.add(140000, FROM_DEVICE, bad);
    std::vector<uint8_t> torn = replyLine(900);
    recording.add(160000, FROM_DEVICE, std::vector<uint8_t>(torn.begin(), torn.begin() + 3));
    recording.add(200000, FROM_DEVICE, std::vector<uint8_t>(torn.begin() + 3, torn.end()));
    recording.add(250000, TO_DEVICE, commandFrame(4500 + 80));
    std::string path = recording.write(dir + "/rec.pcap");

    CtlRun run = ctl(dir, "decode " + path + " --json");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ("", run.err);
    std::vector<nlohmann::json> lines = jsonLines(run.out);
    ASSERT_EQ(recording.packets.size(), lines.size()) << run.out;

    EXPECT_EQ("to device", lines[0]["direction"]);
    EXPECT_DOUBLE_EQ(0.0, lines[0]["time"].get<double>());
    EXPECT_EQ("f1 e1 11 a1 84 0d", lines[0]["bytes"]);
    EXPECT_EQ(CMD_REQUEST_DATA, lines[0]["lines"][0]["word"]);
    EXPECT_EQ("request data", lines[0]["lines"][0]["command"]);

    const nlohmann::json& m1 = lines[1]["lines"][0];
    EXPECT_EQ("from device", lines[1]["direction"]);
    EXPECT_DOUBLE_EQ(0.02, lines[1]["time"].get<double>());
    EXPECT_EQ(true, m1["checksum_ok"]);
    EXPECT_EQ(42, m1["word"]);
    EXPECT_EQ("measurement", m1["band"]);
    EXPECT_EQ(42, m1["percent"]);
    EXPECT_EQ(1, m1["active_limit"]);
    EXPECT_EQ(2, lines[2]["lines"][0]["active_limit"]);
    EXPECT_EQ(7, lines[2]["lines"][0]["percent"]);
    EXPECT_EQ("min peak", lines[3]["lines"][0]["band"]);
    EXPECT_EQ(12, lines[3]["lines"][0]["peak"]);
    EXPECT_EQ("parameter", lines[4]["lines"][0]["band"]);
    EXPECT_EQ("limit1Setpoint", lines[4]["lines"][0]["field"]);
    EXPECT_EQ(50, lines[4]["lines"][0]["value"]);
    EXPECT_EQ("text", lines[5]["lines"][0]["band"]);
    EXPECT_EQ('A', lines[5]["lines"][0]["character"]);
    EXPECT_EQ("alarm", lines[6]["lines"][0]["band"]);
    EXPECT_EQ(2, lines[6]["lines"][0]["limit"]);
    EXPECT_EQ(false, lines[7]["lines"][0]["checksum_ok"]);
    // The torn line: its start waits, its end completes the word.
    EXPECT_TRUE(lines[8]["lines"].empty());
    EXPECT_EQ(3, lines[8]["unfinished"]);
    EXPECT_EQ(900, lines[9]["lines"][0]["word"]);
    EXPECT_EQ("max peak", lines[9]["lines"][0]["band"]);
    EXPECT_EQ(400, lines[9]["lines"][0]["peak"]);
    EXPECT_EQ("set parameter", lines[10]["lines"][0]["command"]);
    EXPECT_EQ("p1Max", lines[10]["lines"][0]["field"]);
    EXPECT_EQ(80, lines[10]["lines"][0]["value"]);

    run = ctl(dir, "decode " + path);
    ASSERT_EQ(0, run.code) << run.err;
    std::vector<std::string> text = clitest::lines(run.out);
    ASSERT_EQ(recording.packets.size(), text.size());
    EXPECT_NE(std::string::npos, text[1].find("ok word 42: measurement 42 %, limit 1 active")) << text[1];
    EXPECT_NE(std::string::npos, text[7].find("BAD word")) << text[7];
}

TEST(Recording, RefusedFilesGiveOneLineAndExitFive) {
    std::string dir = workDir();
    Recording recording;
    recording.add(0, FROM_DEVICE, replyLine(42));
    std::string path = recording.write(dir + "/rec.pcap");
    std::string bytes = readText(path);

    struct Case {
        std::string name;
        std::string content;
        std::string reason;
    };
    std::string wrongLink = bytes;
    wrongLink[20] = 1;
    std::string tooLong = bytes;
    tooLong[24 + 10] = 1;  // 65536 + 5 bytes
    std::vector<Case> cases = {
        {"text.pcap", "time,measurement\n2026,5\n", "not a recording"},
        {"cut.pcap", bytes.substr(0, 10), "truncated"},
        {"link.pcap", wrongLink, "link type 1,"},
        {"long.pcap", tooLong, "longer than the snaplen"},
    };
    for (const Case& c : cases) {
        std::ofstream(dir + "/" + c.name, std::ios::binary) << c.content;
        for (std::string command : {"decode ", "monitor --from "}) {
            CtlRun run = ctl(dir, command + dir + "/" + c.name);
            EXPECT_EQ(5, run.code) << command << c.name;
            EXPECT_EQ("", run.out) << command << c.name;
            std::vector<std::string> err = clitest::lines(run.err);
            ASSERT_EQ(1u, err.size()) << run.err;
            EXPECT_NE(std::string::npos, err[0].find(c.reason)) << err[0];
            EXPECT_EQ(0u, err[0].find("elq770ctl: " + dir + "/" + c.name + ": ")) << err[0];
        }
    }
    CtlRun run = ctl(dir, "decode " + dir + "/missing.pcap");
    EXPECT_EQ(5, run.code);
    // What is not a regular file is refused before a byte is read: an
    // endless device, a pipe nobody writes to, a folder.
    ASSERT_EQ(0, mkfifo((dir + "/pipe").c_str(), 0600));
    for (std::string path : {std::string("/dev/zero"), dir + "/pipe", dir}) {
        for (std::string command : {"decode ", "monitor --from "}) {
            run = ctl(dir, command + path);
            EXPECT_EQ(5, run.code) << command << path;
            EXPECT_EQ("elq770ctl: " + path + ": not a regular file (a device, a pipe or a folder), not a recording\n",
                      run.err);
        }
    }
}

namespace {

constexpr const char* GNU_TIME = "/usr/bin/time";

// Runs the tool to its end under GNU time: its peak resident memory in kB.
// The test's own wait4 would count what the forked child shared with this
// process before it started the tool.
long peakMemoryKb(const std::string& dir, const std::string& args) {
    std::vector<std::string> argv{GNU_TIME, "-f", "peak %M", ELQ_CTL_BINARY};
    std::istringstream in(args);
    for (std::string word; in >> word;) argv.push_back(word);
    int code = clitest::waitExit(clitest::spawn(argv, "/dev/null", dir + "/time.err"), 20000);
    std::string err = readText(dir + "/time.err");
    EXPECT_EQ(0, code) << err;
    size_t at = err.rfind("peak ");
    return at == std::string::npos ? -1 : std::stol(err.substr(at + 5));
}

}  // namespace

// The readers hold one packet at a time: a recording of 16 MB costs no more
// memory than one of a packet. (Frames to the device, which monitor passes
// over, so that the run is short.)
TEST(Recording, MemoryDoesNotGrowWithTheRecording) {
    if (access(GNU_TIME, X_OK) != 0)
        GTEST_SKIP() << GNU_TIME << " is missing: the peak memory is not checked (tools/install-deps.sh installs it)";
    std::string dir = workDir();
    Recording small;
    small.add(0, TO_DEVICE, std::vector<uint8_t>(RECORDING_MAX_BYTES, 0x11));
    small.write(dir + "/small.pcap");
    Recording large;
    for (int i = 0; i < 256; ++i) large.add(i * 1000, TO_DEVICE, std::vector<uint8_t>(RECORDING_MAX_BYTES, 0x11));
    large.write(dir + "/large.pcap");
    long smallKb = peakMemoryKb(dir, "monitor --from " + dir + "/small.pcap");
    long largeKb = peakMemoryKb(dir, "monitor --from " + dir + "/large.pcap");
    ASSERT_GT(smallKb, 0);
    EXPECT_LT(largeKb - smallKb, 4 * 1024) << "a 64 kB recording took " << smallKb << " kB, a 16 MB one " << largeKb;
}

TEST(Recording, TruncatedLastPacketIsReportedAndTheRestShown) {
    std::string dir = workDir();
    Recording recording;
    recording.add(0, FROM_DEVICE, replyLine(42));
    recording.add(20000, FROM_DEVICE, replyLine(43));
    recording.add(40000, FROM_DEVICE, replyLine(44));
    std::string bytes = readText(recording.write(dir + "/rec.pcap"));
    std::ofstream(dir + "/cut.pcap", std::ios::binary) << bytes.substr(0, bytes.size() - 2);
    CtlRun run = ctl(dir, "decode --json " + dir + "/cut.pcap");
    EXPECT_EQ(0, run.code);
    EXPECT_NE(std::string::npos, run.err.find("cut off")) << run.err;
    std::vector<nlohmann::json> lines = jsonLines(run.out);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(43, lines[1]["lines"][0]["word"]);
}

TEST(Recording, MonitorFromGivesTheRecordedRowsWithTheirTimes) {
    std::string dir = workDir();
    Recording recording;
    recording.add(0, TO_DEVICE, commandFrame(CMD_REQUEST_DATA));
    recording.add(10000, FROM_DEVICE, replyLine(500 + 90));  // max peak 90
    recording.add(20000, FROM_DEVICE, replyLine(10));
    recording.add(40000, FROM_DEVICE, replyLine(300 + 5));  // min peak 5
    recording.add(41000, FROM_DEVICE, replyLine(128 + 33));
    recording.add(60000, FROM_DEVICE, replyLine(65012));  // alarm word of limit 1
    recording.add(61000, FROM_DEVICE, replyLine(128 + 34));
    std::vector<uint8_t> bad = replyLine(77);
    bad[0] ^= 0x10;
    recording.add(80000, FROM_DEVICE, bad);  // ignored: bad sum
    recording.add(1500000, FROM_DEVICE, replyLine(12));
    std::string path = recording.write(dir + "/rec.pcap");

    auto at = [](int64_t offsetUs) { return isoTimestamp((START_US + offsetUs) / 1000); };
    std::vector<std::string> expected = {
        "time,measurement,activeLimit,maxPeak,minPeak,alarmWord",
        at(20000) + ",10,1,90,,",
        at(41000) + ",33,2,90,5,",
        at(61000) + ",34,2,90,5,65012",
        at(1500000) + ",12,1,90,5,",
    };
    CtlRun run = ctl(dir, "monitor --from " + path);
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(expected, clitest::lines(run.out));
    EXPECT_NE(std::string::npos, run.err.find("4 rows")) << run.err;

    run = ctl(dir, "monitor --from " + path + " --csv " + dir + "/rows.csv");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(expected, clitest::lines(readText(dir + "/rows.csv")));

    run = ctl(dir, "monitor");
    EXPECT_EQ(1, run.code);
    run = ctl(dir, "monitor --from " + path + " --port /dev/null");
    EXPECT_EQ(1, run.code);
}

// More lines in one packet than the trend ring holds: none of them is lost.
TEST(Recording, MonitorFromKeepsEveryRowOfALongPacket) {
    std::string dir = workDir();
    Recording recording;
    std::vector<uint8_t> lines;
    for (int i = 0; i < 1200; ++i) {
        std::vector<uint8_t> line = replyLine(static_cast<uint16_t>(i % 100));
        lines.insert(lines.end(), line.begin(), line.end());
    }
    recording.add(0, FROM_DEVICE, lines);
    std::string path = recording.write(dir + "/rec.pcap");
    CtlRun run = ctl(dir, "monitor --from " + path);
    ASSERT_EQ(0, run.code) << run.err;
    std::vector<std::string> rows = clitest::lines(run.out);
    ASSERT_EQ(1201u, rows.size());
    for (int i = 0; i < 1200; ++i)
        ASSERT_EQ(isoTimestamp(START_US / 1000) + "," + std::to_string(i % 100) + ",1,,,", rows[i + 1]) << i;
}

// A counting sequence of measurements, played by the simulator with the
// device's 20 ms spacing, recorded by the tool: every line of it is in the
// file once and in order. A constant level would hide a lost line.
TEST(Recording, RecordKeepsEveryLineTheDeviceSent) {
    std::string dir = workDir();
    constexpr int SENT = 150;  // 3 s
    Recording played;
    for (int i = 0; i < SENT; ++i) played.add(i * 20000, FROM_DEVICE, replyLine(static_cast<uint16_t>(i % 100)));
    clitest::Sim sim(dir, {"--replay", played.write(dir + "/played.pcap")});
    CtlRun run = ctl(dir, "record --port " + sim.link() + " --out " + dir + "/line.pcap --duration 5");
    ASSERT_EQ(0, run.code) << run.err;
    std::vector<int> words;
    for (const RecordedPacket& packet : clitest::readRecordingAt(dir + "/line.pcap").packets) {
        if (packet.direction != FROM_DEVICE) continue;
        for (int word : clitest::packetWords(packet)) words.push_back(word);
    }
    // The lines played before the tool opened the port are not its to keep:
    // those before its request reached the simulator (the port opens just
    // before the request goes out), however long a busy machine took to start
    // the tool. From there on the file holds the rest of the sequence.
    std::vector<e2e::LoggedWord> received = sim.timedWords();
    ASSERT_FALSE(received.empty()) << "the request the tool sends once the port is open";
    size_t playedBeforeRequest = static_cast<size_t>(received.front().seconds / 0.020);
    ASSERT_LT(playedBeforeRequest, SENT - 10u) << "the tool opened the port after the sequence was played";
    ASSERT_LE(words.size(), static_cast<size_t>(SENT)) << "lines doubled";
    size_t first = SENT - words.size();
    ASSERT_LE(first, playedBeforeRequest + 2) << "lines lost after the port opened";
    for (size_t k = 0; k < words.size(); ++k)
        ASSERT_EQ(static_cast<int>((first + k) % 100), words[k]) << "line " << k << " of " << words.size();
}

namespace {

// What one packet shows, field by field, each field's occurrences joined by
// FIELD_JOIN (a character no meaning holds).
constexpr char FIELD_JOIN = '\x1f';

struct PacketFields {
    std::string direction, words, commands, checksums, bands, meanings, unfinished;
};

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : std::string(1, FIELD_JOIN)) + items[i];
    return text;
}

// The fields the dissector should give, from decode --json.
PacketFields expectedFields(const nlohmann::json& entry) {
    PacketFields fields;
    bool toDevice = entry["direction"] == "to device";
    fields.direction = toDevice ? "1" : "0";
    std::vector<std::string> words, checksums, bands, meanings;
    for (const nlohmann::json& line : entry["lines"]) {
        if (line.contains("word")) words.push_back(std::to_string(line["word"].get<int>()));
        checksums.push_back(line["checksum_ok"].get<bool>() ? "1" : "0");
        if (line.contains("band")) bands.push_back(line["band"]);
        meanings.push_back(line["meaning"]);
    }
    (toDevice ? fields.commands : fields.words) = joined(words);
    fields.checksums = joined(checksums);
    fields.bands = joined(bands);
    fields.meanings = joined(meanings);
    int unfinished = entry["unfinished"].get<int>();
    fields.unfinished = unfinished > 0 ? std::to_string(unfinished) : "";
    return fields;
}

std::vector<std::string> splitTabs(const std::string& row) {
    std::vector<std::string> cells;
    std::string cell;
    for (char c : row) {
        if (c == '\t') {
            cells.push_back(cell);
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells.push_back(cell);
    return cells;
}

}  // namespace

// The Wireshark dissector, run by tshark on a recording, shows the same lines,
// words, checksums, bands and meanings as decode --json, packet by packet.
TEST(Recording, WiresharkDissectorShowsWhatDecodeShows) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed: the Wireshark dissector is not checked "
                        "(tools/install-deps.sh installs it)";
    std::string dir = workDir();
    Recording recording = requestAndFirstReadings();
    recording.add(80000, FROM_DEVICE, replyLine(777));
    recording.add(100000, FROM_DEVICE, replyLine(3150));
    recording.add(120000, FROM_DEVICE, replyLine(3065 + 1));
    recording.add(140000, FROM_DEVICE, replyLine(65200 + 'A'));
    recording.add(160000, FROM_DEVICE, replyLine(65200 + 13));
    recording.add(180000, FROM_DEVICE, replyLine(65200 + 200));
    recording.add(200000, FROM_DEVICE, replyLine(65012));
    recording.add(220000, FROM_DEVICE, replyLine(65036));
    recording.add(240000, FROM_DEVICE, replyLine(2000));  // between the bands: unused
    std::vector<uint8_t> bad = replyLine(600);
    bad[2] ^= 0x10;  // the sum no longer holds
    recording.add(260000, FROM_DEVICE, bad);
    // Several lines in one packet, an empty line among them.
    std::vector<uint8_t> several = replyLine(10);
    several.push_back(13);
    for (uint16_t word : {uint16_t{4500 + 90}, uint16_t{65300}}) {
        std::vector<uint8_t> line = replyLine(word);
        several.insert(several.end(), line.begin(), line.end());
    }
    recording.add(280000, FROM_DEVICE, several);
    // Both sides of every band's edges, in one packet.
    std::vector<uint8_t> edges;
    for (int word : {127, 128, 299, 300, 499, 500, 999, 1000, 2999, 3000, 3009, 3010, 3064, 3065, 4499, 4500,
                     64999, 65000, 65009, 65010, 65024, 65025, 65034, 65035, 65049, 65050, 65199, 65200,
                     65499, 65500, 65535}) {
        std::vector<uint8_t> line = replyLine(static_cast<uint16_t>(word));
        edges.insert(edges.end(), line.begin(), line.end());
    }
    recording.add(290000, FROM_DEVICE, edges);
    // A line torn over two packets, with a command frame between its halves.
    std::vector<uint8_t> torn = replyLine(900);
    recording.add(300000, FROM_DEVICE, std::vector<uint8_t>(torn.begin(), torn.begin() + 3));
    recording.add(310000, TO_DEVICE, commandFrame(CMD_SPACE_KEY));
    recording.add(320000, FROM_DEVICE, std::vector<uint8_t>(torn.begin() + 3, torn.end()));
    // A line longer than the program keeps: its first seven bytes sum up
    // (0x31 + 0x21 + 4 * 0x11 = 0x96), the bytes after them are dropped.
    recording.add(340000, FROM_DEVICE, {0x31, 0x21, 0x11, 0x11, 0x11, 0x11, 0x96, 0x77, 0x88, 13});
    // A NUL byte ends the line: 0x31 and its sum 0x31, word 51.
    recording.add(360000, FROM_DEVICE, {0x31, 0x31, 0x00, 0x51, 0x62, 13});
    recording.add(370000, FROM_DEVICE, {0x51, 13});  // one byte: no sum can hold
    // Noise that never ends in a CR, then the next line completes it.
    recording.add(380000, FROM_DEVICE, std::vector<uint8_t>(70, 0xff));
    recording.add(400000, FROM_DEVICE, replyLine(50));
    // Commands: every kind, a frame with a bad sum, a frame in two writes.
    recording.add(420000, TO_DEVICE, commandFrame(CMD_RESET_MAX_PEAK));
    recording.add(430000, TO_DEVICE, commandFrame(CMD_RESET_MIN_PEAK));
    recording.add(440000, TO_DEVICE, commandFrame(3100 + 55));
    recording.add(450000, TO_DEVICE, commandFrame(65500));  // unknown
    std::vector<uint8_t> badFrame = commandFrame(3200 + 20);
    badFrame[4] ^= 0x01;
    recording.add(460000, TO_DEVICE, badFrame);
    std::vector<uint8_t> split = commandFrame(3300 + 12);
    recording.add(470000, TO_DEVICE, std::vector<uint8_t>(split.begin(), split.begin() + 2));
    recording.add(480000, TO_DEVICE, std::vector<uint8_t>(split.begin() + 2, split.end()));
    std::string path = recording.write(dir + "/rec.pcap");

    CtlRun run = ctl(dir, "decode " + path + " --json");
    ASSERT_EQ(0, run.code) << run.err;
    std::vector<nlohmann::json> decoded = jsonLines(run.out);
    ASSERT_EQ(recording.packets.size(), decoded.size()) << run.out;

    // The aggregator keeps a field's occurrences apart (meanings hold commas).
    // HOME in the work folder: no personal profile or installed copy of the
    // dissector takes part.
    std::string command = "HOME=" + dir + " XDG_CONFIG_HOME=" + dir + "/config tshark -n -r " + path + " -X lua_script:" + ELQ_DISSECTOR_SCRIPT +
                          " -T fields -E separator=/t -E occurrence=a"
                          " -E \"aggregator=$(printf '\\037')\""
                          " -e elq770.direction -e elq770.word -e elq770.command -e elq770.checksum_ok"
                          " -e elq770.band -e elq770.meaning -e elq770.unfinished"
                          " >" + dir + "/tshark.out 2>" + dir + "/tshark.err";
    int status = std::system(command.c_str());
    std::string err = readText(dir + "/tshark.err");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << err;
    std::vector<std::string> rows = clitest::lines(readText(dir + "/tshark.out"));
    ASSERT_EQ(decoded.size(), rows.size()) << readText(dir + "/tshark.out") << err;

    int linesSeen = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::string> cells = splitTabs(rows[i]);
        ASSERT_EQ(7u, cells.size()) << i << ": " << rows[i];
        // tshark shows a boolean as True/False or 1/0, by version.
        std::string checksums = cells[3];
        for (const char* word : {"True", "False"}) {
            for (size_t at; (at = checksums.find(word)) != std::string::npos;)
                checksums.replace(at, std::string(word).size(), word[0] == 'T' ? "1" : "0");
        }
        PacketFields expected = expectedFields(decoded[i]);
        std::string packet = "packet " + std::to_string(i) + ": " + decoded[i].dump();
        EXPECT_EQ(expected.direction, cells[0]) << packet;
        EXPECT_EQ(expected.words, cells[1]) << packet;
        EXPECT_EQ(expected.commands, cells[2]) << packet;
        EXPECT_EQ(expected.checksums, checksums) << packet;
        EXPECT_EQ(expected.bands, cells[4]) << packet;
        EXPECT_EQ(expected.meanings, cells[5]) << packet;
        EXPECT_EQ(expected.unfinished, cells[6]) << packet;
        linesSeen += static_cast<int>(decoded[i]["lines"].size());
    }
    // The comparison covered what the recording holds, not empty rows.
    EXPECT_EQ(61, linesSeen);
}
