// Main thread, except one tap: the device's bytes come on the link's reader
// thread, which stamps them at their arrival and hands them over through a
// single-producer, single-consumer ring of chunks, so that it never waits
// for the main thread. The command frames come from putTransmitBytes on the
// main thread itself. The main thread cuts the device's bytes into packets
// at each look into the file and writes every batch whole and flushed,
// after the header written once the port is open, so the file ends on a
// whole packet whenever the run stops.
#include "cli/recording/recorder.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "cli/console/clock.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/run_frame.h"
#include "cli/device/link_watch.h"
#include "cli/recording/recording_writer.h"
#include "link/command_frames.h"
#include "link/line_recording.h"
#include "link/receive_parser.h"

namespace {

// The device's bytes on their way from the reader thread: the reader
// fills a slot and then publishes it by advancing head (release); the main
// thread reads slots up to head (acquire) and then frees them by advancing
// tail. A full ring drops the bytes and counts them, rather than making the
// reader wait.
constexpr int CHUNK_BYTES = 64;
constexpr uint32_t CHUNK_SLOTS = 4096;  // 4-byte reads at 9600 baud: about 17 s

struct ReceivedChunk {
    int64_t timeUs;
    int count;
    uint8_t bytes[CHUNK_BYTES];
};

struct ChunkRing {
    ReceivedChunk slots[CHUNK_SLOTS];
    std::atomic<uint32_t> head{0};
    std::atomic<uint32_t> tail{0};
    std::atomic<int64_t> droppedBytes{0};
};
ChunkRing received;

// Main thread only.
LinePacketizer devicePackets;
std::vector<RecordedPacket> sentFrames;

void onReceived(const uint8_t* bytes, int count) {
    int64_t now = nowEpochUs();
    for (int at = 0; at < count; at += CHUNK_BYTES) {
        uint32_t head = received.head.load(std::memory_order_relaxed);
        if (head - received.tail.load(std::memory_order_acquire) >= CHUNK_SLOTS) {
            received.droppedBytes.fetch_add(count - at, std::memory_order_relaxed);
            return;
        }
        ReceivedChunk& chunk = received.slots[head % CHUNK_SLOTS];
        chunk.timeUs = now;
        chunk.count = std::min(CHUNK_BYTES, count - at);
        std::memcpy(chunk.bytes, bytes + at, static_cast<std::size_t>(chunk.count));
        received.head.store(head + 1, std::memory_order_release);
    }
}

void onTransmitted(const uint8_t* bytes, int count) {
    RecordedPacket packet;
    packet.timeUs = nowEpochUs();
    packet.direction = TO_DEVICE;
    packet.bytes.assign(bytes, bytes + count);
    sentFrames.push_back(std::move(packet));
}

// The device's packets cut from the bytes received so far.
void takeReceived(std::vector<RecordedPacket>* packets) {
    uint32_t tail = received.tail.load(std::memory_order_relaxed);
    uint32_t head = received.head.load(std::memory_order_acquire);
    for (; tail != head; ++tail) {
        const ReceivedChunk& chunk = received.slots[tail % CHUNK_SLOTS];
        devicePackets.feed(chunk.bytes, chunk.count, chunk.timeUs, packets);
    }
    received.tail.store(tail, std::memory_order_release);
}

void resetTaps() {
    received.head.store(0, std::memory_order_relaxed);
    received.tail.store(0, std::memory_order_relaxed);
    received.droppedBytes.store(0, std::memory_order_relaxed);
    devicePackets = LinePacketizer();
    sentFrames.clear();
}

class Recorder {
public:
    explicit Recorder(const RecordOptions& options)
        : options_(options),
          frame_(options.durationSeconds),
          watch_(options.port, [this] { return frame_.endDue(); }, [this](const std::string& text) { note(text); }) {}
    int run();

private:
    void note(const std::string& text);
    bool writeBatch(bool last);
    void showStatus(bool force);
    void summarize();
    int end(int code);

    std::string statusText() const { return recordingStatusText(out_.counts(), watch_.gaps().gaps()); }

    RecordOptions options_;
    RunFrame frame_;
    LinkWatch watch_;
    RecordingWriter out_;
};

void Recorder::note(const std::string& text) { frame_.note(text); }

// Takes the packets the taps have made (with last, also the device's
// waiting bytes) and writes them with one write.
bool Recorder::writeBatch(bool last) {
    std::vector<RecordedPacket> packets;
    packets.swap(sentFrames);
    takeReceived(&packets);
    if (last)
        devicePackets.finish(&packets);
    else
        devicePackets.tick(nowEpochUs(), &packets);
    return out_.write(&packets);
}

void Recorder::showStatus(bool force) { frame_.showStatus(force, [this] { return statusText(); }); }

// Takes the taps off, writes what is left, closes the file and reports,
// and only then closes the link, whose driver may take its time. A chunk
// that the reader thread publishes while the tap comes off is not in the
// file.
int Recorder::end(int code) {
    setReceivedBytesHook(nullptr);
    setTransmitTapHook(nullptr);
    writeBatch(true);
    out_.close();
    if (code == EXIT_DONE) summarize();
    watch_.close();
    if (code != EXIT_DONE) return code;
    return out_.failed() ? EXIT_FILE_REFUSED : EXIT_DONE;
}

void Recorder::summarize() {
    frame_.summarize([this] { return statusText(); },
                     recordingSummaryText(out_.counts(), "sent", watch_.gaps().summaryText(), options_.outPath));
    int64_t dropped = received.droppedBytes.load(std::memory_order_relaxed);
    if (dropped > 0) {
        char text[200];
        std::snprintf(text, sizeof text, "%" PRId64 " received bytes came faster than the file took them and are missing",
                      dropped);
        note(text);
    }
}

// The port first: a mistyped one leaves an existing file as it was. The
// taps are on before it opens, so the request it sends is in the file.
int Recorder::run() {
    resetTaps();
    setReceivedBytesHook(onReceived);
    setTransmitTapHook(onTransmitted);
    frame_.start();
    if (!watch_.open()) return end(EXIT_PORT_NOT_OPENED);
    if (!out_.create(options_.outPath)) return end(EXIT_FILE_REFUSED);
    while (!frame_.endDue()) {
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
