// Main thread, except the two taps: the device's bytes come on the link's
// reader thread and are cut into packets there, stamped at their arrival;
// the command frames come from putTransmitBytes on the main thread. Both
// append to one list under a mutex, which the main thread empties at each
// look into the file. Every batch goes out whole and flushed, after the
// header written at the start, so the file ends on a whole packet whenever
// the run stops.
#include "cli/record.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/link_watch.h"
#include "cli/platform.h"
#include "link/command_frames.h"
#include "link/line_recording.h"
#include "link/receive_parser.h"

std::atomic<int> recordStopRequested{0};

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr int STATUS_MS = 200;

int64_t nowEpochUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What the taps hand to the main thread.
struct Tap {
    std::mutex lock;
    DevicePacketizer device;
    std::vector<RecordedPacket> packets;
};
Tap tap;

void onReceived(const uint8_t* bytes, int count) {
    int64_t now = nowEpochUs();
    std::lock_guard<std::mutex> guard(tap.lock);
    tap.device.feed(bytes, count, now, &tap.packets);
}

void onTransmitted(const uint8_t* bytes, int count) {
    RecordedPacket packet;
    packet.timeUs = nowEpochUs();
    packet.direction = TO_DEVICE;
    packet.bytes.assign(bytes, bytes + count);
    std::lock_guard<std::mutex> guard(tap.lock);
    tap.packets.push_back(std::move(packet));
}

struct Counts {
    int64_t packets = 0;
    int64_t bytes = 0;
    int64_t lines = 0;
    int64_t badLines = 0;
    int64_t sent = 0;  // command frames
};

class Recorder {
public:
    explicit Recorder(const RecordOptions& options)
        : options_(options),
          watch_(options.port, [this] { return stopDue(); }, [this](const std::string& text) { note(text); }) {}
    int run();

private:
    bool stopDue() const;
    void note(const std::string& text);
    bool writeBatch(bool last);
    void showStatus(bool force);
    int end(int code);

    RecordOptions options_;
    LinkWatch watch_;
    std::FILE* file_ = nullptr;
    bool terminal_ = false;
    bool writeFailed_ = false;
    Counts counts_;
    LineAssembly line_{};  // the device's lines across packets, for the count
    Clock::time_point start_;
    Clock::time_point lastStatus_;
};

bool Recorder::stopDue() const {
    if (recordStopRequested.load(std::memory_order_relaxed) != 0) return true;
    if (options_.durationSeconds <= 0) return false;
    return Clock::now() - start_ >= std::chrono::duration<double>(options_.durationSeconds);
}

void Recorder::note(const std::string& text) {
    if (terminal_) std::fputs("\n", stdout);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// Takes the packets the taps have made (with last, also the device's
// waiting bytes) and writes them with one write.
bool Recorder::writeBatch(bool last) {
    std::vector<RecordedPacket> packets;
    {
        std::lock_guard<std::mutex> guard(tap.lock);
        if (last)
            tap.device.finish(&tap.packets);
        else
            tap.device.tick(nowEpochUs(), &tap.packets);
        packets.swap(tap.packets);
    }
    if (packets.empty() || writeFailed_) return !writeFailed_;
    std::vector<uint8_t> out;
    for (const RecordedPacket& packet : packets) {
        if (!appendRecordedPacket(&out, packet)) continue;  // a clock before 1970: nothing to write
        ++counts_.packets;
        counts_.bytes += static_cast<int64_t>(packet.bytes.size());
        if (packet.direction == TO_DEVICE) {
            ++counts_.sent;
            continue;
        }
        for (uint8_t byte : packet.bytes) {
            if (!assembleLineByte(&line_, byte)) continue;
            ++counts_.lines;
            if (!lineChecksumOk(line_.bytes)) ++counts_.badLines;
        }
    }
    if (std::fwrite(out.data(), 1, out.size(), file_) != out.size() || std::fflush(file_) != 0) {
        int error = lastSystemError();
        std::fprintf(stderr, "elq770ctl: %s: cannot write file: %s\n", options_.outPath.c_str(),
                     systemErrorText(error).c_str());
        writeFailed_ = true;
    }
    return !writeFailed_;
}

void Recorder::showStatus(bool force) {
    if (!terminal_) return;
    Clock::time_point now = Clock::now();
    if (!force && now - lastStatus_ < Ms(STATUS_MS)) return;
    lastStatus_ = now;
    std::printf("\rpackets %" PRId64 "  bytes %" PRId64 "  bad lines %" PRId64 "  gaps %d   ", counts_.packets,
                counts_.bytes, counts_.badLines, watch_.gaps());
    std::fflush(stdout);
}

// Closes the link (no tap runs after it), writes what is left and reports.
int Recorder::end(int code) {
    watch_.close();
    setReceivedBytesHook(nullptr);
    setTransmitTapHook(nullptr);
    writeBatch(true);
    if (std::fclose(file_) != 0 && !writeFailed_) {
        int error = lastSystemError();
        std::fprintf(stderr, "elq770ctl: %s: cannot write file: %s\n", options_.outPath.c_str(),
                     systemErrorText(error).c_str());
        writeFailed_ = true;
    }
    file_ = nullptr;
    if (code != EXIT_DONE) return code;
    showStatus(true);
    char text[400];
    std::snprintf(text, sizeof text,
                  "%" PRId64 " packets (%" PRId64 " command frames sent), %" PRId64 " bytes; %" PRId64
                  " reply lines, %" PRId64 " bad; %d link gaps (%.1f s); in %s",
                  counts_.packets, counts_.sent, counts_.bytes, counts_.lines, counts_.badLines, watch_.gaps(),
                  watch_.gapSeconds(), options_.outPath.c_str());
    note(text);
    return writeFailed_ ? EXIT_FILE_REFUSED : EXIT_DONE;
}

int Recorder::run() {
    terminal_ = stdoutIsTerminal();
    file_ = openFile(options_.outPath, "wb");
    if (file_ == nullptr) {
        int error = lastSystemError();
        std::fprintf(stderr, "elq770ctl: %s: cannot create file: %s\n", options_.outPath.c_str(),
                     systemErrorText(error).c_str());
        return EXIT_FILE_REFUSED;
    }
    std::vector<uint8_t> header;
    appendRecordingHeader(&header);
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() || std::fflush(file_) != 0) {
        int error = lastSystemError();
        std::fprintf(stderr, "elq770ctl: %s: cannot write file: %s\n", options_.outPath.c_str(),
                     systemErrorText(error).c_str());
        std::fclose(file_);
        return EXIT_FILE_REFUSED;
    }
    {
        std::lock_guard<std::mutex> guard(tap.lock);
        tap.device = DevicePacketizer();
        tap.packets.clear();
    }
    setReceivedBytesHook(onReceived);
    setTransmitTapHook(onTransmitted);
    start_ = Clock::now();
    if (!watch_.open()) return end(EXIT_PORT_NOT_OPENED);
    while (!stopDue()) {
        int looked = watch_.look();
        if (looked != EXIT_DONE) return end(looked);
        if (!writeBatch(false)) return end(EXIT_FILE_REFUSED);
        showStatus(false);
    }
    return end(EXIT_DONE);
}

}  // namespace

int runRecord(const RecordOptions& options) {
    Recorder recorder(options);
    return recorder.run();
}
