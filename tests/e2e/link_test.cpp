// End to end: the real serial link (link_check.exe under Wine) against the
// device simulator on COM1. link_check prints "key=value" lines; these cases
// judge them and what the simulator logged.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "link/command_frames.h"
#include "link/failed_reads.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Values;
using e2e::parseValues;

// Linux pid of the simulator that writes the given log (it was started by
// this test through the harness), found by its command line.
pid_t simulatorPid(const e2e::Simulator& sim) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return -1;
    pid_t found = -1;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::ifstream file("/proc/" + std::string(entry->d_name) + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (cmdline.find(sim.logPath()) != std::string::npos && cmdline.find("elq770-sim") != std::string::npos) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

// The harness's Wine session outlives the cases, so no later Wine start
// rewrites the COM links a case makes.
class LinkE2E : public e2e::KeyValueToolCase {
protected:
    LinkE2E() : KeyValueToolCase("link_check.exe") {}
};

// ---- The device's stream and answers reach the live state ----

using LinkReceive = LinkE2E;

TEST_F(LinkReceive, MeasurementsPeaksAndLimitArrive) {
    e2e::Simulator sim(1, {"--seed", "3", "--level", "42"});
    ASSERT_TRUE(sim.started());
    Values v = check({"stream", "COM1", "2"});
    EXPECT_EQ(1, e2e::valueNumber(v, "open"));
    EXPECT_GE(e2e::valueNumber(v, "measurementLines"), 60) << "50 measurements a second for 2 s";
    EXPECT_EQ(42, e2e::valueNumber(v, "measurement"));
    EXPECT_GE(e2e::valueNumber(v, "maxPeak"), 42);
    EXPECT_GE(e2e::valueNumber(v, "minPeak"), 0);
    EXPECT_LE(e2e::valueNumber(v, "minPeak"), 42);
    EXPECT_EQ(0, e2e::valueNumber(v, "activeLimit"));
    EXPECT_EQ(15, e2e::valueNumber(v, "linkWatchdog"));
    EXPECT_EQ(0, e2e::valueNumber(v, "readsDropped"));
}

TEST_F(LinkReceive, RequestBringsParametersAndDeviceText) {
    e2e::Simulator sim(1, {"--seed", "4", "--text", "LINK TEST 7"});
    ASSERT_TRUE(sim.started());
    Values v = check({"request", "COM1"});
    EXPECT_EQ(1, e2e::valueNumber(v, "requestStored"));
    EXPECT_EQ(1, e2e::valueNumber(v, "replied")) << "the parameter word of code 3000 must arrive within 2 s";
    EXPECT_EQ("LINK TEST 7", e2e::valueText(v, "deviceText"));
    EXPECT_GT(e2e::valueNumber(v, "param3100") + e2e::valueNumber(v, "param4500"), 0) << "parameters stay at their start values";
    std::vector<uint16_t> words = sim.receivedWords();
    EXPECT_EQ(std::vector<uint16_t>{CMD_REQUEST_DATA}, words);
}

// ---- Command words reach the device whole and in order ----

using LinkSend = LinkE2E;

TEST_F(LinkSend, CommandWordsArriveInOrder) {
    e2e::Simulator sim(1, {"--seed", "5"});
    ASSERT_TRUE(sim.started());
    std::vector<uint16_t> sent = {CMD_SPACE_KEY, CMD_RESET_MAX_PEAK, CMD_RESET_MIN_PEAK, 3420, 3105, 0};
    std::vector<std::string> args = {"send", "COM1"};
    for (uint16_t word : sent) args.push_back(std::to_string(word));
    Values v = check(args);
    EXPECT_EQ(static_cast<double>(sent.size()), e2e::valueNumber(v, "stored"));
    EXPECT_EQ(sent, sim.receivedWords());
    EXPECT_EQ(0, sim.badFrames());
}

// ---- Opening and closing ----

using LinkOpenClose = LinkE2E;

TEST_F(LinkOpenClose, MissingPortReturnsZeroAndLeavesNothingOpen) {
    Values v = check({"open-missing", "COM7"});
    EXPECT_EQ(0, e2e::valueNumber(v, "open"));
    EXPECT_EQ(e2e::valueText(v, "handlesBefore"), e2e::valueText(v, "handlesAfter"));
    EXPECT_EQ(e2e::valueText(v, "threadsBefore"), e2e::valueText(v, "threadsAfter"));
    EXPECT_EQ(0, e2e::valueNumber(v, "closeResult"));
}

// Each step of openLink after the port was opened fails in turn; the failed
// call must release its events, a thread it started, and the port itself.
TEST_F(LinkOpenClose, FailedOpenReleasesEverythingItCreated) {
    e2e::Simulator sim(1, {"--seed", "6"});
    ASSERT_TRUE(sim.started());
    const char* steps[] = {"configuration", "reader stop event", "writer stop event", "transmit event",
                           "reader thread", "writer thread"};
    for (int fault = 1; fault <= 6; ++fault) {
        SCOPED_TRACE(steps[fault - 1]);
        Values v = check({"open-fault", "COM1", std::to_string(fault)});
        EXPECT_EQ(0, e2e::valueNumber(v, "faultOpen"));
        EXPECT_EQ(e2e::valueText(v, "handlesBefore"), e2e::valueText(v, "handlesAfter"));
        EXPECT_EQ(e2e::valueText(v, "threadsBefore"), e2e::valueText(v, "threadsAfter"));
        EXPECT_EQ(1, e2e::valueNumber(v, "open")) << "the port stayed held by the failed open";
        EXPECT_GT(e2e::valueNumber(v, "measurementLines"), 0);
    }
}

TEST_F(LinkOpenClose, ClosingTwiceOrUnopenedIsHarmless) {
    e2e::Simulator sim(1, {"--seed", "7"});
    ASSERT_TRUE(sim.started());
    Values v = check({"close-twice", "COM1"});
    EXPECT_EQ(0, e2e::valueNumber(v, "closeUnopenedResult"));
    EXPECT_LT(e2e::valueNumber(v, "closeUnopenedMs"), 100);
    EXPECT_EQ(0, e2e::valueNumber(v, "closeFirstResult"));
    EXPECT_EQ(1, e2e::valueNumber(v, "closeFirstReaderEnded"));
    EXPECT_EQ(1, e2e::valueNumber(v, "closeFirstWriterEnded"));
    EXPECT_EQ(0, e2e::valueNumber(v, "closeSecondResult"));
    EXPECT_LT(e2e::valueNumber(v, "closeSecondMs"), 100);
    EXPECT_GT(e2e::valueNumber(v, "measurementLines"), 0) << "the port must open again after two closes";
}

TEST_F(LinkOpenClose, CloseWhileStreamingEndsBothThreadsQuickly) {
    e2e::Simulator sim(1, {"--seed", "8"});
    ASSERT_TRUE(sim.started());
    Values v = check({"close-while-streaming", "COM1", "10"}, 60000);
    EXPECT_EQ(10, e2e::valueNumber(v, "endedCycles"));
    EXPECT_EQ(1, e2e::valueNumber(v, "linesInEveryCycle"));
    EXPECT_LT(e2e::valueNumber(v, "worstCloseMs"), 1000);
    EXPECT_EQ(e2e::valueText(v, "handlesBefore"), e2e::valueText(v, "handlesAfter"));
    EXPECT_EQ(e2e::valueText(v, "threadsBefore"), e2e::valueText(v, "threadsAfter"));
}

// With a silent device a read is always outstanding at the stop request: it
// must be cancelled and completed, or the reader would wait for it forever.
TEST_F(LinkOpenClose, StopCancelsAndCompletesTheOutstandingRead) {
    e2e::Simulator sim(1, {"--seed", "9", "--silent"});
    ASSERT_TRUE(sim.started());
    Values v = check({"close-while-streaming", "COM1", "3"}, 20000);
    EXPECT_EQ(3, e2e::valueNumber(v, "endedCycles"));
    EXPECT_LT(e2e::valueNumber(v, "worstCloseMs"), 1000);
    EXPECT_EQ(3, e2e::valueNumber(v, "readsCancelled"));
}

// The simulator is stopped, so the line fills and a write goes pending; the
// close must abort it and end both threads.
TEST_F(LinkOpenClose, CloseDuringPendingWriteEndsBothThreads) {
    e2e::Simulator sim(1, {"--seed", "10", "--silent"});
    ASSERT_TRUE(sim.started());
    pid_t pid = simulatorPid(sim);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(0, kill(pid, SIGSTOP));
    Values v = check({"close-while-writing", "COM1"}, 30000);
    kill(pid, SIGCONT);
    EXPECT_EQ(1, e2e::valueNumber(v, "pendingSeen"));
    EXPECT_LT(e2e::valueNumber(v, "closeMs"), 1000);
    EXPECT_EQ(1, e2e::valueNumber(v, "closeReaderEnded"));
    EXPECT_EQ(1, e2e::valueNumber(v, "closeWriterEnded"));
    EXPECT_EQ(1, e2e::valueNumber(v, "writesAborted"));
}

// ---- Faults on the line ----

using LinkFaults = LinkE2E;

// Cancelling the reader's read from outside makes it complete with an error;
// the reader must issue the next read and keep the stream coming.
TEST_F(LinkFaults, ReadCompletingWithErrorDoesNotStopReception) {
    e2e::Simulator sim(1, {"--seed", "11"});
    ASSERT_TRUE(sim.started());
    Values v = check({"cancel-read", "COM1", "5"});
    EXPECT_GE(e2e::valueNumber(v, "readsFailedLater"), 1);
    EXPECT_GE(e2e::valueNumber(v, "measurementLinesAfter"), 25);
}

// After the device hangs up every read fails; the reader must keep retrying
// at a gentle pace, stay stoppable, and not burn a core.
TEST_F(LinkFaults, HangupNeitherCrashesNorSpinsTheReader) {
    e2e::Simulator sim(1, {"--seed", "12", "--hangup-after", "2"});
    ASSERT_TRUE(sim.started());
    Values v = check({"hangup", "COM1", "3"});
    EXPECT_GT(e2e::valueNumber(v, "measurementLines"), 0);
    double failures = e2e::valueNumber(v, "readsFailedAtOnce") + e2e::valueNumber(v, "readsFailedLater") + e2e::valueNumber(v, "readsDropped");
    EXPECT_GT(failures, 0) << "the hang-up did not reach the reader";
    EXPECT_LT(e2e::valueNumber(v, "hungCpuPercent"), 20);
    EXPECT_EQ(1, e2e::valueNumber(v, "deviceGone")) << "a hung-up line is a device gone";
    EXPECT_EQ(1, e2e::valueNumber(v, "closeReaderEnded"));
    EXPECT_LT(e2e::valueNumber(v, "closeMs"), 1000);
    std::printf("[ figures  ] after hang-up: %.2f %% CPU, %.0f failed reads in %.0f ms\n",
                e2e::valueNumber(v, "hungCpuPercent"), failures, e2e::valueNumber(v, "hungWallMs"));
}

// A driver whose reads complete with no bytes and no error once its device
// has gone: three such reads in a row mean the device has gone, and the
// reader reads no more (the program then reopens the port, as after a
// pulled adapter).
TEST_F(LinkFaults, ReadsCompletingWithNoBytesMeanTheDeviceHasGone) {
    e2e::Simulator sim(1, {"--seed", "14"});
    ASSERT_TRUE(sim.started());
    Values v = check({"empty-reads", "COM1"});
    EXPECT_GT(e2e::valueNumber(v, "measurementLines"), 0);
    EXPECT_EQ(1, e2e::valueNumber(v, "deviceGone"));
    EXPECT_EQ(FAILED_READS_FOR_DEVICE_GONE, e2e::valueNumber(v, "emptyReads"));
    EXPECT_EQ(1, e2e::valueNumber(v, "closeReaderEnded"));
}

// The writer's wait on a pending write fails; the write must be completed
// before its record and chunk are used again, so the words sent afterwards
// arrive whole and in order.
TEST_F(LinkFaults, FailedWriteWaitCompletesTheWriteBeforeReuse) {
    e2e::Simulator sim(1, {"--seed", "13", "--silent"});
    ASSERT_TRUE(sim.started());
    pid_t pid = simulatorPid(sim);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(0, kill(pid, SIGSTOP));
    std::vector<uint16_t> markers = {3101, 3102, 3103, 3104, 3105};
    std::vector<std::string> args = {"write-wait-fault", "COM1"};
    for (uint16_t word : markers) args.push_back(std::to_string(word));
    e2e::WineProcess process(exe(), args, workDir_);
    bool failed = false;
    for (int waited = 0; waited < 20000 && !failed; waited += 50) {
        failed = process.output().find("waitFailed=") != std::string::npos;
        usleep(50 * 1000);
    }
    kill(pid, SIGCONT);
    std::ofstream(workDir_ + "/go") << "go\n";
    ASSERT_TRUE(failed) << process.output();
    ASSERT_EQ(0, process.wait(30000)) << process.output();
    Values v = parseValues(process.output());
    EXPECT_GE(e2e::valueNumber(v, "waitFailed"), 1);
    EXPECT_EQ(static_cast<double>(markers.size()), e2e::valueNumber(v, "stored"));
    std::vector<uint16_t> words = sim.receivedWords();
    ASSERT_GE(words.size(), markers.size());
    std::vector<uint16_t> tail(words.end() - static_cast<long>(markers.size()), words.end());
    EXPECT_EQ(markers, tail);
    for (uint16_t word : words)
        EXPECT_TRUE(word == CMD_SPACE_KEY || std::count(markers.begin(), markers.end(), word) == 1)
            << "stray word " << word;
}

}  // namespace

