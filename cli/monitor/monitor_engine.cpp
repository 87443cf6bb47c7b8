// Main thread only. The measurements come through the trend ring, which the
// reader thread fills; with the roll index at 0 it takes every measurement,
// so the tool is the ring's consumer as the graph is in the window program.
// The port, the first line and the gaps are the LinkWatch's (link_watch.h).
#include "cli/monitor/monitor_engine.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "cli/console/clock.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/console/run_frame.h"
#include "cli/device/link_watch.h"
#include "cli/device/live_feed.h"
#include "cli/recording/recording_reader.h"
#include "display/readout_text.h"
#include "link/live_state.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr int FLUSH_MS = 1000;
constexpr const char* CSV_HEADER = "time,measurement,activeLimit,maxPeak,minPeak,alarmWord\n";

std::string peakText(int32_t peak) { return peak == NO_VALUE ? "" : std::to_string(peak); }

struct Summary {
    int64_t rows = 0;
    int32_t minimum = std::numeric_limits<int32_t>::max();
    int32_t maximum = std::numeric_limits<int32_t>::min();
    double sum = 0;
    uint32_t alarms = 0;
};

class Monitor {
public:
    explicit Monitor(const MonitorOptions& options)
        : options_(options),
          frame_(options.durationSeconds),
          watch_(options.port, [this] { return frame_.endDue(); }, [this](const std::string& text) { note(text); }) {}
    int run();
    int runFromRecording();

private:
    int openOutputs();
    void takeRows(int64_t epochMs);
    void writeRow(int32_t measurement, int64_t epochMs);
    void showStatus(bool force);
    std::string statusText() const;
    void note(const std::string& text);
    void finish(int64_t epochMs);
    void summarize();

    MonitorOptions options_;
    RunFrame frame_;
    LinkWatch watch_;
    std::FILE* csv_ = nullptr;
    bool rowsToStdout_ = false;
    Summary summary_;
    uint32_t alarmCount_ = 0;
    int32_t lastMeasurement_ = NO_VALUE;
    Clock::time_point lastFlush_;
};

void Monitor::writeRow(int32_t measurement, int64_t epochMs) {
    // The row shows the latest of the alarm words since the last row; the
    // summary counts them all.
    std::string alarm;
    summary_.alarms += takeAlarmWords(&alarmCount_, [&](uint16_t word) {
        ++summary_.alarms;
        alarm = std::to_string(word);
    });
    std::string row = isoTimestamp(epochMs) + "," + std::to_string(measurement) + "," +
                      std::to_string(loadField(deviceParameters.activeLimit) + 1) + "," +
                      peakText(liveState.maxPeak.load(std::memory_order_relaxed)) + "," +
                      peakText(liveState.minPeak.load(std::memory_order_relaxed)) + "," + alarm + "\n";
    if (csv_ != nullptr) std::fputs(row.c_str(), csv_);
    if (rowsToStdout_) std::fputs(row.c_str(), stdout);
    ++summary_.rows;
    summary_.sum += measurement;
    if (measurement < summary_.minimum) summary_.minimum = measurement;
    if (measurement > summary_.maximum) summary_.maximum = measurement;
    lastMeasurement_ = measurement;
}

// Every sample the reader thread has published since the last look, with
// the time of the look.
void Monitor::takeRows(int64_t epochMs) {
    takeTrendSamples([&](int32_t measurement) { writeRow(measurement, epochMs); });
}

void Monitor::showStatus(bool force) { frame_.showStatus(force, [this] { return statusText(); }); }

std::string Monitor::statusText() const {
    char active[READOUT_TEXT_SIZE];
    activeLimitTextNow(active, sizeof active);
    char line[200];
    std::snprintf(line, sizeof line, "%s  %3s %%  %s max %s min %s  rows %" PRId64 "  alarms %u  gaps %d",
                  isoTimestamp(nowEpochMs()).substr(11, 12).c_str(),
                  lastMeasurement_ == NO_VALUE ? "--" : std::to_string(lastMeasurement_).c_str(), active,
                  peakText(liveState.maxPeak.load(std::memory_order_relaxed)).c_str(),
                  peakText(liveState.minPeak.load(std::memory_order_relaxed)).c_str(), summary_.rows,
                  summary_.alarms, watch_.gaps().gaps());
    return line;
}

