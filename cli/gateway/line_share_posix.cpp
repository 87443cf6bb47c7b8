// publish --share on POSIX sockets; the threads' contract is in
// line_share.h.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/gateway/line_share.h"
#include "cli/gateway/metrics_page.h"
#include "link/receive_parser.h"
#include "link/rfc2217.h"
#include "link/serial_link.h"

namespace {

// The share's notes go with the gateway's other diagnostics, on stderr.
void say(const std::string& text) {
    std::fprintf(stderr, "elq770ctl: share: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string peerName(const sockaddr_storage& peer) {
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, host, sizeof host, port, sizeof port,
                NI_NUMERICHOST | NI_NUMERICSERV);
    std::string name = host;
    if (name.find(':') != std::string::npos) name = "[" + name + "]";
    return name + ":" + port;
}

int listenOn(const std::string& host, const std::string& port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        *error = host + ": " + gai_strerror(resolved);
        return -1;
    }
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int yes = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4) != 0) {
        *error = host + ":" + port + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

std::string LineShare::start(const std::string& text, bool raw, int baudRate) {
    ListenAddress address;
    if (!parseListenAddress(text, &address)) return text + ": not [HOST:]PORT";
    std::string host = address.host, port = std::to_string(address.port), error;
    listenFd_ = listenOn(host, port, &error);
    if (listenFd_ < 0) return error;
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return std::string("pipe: ") + std::strerror(errno);
    }
    raw_ = raw;
    baudRate_ = baudRate;
    thread_ = std::thread([this] { run(); });
    receivedTaps.add(&deviceTap_);
    say("serving the line " + std::string(raw ? "as raw TCP" : "over RFC 2217") + " on " + host + ":" + port);
    return "";
}

void LineShare::stop() {
    if (!thread_.joinable()) return;
    receivedTaps.remove(&deviceTap_);
    stopRequested_.store(1, std::memory_order_relaxed);
    (void)!write(wake_[1], "x", 1);
    thread_.join();
    int fd = clientFd_.exchange(-1);
    if (fd >= 0) close(fd);
    close(listenFd_);
    close(wake_[0]);
    close(wake_[1]);
    listenFd_ = wake_[0] = wake_[1] = -1;
}

// Reader thread. Bytes while no client listens are not kept; a client too
// slow to take them loses them, never the gateway.
void LineShare::deviceBytes(const uint8_t* bytes, int count) {
    if (clientFd_.load(std::memory_order_relaxed) < 0) return;
    uint32_t head = deviceHead_.load(std::memory_order_relaxed);
    uint32_t tail = deviceTail_.load(std::memory_order_acquire);
    if (DEVICE_RING - (head - tail) < static_cast<uint32_t>(count)) return;
    for (int i = 0; i < count; ++i) deviceRing_[(head + static_cast<uint32_t>(i)) % DEVICE_RING] = bytes[i];
    deviceHead_.store(head + static_cast<uint32_t>(count), std::memory_order_release);
    (void)!write(wake_[1], "d", 1);
}

// Frames that come while the device is away are dropped, not sent minutes
// later to a device that has been reopened.
void LineShare::forwardClientFrames() {
    uint32_t tail = frameTail_.load(std::memory_order_relaxed);
    bool lineUp = linkIsOpen() != 0 && linkDeviceGone() == 0;
    while (tail != frameHead_.load(std::memory_order_acquire)) {
        if (lineUp && putTransmitBytes(frameRing_[tail % FRAME_RING], FRAME_SIZE) == 0) return;  // next look
        frameTail_.store(++tail, std::memory_order_release);
    }
}

bool LineShare::sendAll(const uint8_t* bytes, int count) {
    int fd = clientFd_.load(std::memory_order_relaxed);
    while (count > 0) {
        ssize_t sent = send(fd, bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno == EAGAIN) {
            pollfd writable{fd, POLLOUT, 0};
            if (poll(&writable, 1, 1000) == 1) continue;
        }
        if (sent <= 0) return false;
        bytes += sent;
        count -= static_cast<int>(sent);
    }
    return true;
}