// ---- Real Windows drivers ----

using LinkWindows = LinkE2E;

// SetCommState fails on many virtual-COM drivers when XonChar equals
// XoffChar; with XON/XOFF off the two characters change nothing on the line.
TEST_F(LinkWindows, LineSettingsCarryDistinctXonXoffCharactersAndFramesStillPass) {
    e2e::Simulator sim(1, {"--seed", "21"});
    ASSERT_TRUE(sim.started());
    std::vector<uint16_t> sent = {CMD_SPACE_KEY, 3420, CMD_RESET_MIN_PEAK};
    std::vector<std::string> args = {"dcb", "COM1"};
    for (uint16_t word : sent) args.push_back(std::to_string(word));
    Values v = check(args);
    ASSERT_EQ(1, e2e::valueNumber(v, "readBack"));
    EXPECT_EQ(0x11, e2e::valueNumber(v, "xonChar"));
    EXPECT_EQ(0x13, e2e::valueNumber(v, "xoffChar"));
    EXPECT_EQ(0, e2e::valueNumber(v, "outX"));
    EXPECT_EQ(0, e2e::valueNumber(v, "inX"));
    EXPECT_EQ(9600, e2e::valueNumber(v, "baudRate"));
    EXPECT_EQ(8, e2e::valueNumber(v, "byteSize"));
    EXPECT_EQ(sent, sim.receivedWords());
    EXPECT_EQ(0, sim.badFrames());
}

