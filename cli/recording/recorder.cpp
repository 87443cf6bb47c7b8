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
#include <memory>
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

    // Reader thread.
    void put(const uint8_t* bytes, int count);
    // Main thread: cuts what came since the last call into packets.
    void take(LinePacketizer* packets, std::vector<RecordedPacket>* out);
};

void ChunkRing::put(const uint8_t* bytes, int count) {
    int64_t now = nowEpochUs();
    for (int at = 0; at < count; at += CHUNK_BYTES) {
        uint32_t headNow = head.load(std::memory_order_relaxed);
        if (headNow - tail.load(std::memory_order_acquire) >= CHUNK_SLOTS) {
            droppedBytes.fetch_add(count - at, std::memory_order_relaxed);
            return;
        }
        ReceivedChunk& chunk = slots[headNow % CHUNK_SLOTS];
        chunk.timeUs = now;
        chunk.count = std::min(CHUNK_BYTES, count - at);
        std::memcpy(chunk.bytes, bytes + at, static_cast<std::size_t>(chunk.count));
        head.store(headNow + 1, std::memory_order_release);
    }
}

void ChunkRing::take(LinePacketizer* packets, std::vector<RecordedPacket>* out) {
    uint32_t tailNow = tail.load(std::memory_order_relaxed);
    uint32_t headNow = head.load(std::memory_order_acquire);
    for (; tailNow != headNow; ++tailNow) {
        const ReceivedChunk& chunk = slots[tailNow % CHUNK_SLOTS];
        packets->feed(chunk.bytes, chunk.count, chunk.timeUs, out);
    }
    tail.store(tailNow, std::memory_order_release);
}

class Recorder {
public:
    explicit Recorder(const RecordOptions& options)
        : options_(options),
          frame_(options.durationSeconds),
          watch_(options.port, [this] { return frame_.endDue(); }, [this](const std::string& text) { note(text); }) {}
    int run();

private:
    static void onReceived(void* self, const uint8_t* bytes, int count) {
        static_cast<Recorder*>(self)->received_->put(bytes, count);
    }
    // On the main thread, which alone sends.
    static void onSent(void* self, const uint8_t* bytes, int count);

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
    std::unique_ptr<ChunkRing> received_ = std::make_unique<ChunkRing>();  // about 300 KB
    LinePacketizer devicePackets_;
    std::vector<RecordedPacket> sentFrames_;
    BytesTap receivedTap_{onReceived, this};
    BytesTap sentTap_{onSent, this};
};

void Recorder::onSent(void* self, const uint8_t* bytes, int count) {
    RecordedPacket packet;
    packet.timeUs = nowEpochUs();
    packet.direction = TO_DEVICE;
    packet.bytes.assign(bytes, bytes + count);
    static_cast<Recorder*>(self)->sentFrames_.push_back(std::move(packet));
}

void Recorder::note(const std::string& text) { frame_.note(text); }

// Takes the packets the taps have made (with last, also the device's
// waiting bytes) and writes them with one write.
bool Recorder::writeBatch(bool last) {
    std::vector<RecordedPacket> packets;
    packets.swap(sentFrames_);
    received_->take(&devicePackets_, &packets);
    if (last)
        devicePackets_.finish(&packets);
    else
        devicePackets_.tick(nowEpochUs(), &packets);
    return out_.write(&packets);
}

void Recorder::showStatus(bool force) { frame_.showStatus(force, [this] { return statusText(); }); }

// Takes the taps off, writes what is left, closes the file and reports,
// and only then closes the link, whose driver may take its time. Once the
// taps are off no chunk is on its way, so everything received is written.
int Recorder::end(int code) {
    receivedTaps.remove(&receivedTap_);
    sentTaps.remove(&sentTap_);
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
    int64_t dropped = received_->droppedBytes.load(std::memory_order_relaxed);
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
    receivedTaps.add(&receivedTap_);
    sentTaps.add(&sentTap_);
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
