// elq770ctl against the device simulator on a pseudo-terminal. Each case
// runs the real tool and observes what a user or the device sees: exit code,
// output, files, and the words in the simulator's log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "link/command_frames.h"
#include "link/line_recording.h"
#include "link/live_state.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "link/word_meaning.h"
#include "params/parameter_set.h"
#include "params/parameter_values.h"
#include "tests/cli/cli_harness.h"
#include "tests/e2e/sim_log.h"

namespace fs = std::filesystem;
using namespace clitest;

namespace {

std::vector<uint16_t> withoutRequests(const std::vector<uint16_t>& words) {
    std::vector<uint16_t> kept;
    for (uint16_t w : words)
        if (w != CMD_REQUEST_DATA) kept.push_back(w);
    return kept;
}

void writeBytes(const std::string& path, const ParameterSet& record, std::size_t size = sizeof(ParameterSet)) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(&record), static_cast<std::streamsize>(size));
}

}  // namespace

TEST(CliUsage, HelpListsExitCodesAndMistakesExitOne) {
    std::string dir = workDir();
    CtlRun help = ctl(dir, {"load", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("4  download not confirmed"), std::string::npos) << help.out;
    EXPECT_EQ(ctl(dir, {"info"}).code, 1);  // --port is required
    EXPECT_EQ(ctl(dir, {"info", "--port", "x", "--lang", "fr"}).code, 1);
}

// The first line names the mistake, with the tool's prefix, and the next
// says where the help is.
TEST(CliUsage, MistakesAreNamedInTheFirstLine) {
    std::string dir = workDir();
    struct Case {
        std::vector<std::string> args;
        std::string said;
    };
    for (const Case& c : {Case{{"infos"}, "elq770ctl: unknown subcommand 'infos'\nSee elq770ctl --help.\n"},
                          Case{{"info", "--prot", "P"}, "elq770ctl: info: unknown option --prot\n"},
                          Case{{"info", "P"}, "elq770ctl: info: unexpected argument 'P'\n"},
                          Case{{"monitor", "--port", "P", "--duration", "5s"},
                               "elq770ctl: --duration must be seconds, 0 to 31622400, not '5s'\n"}}) {
        CtlRun run = ctl(dir, c.args);
        EXPECT_EQ(run.code, 1) << c.said;
        EXPECT_EQ(run.err.find(c.said), 0u) << run.err;
    }
    EXPECT_NE(ctl(dir, {"record", "--help"}).out.find("0, the default, runs until Ctrl-C"), std::string::npos);
}

TEST(CliUsage, VersionIsTheProjectsVersion) {
    CtlRun version = ctl(workDir(), {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "elq770ctl " ELQ_CLI_VERSION "\n");
}

TEST(CliDevice, InfoShowsTextActiveLimitAndParametersInTheChosenLanguage) {
    std::string dir = workDir();
    Sim sim(dir, {"--text", "UNIT 7", "--setpoint1", "55", "--param", "3300=125", "--limit2"});
    CtlRun en = ctl(dir, {"info", "--port", sim.link()});
    ASSERT_EQ(en.code, 0) << en.err;
    EXPECT_NE(en.out.find("Corvanta: UNIT 7"), std::string::npos) << en.out;
    EXPECT_NE(en.out.find("Setpoint   : 55%"), std::string::npos) << en.out;
    EXPECT_NE(en.out.find("Tr         : 12.5s"), std::string::npos) << en.out;
    EXPECT_NE(en.out.find("Active Limit: Limit 2"), std::string::npos) << en.out;
    CtlRun de = ctl(dir, {"info", "--port", sim.link(), "--lang", "de"});
    EXPECT_NE(de.out.find("Grenzwert   : 55%"), std::string::npos) << de.out;
    EXPECT_NE(de.out.find("Polarit\xC3\xA4t"), std::string::npos) << "UTF-8 umlaut: " << de.out;
    CtlRun json = ctl(dir, {"info", "--port", sim.link(), "--json"});
    ASSERT_EQ(json.code, 0) << json.err;
    nlohmann::json parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["deviceText"], "UNIT 7");
    EXPECT_EQ(parsed["limit1Setpoint"], 55);
    EXPECT_EQ(parsed["limit1Tr"], 125);
    EXPECT_EQ(parsed["activeLimit"], 2) << "as the display and the CSV name it";
}

TEST(CliDevice, SavedFileLoadsBackAsSixteenPacedWordsInCodeOrderAndIsConfirmed) {
    std::string dir = workDir();
    std::string file = dir + "/unit.770";
    {
        Sim source(dir, {"--text", "SOURCE", "--setpoint1", "55", "--setpoint2", "33"}, "source");
        CtlRun save = ctl(dir, {"save", "--port", source.link(), file});
        ASSERT_EQ(save.code, 0) << save.err;
    }
    std::string bytes = readText(file);
    ASSERT_EQ(bytes.size(), 76u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[2]), 55);  // limit1Setpoint, little-endian
    EXPECT_EQ(bytes.substr(32, 7), std::string("SOURCE\0", 7));
    ParameterSet saved{};
    std::memcpy(&saved, bytes.data(), sizeof saved);

    Sim target(dir, {"--setpoint1", "70", "--setpoint2", "10"}, "target");
    CtlRun load = ctl(dir, {"load", "--port", target.link(), file});
    ASSERT_EQ(load.code, 0) << load.err;
    EXPECT_NE(load.out.find("confirmed"), std::string::npos);
    std::vector<e2e::LoggedWord> logged = target.timedWords();
    ASSERT_EQ(logged.size(), 17u);
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        EXPECT_EQ(logged[i].word, PARAMETER_BANDS[i].code + saved.*PARAMETER_BANDS[i].field) << i;
    EXPECT_EQ(logged[16].word, CMD_REQUEST_DATA);  // the confirmation
    // Sixteen ticks of 47 ms (0.75 s) from the first word to the request;
    // unpaced, all would arrive within a few milliseconds.
    EXPECT_GE(logged[16].seconds - logged[0].seconds, 0.60);
    CtlRun info = ctl(dir, {"info", "--port", target.link(), "--json"});
    EXPECT_EQ(nlohmann::json::parse(info.out)["limit2Setpoint"], 33);
}

