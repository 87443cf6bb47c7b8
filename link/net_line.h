// What a network port's link does to the bytes, shared by the POSIX and the
// Win32 transport (link/net_posix.cpp, link/net_win32.cpp): socket:// passes
// them as they are; rfc2217:// runs the Telnet COM Port Control client
// (link/rfc2217.h), doubles 0xFF in the data it sends and takes the
// server's Telnet out of what it receives.
//
// Threads: start is called by the opening thread before the link threads
// start (their creation publishes it). The reader thread alone calls
// decode; the writer thread alone calls takeControl and encode. The answers
// that decode makes go to the writer through a single-producer,
// single-consumer ring (release/acquire on its two indexes), so that one
// thread alone writes to the connection and an answer never lands inside a
// data chunk; the reader wakes the writer when decode returns true in
// *answered.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/rfc2217.h"

class NetLine {
public:
    // kind is PORT_SOCKET or PORT_RFC2217 (link/port_name.h).
    void start(int kind, int baudRate);

    // Reader thread: the device's bytes of count received ones into data
    // (room for count). *answered is set when answers wait for the writer.
    int decode(const uint8_t* in, int count, uint8_t* data, bool* answered);

    // Writer thread: the answers waiting, at most room bytes, whole
    // answers only; the count taken.
    int takeControl(uint8_t* out, int room);

    // Writer thread: data to send as it goes on the wire; out has room for
    // 2 * count bytes. The count.
    int encode(const uint8_t* in, int count, uint8_t* out) const;

    // Answers that did not fit the ring (a peer flooding negotiation).
    int64_t answersDropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    void putControl(const uint8_t* bytes, int count);
    static constexpr uint32_t RING_SIZE = 1024;  // a power of two
    bool telnet_ = false;
    Rfc2217Client client_;
    uint8_t ring_[RING_SIZE];
    std::atomic<uint32_t> head_{0};  // written by the reader (and start)
    std::atomic<uint32_t> tail_{0};  // written by the writer
    std::atomic<int64_t> dropped_{0};
};