void Monitor::note(const std::string& text) { frame_.note(text); }

// The CSV is closed and the summary written before the link closes: closing
// a stuck driver may take all the time that Windows leaves a process after
// the console's close.
void Monitor::finish(int64_t epochMs) {
    takeRows(epochMs);
    summarize();
    watch_.close();
}

void Monitor::summarize() {
    if (csv_ != nullptr) std::fclose(csv_);
    csv_ = nullptr;
    char measured[120] = "";
    if (summary_.rows > 0)
        std::snprintf(measured, sizeof measured, "; measurement min %d %%, max %d %%, mean %.1f %%", summary_.minimum,
                      summary_.maximum, summary_.sum / summary_.rows);
    frame_.summarize([this] { return statusText(); }, countOf(summary_.rows, "row") + measured + "; " +
                                                          countOf(summary_.alarms, "alarm word") + "; " +
                                                          watch_.gaps().summaryText());
}

int Monitor::openOutputs() {
    if (!options_.csvPath.empty()) {
        csv_ = openFile(options_.csvPath, "w");
        if (csv_ == nullptr) {
            int error = lastSystemError();
            report(options_.csvPath, std::string("cannot create file: ") + systemErrorText(error));
            return EXIT_FILE_REFUSED;
        }
        std::fputs(CSV_HEADER, csv_);
    }
    if (rowsToStdout_) std::fputs(CSV_HEADER, stdout);
    takeEveryMeasurement();
    return EXIT_DONE;
}

// The device's packets go through the parser as the reader thread would pass
// them; each packet's rows take its time, the arrival of its last byte.
// Without --csv the rows go to standard output even on a terminal: there is
// no live status to show.
int Monitor::runFromRecording() {
    RecordingFileReader file;
    int result = file.open(options_.fromPath);
    if (result != EXIT_DONE) return result;
    frame_.hideStatus();
    rowsToStdout_ = options_.csvPath.empty();
    result = openOutputs();
    if (result != EXIT_DONE) return result;
    alarmCount_ = liveState.alarmWordCount.load(std::memory_order_relaxed);
    result = file.forEachPacket([this](const RecordedPacket& packet) {
        if (packet.direction != FROM_DEVICE) return;
        // Line by line: a packet of another writer may hold more lines than
        // the trend ring holds samples.
        const uint8_t* bytes = packet.bytes.data();
        size_t size = packet.bytes.size();
        size_t start = 0;
        while (start < size) {
            size_t end = start;
            while (end < size && bytes[end] != 13) ++end;
            if (end < size) ++end;  // the CR
            parseReceivedBytes(bytes + start, static_cast<int>(end - start));
            takeRows(packet.timeUs / 1000);
            start = end;
        }
    });
    summarize();
    return result;
}

int Monitor::run() {
    rowsToStdout_ = !frame_.statusShown() && options_.csvPath.empty();
    // Notices go where they do not mix with rows: stderr when rows go to stdout.
    int opened = openOutputs();
    if (opened != EXIT_DONE) return opened;
    frame_.start();
    lastFlush_ = Clock::now();
    if (!watch_.open()) {
        if (csv_ != nullptr) std::fclose(csv_);
        return EXIT_PORT_NOT_OPENED;
    }
    // Rows start now: what came before the run is skipped.
    skipTrendSamplesSoFar();
    alarmCount_ = liveState.alarmWordCount.load(std::memory_order_relaxed);
    while (!frame_.endDue()) {
        int looked = watch_.look();
        if (looked != EXIT_DONE) {
            if (csv_ != nullptr) std::fclose(csv_);
            return looked;
        }
        Clock::time_point now = Clock::now();
        takeRows(nowEpochMs());
        showStatus(false);
        if (now - lastFlush_ >= Ms(FLUSH_MS)) {
            if (csv_ != nullptr) std::fflush(csv_);
            if (rowsToStdout_) std::fflush(stdout);
            lastFlush_ = now;
        }
    }
    finish(nowEpochMs());
    return EXIT_DONE;
}

}  // namespace

int runMonitor(const MonitorOptions& options) {
    Monitor monitor(options);
    return options.fromPath.empty() ? monitor.run() : monitor.runFromRecording();
}