namespace {

// A load of the device's own saved file (sixteen words) under way, stopped
// by signals once the simulator has logged its fifth word.
struct StoppedLoad {
    int code;
    std::string err;
    std::vector<uint16_t> words;  // the simulator's, the save's request first
};

StoppedLoad loadStoppedAtTheFifthWord(const std::string& dir, std::vector<int> signals) {
    Sim sim(dir);
    EXPECT_EQ(ctl(dir, {"save", "--port", sim.link(), dir + "/unit.770"}).code, 0);
    pid_t load = spawn({ELQ_CTL_BINARY, "load", "--port", sim.link(), dir + "/unit.770"}, dir + "/load.out",
                       dir + "/load.err");
    for (int waited = 0; sim.words().size() < 1 + 5 && waited < 10000; waited += 5) sleepMs(5);
    std::size_t at = sim.words().size() - 1;
    EXPECT_LT(at, 16u) << "the signal came after the download";
    for (int number : signals) {
        kill(load, number);
        sleepMs(10);
    }
    int code = waitExit(load, 5000);
    sleepMs(300);  // a word still on its way reaches the log
    return {code, readText(dir + "/load.err"), sim.words()};
}

}  // namespace

TEST(CliDownload, TheFirstStopRequestIsHeldUntilTheWordsAreSentAndReadBack) {
    StoppedLoad run = loadStoppedAtTheFifthWord(workDir(), {SIGINT});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("finishing the download"), std::string::npos) << run.err;
    ASSERT_EQ(run.words.size(), 1u + 16 + 1);
    EXPECT_EQ(run.words.back(), CMD_REQUEST_DATA) << "the read-back";
}

TEST(CliDownload, ASecondStopRequestEndsItAtOnceSayingTheDeviceMayHoldAMix) {
    StoppedLoad run = loadStoppedAtTheFifthWord(workDir(), {SIGINT, SIGTERM});
    EXPECT_EQ(run.code, 128 + SIGTERM) << run.err;
    ASSERT_GE(run.words.size(), 1u + 5);
    EXPECT_LT(run.words.size(), 1u + 16) << "ended before the last word";
    EXPECT_NE(run.words.back(), CMD_REQUEST_DATA) << "no read-back";
    std::string said = "download stopped after " + std::to_string(run.words.size() - 1) + " of 16 words";
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("may hold a mix of old and new values"), std::string::npos) << run.err;
}