void LineShare::sendDeviceBytes() {
    uint32_t tail = deviceTail_.load(std::memory_order_relaxed);
    uint32_t head = deviceHead_.load(std::memory_order_acquire);
    uint8_t plain[256];
    uint8_t wire[2 * sizeof plain];
    while (tail != head) {
        int count = 0;
        while (tail != head && count < static_cast<int>(sizeof plain)) plain[count++] = deviceRing_[tail++ % DEVICE_RING];
        deviceTail_.store(tail, std::memory_order_release);
        int length = raw_ ? count : escapeTelnetData(plain, count, wire);
        if (!sendAll(raw_ ? plain : wire, length)) {
            endSession("the client stopped taking the device's bytes");
            return;
        }
    }
}

void LineShare::endSession(const char* why) {
    int fd = clientFd_.exchange(-1, std::memory_order_acq_rel);
    if (fd < 0) return;
    close(fd);
    say(address_ + " left (" + why + ")");
}

// A second client is told why and closed; the first keeps the line.
void LineShare::acceptClient() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    std::string name = peerName(peer);
    if (clientFd_.load(std::memory_order_relaxed) >= 0) {
        std::string refusal = "elq770ctl: the device's line is in use by " + address_ + "; try again later\r\n";
        (void)!send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
        close(fd);
        say(name + " refused: the line is in use by " + address_);
        return;
    }
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    address_ = name;
    frames_ = ClientFrames{};
    deviceTail_.store(deviceHead_.load(std::memory_order_acquire), std::memory_order_release);
    telnet_.start(baudRate_);
    uint32_t session = sessions_.load(std::memory_order_relaxed) + 1;
    std::snprintf(addresses_[session % ADDRESS_SLOTS], sizeof addresses_[0], "%s", name.c_str());
    clientFd_.store(fd, std::memory_order_release);
    sessions_.store(session, std::memory_order_release);
    say(name + " holds the line");
}

void LineShare::readClient() {
    uint8_t in[512];
    uint8_t data[sizeof in];
    ssize_t got = recv(clientFd_.load(std::memory_order_relaxed), in, sizeof in, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) {
        endSession(got == 0 ? "closed" : std::strerror(errno));
        return;
    }
    TelnetReply reply;
    int count = raw_ ? static_cast<int>(got) : telnet_.receive(in, static_cast<int>(got), data, &reply);
    const uint8_t* bytes = raw_ ? in : data;
    if (reply.length > 0 && !sendAll(reply.bytes, reply.length)) endSession("its answers could not be sent");
    for (int i = 0; i < count; ++i) {
        uint8_t frame[FRAME_SIZE];
        if (!frames_.take(bytes[i], frame)) continue;
        uint32_t head = frameHead_.load(std::memory_order_relaxed);
        if (head - frameTail_.load(std::memory_order_acquire) >= FRAME_RING) continue;  // the device is slower
        std::memcpy(frameRing_[head % FRAME_RING], frame, FRAME_SIZE);
        frameHead_.store(head + 1, std::memory_order_release);
        if (frameIsParameterWrite(frame)) parameterWrites_.fetch_add(1, std::memory_order_release);
        lastFrameMs_.store(shareClockMs(), std::memory_order_release);
    }
}

void LineShare::run() {
    while (stopRequested_.load(std::memory_order_relaxed) == 0) {
        int client = clientFd_.load(std::memory_order_relaxed);
        pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}, {client, POLLIN, 0}};
        if (poll(fds, client >= 0 ? 3 : 2, -1) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) {
            uint8_t drained[64];
            while (read(wake_[0], drained, sizeof drained) > 0) {
            }
            if (clientFd_.load(std::memory_order_relaxed) >= 0) sendDeviceBytes();
        }
        if (fds[1].revents != 0) acceptClient();
        if (client >= 0 && fds[2].revents != 0 && clientFd_.load(std::memory_order_relaxed) == client) readClient();
    }
}
