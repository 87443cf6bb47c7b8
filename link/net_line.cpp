#include "link/net_line.h"

#include <cstring>

#include "link/port_name.h"

void NetLine::start(int kind, int baudRate) {
    telnet_ = kind == PORT_RFC2217;
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
    dropped_.store(0, std::memory_order_relaxed);
    if (!telnet_) return;
    TelnetReply reply;
    client_.start(baudRate, &reply);
    putControl(reply.bytes, reply.length);
}

// An answer goes in whole or not at all: a torn one would garble the
// Telnet stream for good.
void NetLine::putControl(const uint8_t* bytes, int count) {
    uint32_t head = head_.load(std::memory_order_relaxed);
    uint32_t tail = tail_.load(std::memory_order_acquire);
    if (count <= 0) return;
    if (RING_SIZE - (head - tail) < static_cast<uint32_t>(count)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    for (int i = 0; i < count; ++i) ring_[(head + static_cast<uint32_t>(i)) % RING_SIZE] = bytes[i];
    head_.store(head + static_cast<uint32_t>(count), std::memory_order_release);
}

int NetLine::decode(const uint8_t* in, int count, uint8_t* data, bool* answered) {
    *answered = false;
    if (!telnet_) {
        std::memcpy(data, in, static_cast<size_t>(count));
        return count;
    }
    TelnetReply reply;
    int got = client_.receive(in, count, data, &reply);
    if (reply.full) dropped_.fetch_add(1, std::memory_order_relaxed);
    if (reply.length > 0) {
        putControl(reply.bytes, reply.length);
        *answered = true;
    }
    return got;
}

// Answers are put whole; taking a part of the ring's content never splits
// one on the wire, since the rest follows before any data.
int NetLine::takeControl(uint8_t* out, int room) {
    uint32_t tail = tail_.load(std::memory_order_relaxed);
    uint32_t head = head_.load(std::memory_order_acquire);
    uint32_t count = head - tail;
    if (count > static_cast<uint32_t>(room)) count = static_cast<uint32_t>(room);
    for (uint32_t i = 0; i < count; ++i) out[i] = ring_[(tail + i) % RING_SIZE];
    tail_.store(tail + count, std::memory_order_release);
    return static_cast<int>(count);
}

int NetLine::encode(const uint8_t* in, int count, uint8_t* out) const {
    if (telnet_) return escapeTelnetData(in, count, out);
    std::memcpy(out, in, static_cast<size_t>(count));
    return count;
}