TEST(CliDevice, SetSendsOnlyTheChangedWordsAndConfirmsThem) {
    std::string dir = workDir();
    Sim sim(dir, {"--setpoint2", "20"});
    CtlRun set = ctl(dir, {"set", "--port", sim.link(), "limit2Setpoint=45", "limit1Tr=12,5", "limit1Ts=2.5",
                        "limit2Type=Max", "nominalVoltage=400V", "limit2Setpoint=45"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(withoutRequests(sim.words()),
              (std::vector<uint16_t>{3300 + 125, 3900 + 25, 3010 + 2, 3200 + 45, 3040 + 2}));
    EXPECT_NE(set.out.find("limit2Setpoint 20% -> 45%"), std::string::npos) << set.out;
    CtlRun again = ctl(dir, {"set", "--port", sim.link(), "limit2Setpoint=45"});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(withoutRequests(sim.words()).size(), 5u) << "an unchanged value is not sent";
}

TEST(CliDevice, RefusedValueSendsNothing) {
    std::string dir = workDir();
    Sim sim(dir);
    for (const char* bad : {"limit1Tr=25.1", "volume=3"}) {
        CtlRun set = ctl(dir, {"set", "--port", sim.link(), "limit2Setpoint=45", bad});
        EXPECT_EQ(set.code, 1) << bad;
        EXPECT_NE(set.err.find("nothing sent"), std::string::npos) << set.err;
    }
    EXPECT_TRUE(sim.words().empty());
    EXPECT_NE(ctl(dir, {"set", "--port", sim.link(), "limit1Setpoint=100"}).err.find("5 to 99"), std::string::npos);
}

TEST(CliDevice, SilentPortsAndDisagreeingDevicesGiveTheirExitCodes) {
    std::string dir = workDir();
    CtlRun missing = ctl(dir, {"info", "--port", dir + "/no-such-tty"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find(dir + "/no-such-tty: cannot open port: No such file"), std::string::npos) << missing.err;
    {
        Sim mute(dir, {"--no-answer"}, "mute");
        CtlRun info = ctl(dir, {"info", "--port", mute.link()});
        EXPECT_EQ(info.code, 3);
        EXPECT_NE(info.err.find("no answer from the device"), std::string::npos);
    }
    {
        Sim silent(dir, {"--silent"}, "silent");
        CtlRun monitor = ctl(dir, {"monitor", "--port", silent.link(), "--duration", "20"});
        EXPECT_EQ(monitor.code, 3) << monitor.err;
    }
    Sim wrong(dir, {"--wrong-params"}, "wrong");
    CtlRun set = ctl(dir, {"set", "--port", wrong.link(), "limit1Setpoint=50"});
    EXPECT_EQ(set.code, 4);
    EXPECT_NE(set.err.find("limit1Setpoint sent 50, device reports 51"), std::string::npos) << set.err;
}

TEST(CliPorts, ScanNamesTheDeviceOnAGivenPort) {
    std::string dir = workDir();
    Sim sim(dir, {"--text", "SCAN ME"});
    CtlRun scan = ctl(dir, {"ports", "--scan", sim.link(), dir + "/nothing"});
    EXPECT_EQ(scan.code, 0);
    EXPECT_NE(scan.out.find(sim.link() + " SCAN ME"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("cannot open"), std::string::npos) << scan.out;
}

TEST(CliFile, ShowDecodesAFileAndNamesTheValueOutsideItsRange) {
    std::string dir = workDir();
    ParameterSet record{};
    for (const ParameterRange& range : PARAMETER_RANGES) record.*range.field = range.minimum;
    record.limit1Type = 2;
    record.limit1Setpoint = 50;
    record.nominalVoltage = 2;
    std::memcpy(record.deviceText, "OFFLINE", 7);
    writeBytes(dir + "/good.770", record);
    CtlRun show = ctl(dir, {"show", dir + "/good.770"});
    ASSERT_EQ(show.code, 0) << show.err;
    EXPECT_NE(show.out.find("Limit      : Max."), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("Voltage    : 400V"), std::string::npos) << show.out;
    EXPECT_EQ(nlohmann::json::parse(ctl(dir, {"show", "--json", dir + "/good.770"}).out)["deviceText"], "OFFLINE");

    record.p1Max = 30;  // inside its band, but no sheet would send it
    writeBytes(dir + "/foreign.770", record);
    CtlRun foreign = ctl(dir, {"show", dir + "/foreign.770"});
    EXPECT_EQ(foreign.code, 5);
    EXPECT_NE(foreign.err.find("p1Max is 30, outside its range (40 to 100)"), std::string::npos) << foreign.err;
    writeBytes(dir + "/short.770", record, 10);
    EXPECT_EQ(ctl(dir, {"show", dir + "/short.770"}).code, 5);
    CtlRun missing = ctl(dir, {"load", "--port", dir + "/tty", dir + "/none.770"});
    EXPECT_EQ(missing.code, 5) << "the file is checked before the port";
    EXPECT_NE(missing.err.find("none.770: cannot read file"), std::string::npos) << missing.err;
    CtlRun csv = ctl(dir, {"monitor", "--port", dir + "/tty", "--csv", dir + "/no-dir/log.csv"});
    EXPECT_EQ(csv.code, 5) << "the CSV file is created before the port is opened";
    EXPECT_NE(csv.err.find("no-dir/log.csv: cannot create file"), std::string::npos) << csv.err;
}

TEST(CliMonitor, CsvRowsFollowTheStream) {
    std::string dir = workDir();
    Sim sim(dir, {"--level", "42", "--limit2"});
    CtlRun run = ctl(dir, {"monitor", "--port", sim.link(), "--csv", dir + "/log.csv", "--duration", "2"});
    ASSERT_EQ(run.code, 0) << run.err;
    std::vector<std::string> rows = lines(readText(dir + "/log.csv"));
    ASSERT_GT(rows.size(), 1u);
    EXPECT_EQ(rows[0], "time,measurement,activeLimit,maxPeak,minPeak,alarmWord");
    // One row per 20 ms measurement: about 100 in two seconds, fewer when the
    // machine is busy, never more than the simulator sent.
    EXPECT_GE(rows.size(), 60u);
    EXPECT_LE(rows.size(), 110u);
    std::regex row(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,42,2,\d*,\d*,\d*)");
    for (std::size_t i = 1; i < rows.size(); ++i) ASSERT_TRUE(std::regex_match(rows[i], row)) << rows[i];
    EXPECT_LE(rows[1], rows.back()) << "timestamps run forward";
    EXPECT_NE(run.err.find(std::to_string(rows.size() - 1) + " rows; measurement min 42 %, max 42 %"),
              std::string::npos) << run.err;
}

TEST(CliMonitor, SimulatorRestartedOnTheSameLinkIsAGapAndCtrlCEndsTheRunCleanly) {
    std::string dir = workDir();
    EXPECT_EQ(runAcrossReplug(dir, {"monitor", "--csv", dir + "/log.csv"}, 1500).code, 0);
    std::string out = readText(dir + "/ctl.err");
    EXPECT_NE(out.find("link lost"), std::string::npos) << out;
    EXPECT_NE(out.find("link back after"), std::string::npos) << out;
    EXPECT_NE(out.find("1 link gap ("), std::string::npos) << out;
    std::vector<std::string> rows = lines(readText(dir + "/log.csv"));
    ASSERT_GT(rows.size(), 2u);
    EXPECT_NE(rows[1].find(",30,1,"), std::string::npos) << rows[1];
    EXPECT_NE(rows.back().find(",60,1,"), std::string::npos) << "rows go on after the gap: " << rows.back();
    EXPECT_NE(out.find(std::to_string(rows.size() - 1) + " rows"), std::string::npos)
        << "every counted row is in the file: " << out;
}

TEST(CliRecord, HoldsTheRequestAndTheStreamInOrderAtTheDevicePace) {
    std::string dir = workDir();
    Sim sim(dir, {"--level", "42"});
    CtlRun run = ctl(dir, {"record", "--port", sim.link(), "--out", dir + "/line.pcap", "--duration", "3"});
    ASSERT_EQ(run.code, 0) << run.err;
    RecordingContents recording = readRecordingAt(dir + "/line.pcap");
    EXPECT_FALSE(recording.truncatedLastPacket);
    std::vector<uint16_t> sent;
    std::vector<int64_t> measurementTimes;
    int64_t lastTime = 0;
    int lines = 0;
    for (const RecordedPacket& packet : recording.packets) {
        EXPECT_GE(packet.timeUs, lastTime) << "packets in the order they crossed the line";
        lastTime = packet.timeUs;
        std::vector<int> words = packetWords(packet);
        if (packet.direction == TO_DEVICE) {
            ASSERT_EQ(words.size(), 1u) << "one command frame per packet";
            sent.push_back(static_cast<uint16_t>(words[0]));
            continue;
        }
        ASSERT_EQ(words.size(), 1u) << "one reply line per device packet, through its CR";
        ASSERT_NE(words[0], -1) << "the simulator sends no bad line without --corrupt";
        ++lines;
        WordMeaning meaning = describeReplyWord(static_cast<uint16_t>(words[0]));
        if (meaning.band != BAND_MEASUREMENT) continue;
        EXPECT_EQ(meaning.value, 42);
        measurementTimes.push_back(packet.timeUs);
    }
    // What the tool sent is what the simulator received, and it is in the file.
    EXPECT_EQ(sent, sim.words());
    ASSERT_FALSE(sent.empty());
    // About 150 measurements in three seconds, fewer on a busy machine.
    ASSERT_GE(measurementTimes.size(), 75u);
    EXPECT_LE(measurementTimes.size(), 160u);
    std::vector<int64_t> spacing;
    for (std::size_t i = 1; i < measurementTimes.size(); ++i)
        spacing.push_back(measurementTimes[i] - measurementTimes[i - 1]);
    std::sort(spacing.begin(), spacing.end());
    int64_t median = spacing[spacing.size() / 2];
    EXPECT_GE(median, 15000) << "stamped at arrival, one measurement per 20 ms";
    EXPECT_LE(median, 25000);
    std::string frames = sent.size() == 1 ? " command frame sent)" : " command frames sent)";  // "1 command frame"
    EXPECT_NE(run.err.find(std::to_string(recording.packets.size()) + " packets (" + std::to_string(sent.size()) + frames),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find(std::to_string(lines) + " reply lines, 0 bad"), std::string::npos) << run.err;
}

TEST(CliRecord, StopRequestLeavesAWholeFileAndBadLinesAreCounted) {
    std::string dir = workDir();
    Sim sim(dir, {"--corrupt", "30"});
    pid_t record = spawn({ELQ_CTL_BINARY, "record", "--port", sim.link(), "--out", dir + "/line.pcap"},
                         dir + "/ctl.out", dir + "/ctl.err");
    sleepMs(1500);
    kill(record, SIGTERM);
    ASSERT_EQ(waitExit(record, 5000), 0) << readText(dir + "/ctl.err");
    RecordingContents recording = readRecordingAt(dir + "/line.pcap");
    EXPECT_FALSE(recording.truncatedLastPacket);
    int bad = 0;
    int lines = 0;
    for (const RecordedPacket& packet : recording.packets) {
        if (packet.direction != FROM_DEVICE) continue;
        for (int word : packetWords(packet)) {
            ++lines;
            if (word == -1) ++bad;
        }
    }
    EXPECT_GT(lines, 20);
    EXPECT_GT(bad, 0);
    std::string out = readText(dir + "/ctl.err");
    EXPECT_NE(out.find(std::to_string(lines) + " reply lines, " + std::to_string(bad) + " bad"), std::string::npos)
        << out;
}

TEST(CliRecord, LinkGapIsSilenceInTheFileAndTheRequestAfterItIsRecorded) {
    std::string dir = workDir();
    ReplugRun run = runAcrossReplug(dir, {"record", "--out", dir + "/line.pcap"}, 1000);
    ASSERT_EQ(run.code, 0) << readText(dir + "/ctl.err");
    EXPECT_NE(readText(dir + "/ctl.err").find("1 link gap ("), std::string::npos) << readText(dir + "/ctl.err");
    RecordingContents recording = readRecordingAt(dir + "/line.pcap");
    // 30 % before the gap, 60 % after it, with no line for over a second
    // between them and a request sent to the second simulator.
    int64_t lastOf30 = -1;
    int64_t firstOf60 = -1;
    int requests = 0;
    for (const RecordedPacket& packet : recording.packets) {
        if (packet.direction == TO_DEVICE) {
            ++requests;
            continue;
        }
        for (int word : packetWords(packet)) {
            if (word < 0) continue;
            WordMeaning meaning = describeReplyWord(static_cast<uint16_t>(word));
            if (meaning.band != BAND_MEASUREMENT) continue;
            if (meaning.value == 30) {
                EXPECT_EQ(firstOf60, -1) << "no line of the first simulator after the second's";
                lastOf30 = packet.timeUs;
            }
            if (meaning.value == 60 && firstOf60 < 0) firstOf60 = packet.timeUs;
        }
    }
    ASSERT_GE(lastOf30, 0);
    ASSERT_GE(firstOf60, 0);
    EXPECT_GE(firstOf60 - lastOf30, 1000000);
    EXPECT_GE(requests, 2) << "the request at the start and after the reopen";
    EXPECT_EQ(run.afterWords, std::vector<uint16_t>{CMD_REQUEST_DATA});
}

// The port opens before the file is made: a mistyped port leaves an earlier
// recording as it was, and a file that cannot be made is refused after it.
TEST(CliRecord, MistypedPortLeavesTheFileAsItWasAndAnUncreatableFileIsRefused) {
    std::string dir = workDir();
    std::ofstream(dir + "/keep.pcap") << "an earlier recording";
    CtlRun typo = ctl(dir, {"record", "--port", dir + "/ttyNOPE", "--out", dir + "/keep.pcap"});
    EXPECT_EQ(typo.code, 2);
    EXPECT_EQ(readText(dir + "/keep.pcap"), "an earlier recording");
    Sim sim(dir);
    CtlRun run = ctl(dir, {"record", "--port", sim.link(), "--out", dir + "/no-dir/line.pcap"});
    EXPECT_EQ(run.code, 5);
    EXPECT_NE(run.err.find("no-dir/line.pcap: cannot create file"), std::string::npos) << run.err;
}

namespace {

// The measurement column of a monitor CSV file, header left out.
std::vector<std::string> measurementColumn(const std::string& path) {
    std::vector<std::string> values;
    std::vector<std::string> rows = lines(readText(path));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        std::size_t first = rows[i].find(',');
        std::size_t second = rows[i].find(',', first + 1);
        values.push_back(rows[i].substr(first + 1, second - first - 1));
    }
    return values;
}

}  // namespace

TEST(CliReplay, ReplayedIntoMonitorGivesTheRowsOfMonitorFrom) {
    std::string dir = workDir();
    std::string recording = dir + "/line.pcap";
    {
        Sim live(dir, {}, "live");  // the load curve: rows that differ
        CtlRun record = ctl(dir, {"record", "--port", live.link(), "--out", recording, "--duration", "2"});
        ASSERT_EQ(record.code, 0) << record.err;
    }
    CtlRun from = ctl(dir, {"monitor", "--from", recording, "--csv", dir + "/from.csv"});
    ASSERT_EQ(from.code, 0) << from.err;
    std::vector<std::string> recorded = measurementColumn(dir + "/from.csv");
    ASSERT_GE(recorded.size(), 50u);

    Sim replay(dir, {"--replay", recording, "--loop"}, "replay");
    CtlRun monitor = ctl(dir, {"monitor", "--port", replay.link(), "--csv", dir + "/live.csv", "--duration", "3"});
    ASSERT_EQ(monitor.code, 0) << monitor.err;
    std::vector<std::string> played = measurementColumn(dir + "/live.csv");
    ASSERT_GE(played.size(), recorded.size() / 2);
    // The live rows are the recorded rows going round: from some row of the
    // recording on, each live row is the next one, none lost or added.
    bool matched = false;
    for (std::size_t start = 0; start < recorded.size() && !matched; ++start) {
        matched = true;
        for (std::size_t k = 0; k < played.size() && matched; ++k)
            matched = played[k] == recorded[(start + k) % recorded.size()];
    }
    EXPECT_TRUE(matched) << "live " << played.size() << " rows, recorded " << recorded.size();
    EXPECT_EQ(replay.words(), std::vector<uint16_t>{CMD_REQUEST_DATA}) << "the replay logs what it receives";
}

// record --relay between the simulator and elq770ctl info: the info reads
// the device through the relay, and both directions are in the file.
TEST(CliRelay, InfoThroughTheRelayIsRightAndBothDirectionsAreRecorded) {
    std::string dir = workDir();
    Sim sim(dir, {"--text", "RELAYED", "--setpoint1", "55"});
    std::string link = dir + "/relay";
    pid_t relay = spawn({ELQ_CTL_BINARY, "record", "--port", sim.link(), "--relay", link, "--out", dir + "/line.pcap"},
                        dir + "/relay.out", dir + "/relay.err");
    ASSERT_TRUE(waitForSymlink(link, 5000)) << readText(dir + "/relay.err");
    CtlRun info = ctl(dir, {"info", "--port", link, "--json"});
    kill(relay, SIGTERM);
    ASSERT_EQ(waitExit(relay, 5000), 0) << readText(dir + "/relay.err");
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the relay removes its link at the end";
    ASSERT_EQ(info.code, 0) << info.err;
    nlohmann::json parsed = nlohmann::json::parse(info.out);
    EXPECT_EQ(parsed["deviceText"], "RELAYED");
    EXPECT_EQ(parsed["limit1Setpoint"], 55);

    RecordingContents recording = readRecordingAt(dir + "/line.pcap");
    EXPECT_FALSE(recording.truncatedLastPacket);
    uint8_t request[FRAME_SIZE];
    buildFrame(CMD_REQUEST_DATA, request);
    std::vector<uint16_t> sent;
    int64_t requestTime = -1;
    int64_t setpointTime = -1;
    std::string text;
    int64_t lastTime = 0;
    for (const RecordedPacket& packet : recording.packets) {
        EXPECT_GE(packet.timeUs, lastTime) << "packets in the order they crossed";
        lastTime = packet.timeUs;
        std::vector<int> words = packetWords(packet);
        if (packet.direction == TO_DEVICE) {
            ASSERT_EQ(words.size(), 1u) << "one command frame per packet";
            ASSERT_NE(words[0], -1);
            sent.push_back(static_cast<uint16_t>(words[0]));
            if (words[0] == CMD_REQUEST_DATA && requestTime < 0) {
                EXPECT_EQ(packet.bytes, std::vector<uint8_t>(request, request + FRAME_SIZE));
                requestTime = packet.timeUs;
            }
            continue;
        }
        ASSERT_EQ(words.size(), 1u) << "one reply line per device packet";
        if (words[0] < 0 || requestTime < 0) continue;
        WordMeaning meaning = describeReplyWord(static_cast<uint16_t>(words[0]));
        if (meaning.band == BAND_PARAMETER && meaning.field != nullptr &&
            std::string(meaning.field) == "limit1Setpoint" && meaning.value == 55 && setpointTime < 0)
            setpointTime = packet.timeUs;
        if (meaning.band == BAND_TEXT && meaning.value != 13) text += static_cast<char>(meaning.value);
    }
    // What the info sent through the relay is what the simulator received,
    // and it is in the file; the answer to the request follows it.
    EXPECT_EQ(sent, sim.words());
    ASSERT_GE(requestTime, 0) << "the request frame as a packet to the device";
    ASSERT_GE(setpointTime, 0) << "the parameter answer as a packet from the device";
    EXPECT_GT(setpointTime, requestTime);
    EXPECT_NE(text.find("RELAYED"), std::string::npos) << text;
    EXPECT_NE(readText(dir + "/relay.err").find(std::to_string(sent.size()) + (sent.size() == 1 ? " command frame relayed"
                                                                                               : " command frames relayed")),
              std::string::npos) << readText(dir + "/relay.err");
}

// Refused runs leave an earlier recording as it was.
TEST(CliRelay, UnopenablePortAndOccupiedLinkAreRefused) {
    std::string dir = workDir();
    std::ofstream(dir + "/keep.pcap") << "an earlier recording";
    CtlRun missing = ctl(dir, {"record", "--port", dir + "/no-such-tty", "--relay", dir + "/relay", "--out",
                               dir + "/keep.pcap"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("no-such-tty: cannot open port"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/relay")));
    Sim sim(dir);
    std::ofstream(dir + "/taken") << "a real file";
    CtlRun taken = ctl(dir, {"record", "--port", sim.link(), "--relay", dir + "/taken", "--force", "--out",
                             dir + "/keep.pcap"});
    EXPECT_EQ(taken.code, 2);
    EXPECT_NE(taken.err.find("exists and is not a symlink"), std::string::npos) << taken.err;
    EXPECT_EQ(readText(dir + "/taken"), "a real file") << "a real file is never replaced";
    EXPECT_EQ(readText(dir + "/keep.pcap"), "an earlier recording");
}

namespace {

// A /dev/pts entry that does not exist: what a relay or simulator that
// died leaves its link pointing to.
std::string goneTerminal() {
    for (int number = 4000;; ++number) {
        std::string path = "/dev/pts/" + std::to_string(number);
        if (!fs::exists(path)) return path;
    }
}

// A relay from the simulator to link, started and waited for; "" when it
// said it relays, else what it said on stderr.
std::string startRelay(const std::string& dir, const std::string& port, const std::string& link,
                       std::vector<std::string> extra, pid_t* relay) {
    std::vector<std::string> args{ELQ_CTL_BINARY, "record", "--port", port, "--relay", link, "--out",
                                  dir + "/line.pcap"};
    args.insert(args.end(), extra.begin(), extra.end());
    fs::remove(dir + "/relay.err");  // an earlier relay's words are not this one's
    *relay = spawn(args, dir + "/relay.out", dir + "/relay.err");
    if (waitForText(dir + "/relay.err", "relaying", 5000)) return "";
    return "no relay: " + readText(dir + "/relay.err");
}

}  // namespace

// LINK is replaced only where a relay or simulator left a link to a
// terminal that is gone, or with --force, and never when it is the port;
// the terminal is the relay's user's alone; a closed terminal (SIGHUP) and
// Ctrl-\ (SIGQUIT) end the relay as Ctrl-C does, the link removed.
TEST(CliRelay, ReplacesOnlyAStaleLinkOrWithForceAndNeverThePort) {
    std::string dir = workDir();
    Sim sim(dir);
    std::string stale = dir + "/stale";
    fs::create_symlink(goneTerminal(), stale);
    pid_t relay = 0;
    ASSERT_EQ(startRelay(dir, sim.link(), stale, {}, &relay), "");
    struct stat terminal{};
    ASSERT_EQ(stat(stale.c_str(), &terminal), 0);
    EXPECT_EQ(terminal.st_mode & 0777, 0600u);
    kill(relay, SIGHUP);
    EXPECT_EQ(waitExit(relay, 5000), 0) << readText(dir + "/relay.err");
    EXPECT_FALSE(fs::exists(fs::symlink_status(stale)));

    std::string other = dir + "/other";
    std::ofstream(dir + "/notes.txt") << "someone's";
    fs::create_symlink(dir + "/notes.txt", other);
    CtlRun refused = ctl(dir, {"record", "--port", sim.link(), "--relay", other, "--out", dir + "/line.pcap"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("--force replaces it"), std::string::npos) << refused.err;
    EXPECT_EQ(fs::read_symlink(other), dir + "/notes.txt");
    ASSERT_EQ(startRelay(dir, sim.link(), other, {"--force"}, &relay), "");
    EXPECT_NE(fs::read_symlink(other), dir + "/notes.txt");
    kill(relay, SIGQUIT);
    EXPECT_EQ(waitExit(relay, 5000), 0) << readText(dir + "/relay.err");
    EXPECT_FALSE(fs::exists(fs::symlink_status(other)));

    fs::path port = fs::read_symlink(sim.link());
    CtlRun itself = ctl(dir, {"record", "--port", sim.link(), "--relay", sim.link(), "--force", "--out",
                              dir + "/line.pcap"});
    EXPECT_EQ(itself.code, 2);
    EXPECT_NE(itself.err.find("the device's port itself"), std::string::npos) << itself.err;
    EXPECT_EQ(fs::read_symlink(sim.link()), port);
}

// A port that keeps a full chunk ready (a USB CDC port ignores the baud
// rate): the relay still writes its file while the flood goes on, with no
// second in which it stood still.
TEST(CliRelay, FileGrowsWhileThePortFloods) {
    std::string dir = workDir();
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string port = ptsname(master);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const uint8_t line[] = {0x21, 0xA1, 0xC2, 0x0D};  // measurement 42
        uint8_t block[4096];
        for (size_t i = 0; i < sizeof block; ++i) block[i] = line[i % sizeof line];
        pollfd writable{master, POLLOUT, 0};
        while (flooding.load()) {
            if (write(master, block, sizeof block) < 0) poll(&writable, 1, 10);
        }
    });
    pid_t relay = 0;
    std::string started = startRelay(dir, port, dir + "/relay", {}, &relay);
    using Clock = std::chrono::steady_clock;
    Clock::time_point end = Clock::now() + std::chrono::seconds(3);
    Clock::time_point lastGrowth = Clock::now();
    Clock::duration longestStill{};
    std::uintmax_t size = 0;
    while (started.empty() && Clock::now() < end) {
        sleepMs(20);
        std::error_code missing;
        std::uintmax_t now = fs::file_size(dir + "/line.pcap", missing);
        if (!missing && now > size) lastGrowth = Clock::now();
        size = missing ? size : now;
        longestStill = std::max(longestStill, Clock::now() - lastGrowth);
    }
    kill(relay, SIGINT);
    int code = waitExit(relay, 5000);
    flooding = false;
    flood.join();
    close(master);
    ASSERT_EQ(started, "");
    EXPECT_GT(size, 100000u);
    EXPECT_LT(longestStill, std::chrono::seconds(1)) << "the file stood still while the port flooded";
    EXPECT_EQ(code, 0) << readText(dir + "/relay.err");
}
