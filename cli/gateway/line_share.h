// publish --share: the device's line served to one client at a time over
// RFC 2217 (or raw TCP), beside the gateway, which keeps reading it.
//
// Threads:
// - The link's reader thread hands every chunk the device sent to the
//   share (its tap among the receivedTaps) through a single-producer,
//   single-consumer ring and wakes the share thread.
// - The share thread owns the listening socket, the client's socket and
//   the Telnet server: it sends the device's bytes to the client, answers
//   the client's negotiation, and cuts what the client sends into command
//   frames, which it hands whole to the main thread through a second ring.
// - The main thread (the gateway's loop) takes those frames into the
//   TransmitRing, whose only producer it stays, so a client's frame and
//   the gateway's own requests never mix inside a frame; it reads the
//   session's counters (atomics, acquire) to hold its own requests while
//   the client is sending and to audit parameter writes.
// Both rings order their bytes by release stores of their indexes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "link/command_frames.h"
#include "link/line_taps.h"
#include "link/rfc2217.h"

// What the client sent, cut at CR into command frames: six bytes ending in
// CR pass whole; anything else (a line of another length) is not a frame
// the device takes, and is left out and counted.
class ClientFrames {
public:
    // Takes one byte; true when it completed a frame, then in frame.
    bool take(uint8_t byte, uint8_t frame[FRAME_SIZE]);
    int64_t dropped() const { return dropped_; }

private:
    uint8_t bytes_[FRAME_SIZE] = {};
    int length_ = 0;
    bool overlong_ = false;
    int64_t dropped_ = 0;
};

// The word a frame carries; true for a word that is not one of the four
// short commands, i.e. a parameter write (the device ignores one whose
// value it cannot take, and the read-back shows what it kept).
bool frameIsParameterWrite(const uint8_t frame[FRAME_SIZE]);

class LineShare {
public:
    ~LineShare() { stop(); }

    // Listens on text ([HOST:]PORT, as parseListenAddress takes it) and
    // starts the share thread; "" or the reason it could not.
    std::string start(const std::string& text, bool raw, int baudRate);
    void stop();

    // Main thread: moves the waiting frames into the TransmitRing while it
    // takes them whole.
    void forwardClientFrames();

    // Main thread's view of the session.
    uint32_t sessions() const { return sessions_.load(std::memory_order_acquire); }
    bool clientPresent() const { return clientFd_.load(std::memory_order_acquire) >= 0; }
    int64_t lastFrameMs() const { return lastFrameMs_.load(std::memory_order_acquire); }
    uint32_t parameterWrites() const { return parameterWrites_.load(std::memory_order_acquire); }
    // The address of the client of session number `session` (sessions()),
    // while fewer than ADDRESS_SLOTS later ones have come.
    std::string clientAddress(uint32_t session) const { return addresses_[session % ADDRESS_SLOTS]; }

    // Reader thread (through the share's tap).
    void deviceBytes(const uint8_t* bytes, int count);

private:
    static void onDeviceBytes(void* self, const uint8_t* bytes, int count) {
        static_cast<LineShare*>(self)->deviceBytes(bytes, count);
    }
    void run();
    void acceptClient();
    void readClient();
    void sendDeviceBytes();
    void endSession(const char* why);
    bool sendAll(const uint8_t* bytes, int count);

    static constexpr uint32_t DEVICE_RING = 4096;  // powers of two
    static constexpr uint32_t FRAME_RING = 64;     // frames
    uint8_t deviceRing_[DEVICE_RING];
    std::atomic<uint32_t> deviceHead_{0}, deviceTail_{0};
    uint8_t frameRing_[FRAME_RING][FRAME_SIZE];
    std::atomic<uint32_t> frameHead_{0}, frameTail_{0};

    std::atomic<int> clientFd_{-1};
    std::atomic<uint32_t> sessions_{0};
    std::atomic<int64_t> lastFrameMs_{0};
    std::atomic<uint32_t> parameterWrites_{0};
    std::atomic<int> stopRequested_{0};
    std::string address_;  // the share thread's own
    static constexpr uint32_t ADDRESS_SLOTS = 4;
    char addresses_[ADDRESS_SLOTS][64] = {};  // a session's slot is written before sessions_ counts it
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    bool raw_ = false;
    int baudRate_ = 9600;
    std::thread thread_;
    ClientFrames frames_;
    Rfc2217Server telnet_;
    BytesTap deviceTap_{onDeviceBytes, this};
};

// Milliseconds of a steady clock, for lastFrameMs.
int64_t shareClockMs();