// A driver that never completes a cancelled read must not hang closeLink
// (and with it the program's exit): it gives up after about 5 s, and the
// next link starts clean. The given-up port is closed once its read ends
// (here when the silent device hangs up, well after the close gave up).
TEST_F(LinkWindows, CloseGivesUpOnAReadWhoseCancelNeverCompletes) {
    e2e::Simulator silent(1, {"--seed", "22", "--silent", "--hangup-after", "15"});
    e2e::Simulator other(2, {"--seed", "23"});
    ASSERT_TRUE(silent.started() && other.started());
    Values v = check({"close-lost-cancel", "COM1", "2"}, 60000);
    EXPECT_GE(e2e::valueNumber(v, "closeMs"), 4500);
    EXPECT_LT(e2e::valueNumber(v, "closeMs"), 7000);
    EXPECT_EQ(0, e2e::valueNumber(v, "closeReaderEnded")) << "the reader really was stuck";
    EXPECT_EQ(1, e2e::valueNumber(v, "openAfter"));
    EXPECT_GT(e2e::valueNumber(v, "measurementLinesAfter"), 0);
    EXPECT_EQ(1, e2e::valueNumber(v, "closeAfterReaderEnded"));
    EXPECT_EQ(1, e2e::valueNumber(v, "abandoned"));
    EXPECT_EQ(0, e2e::valueNumber(v, "releasedBeforeHangup")) << "the reader was still stuck";
    EXPECT_EQ(1, e2e::valueNumber(v, "released")) << "the port's handle is closed once its read has ended";
}
