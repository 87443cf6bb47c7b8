#include "link/tcp_posix.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

int closeKeepingErrno(int fd) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
}

// Waits for a connect in progress until deadline; 1 when it succeeded.
int finishConnect(int fd, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return 0;
        }
        pollfd wait{fd, POLLOUT, 0};
        int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return 0;
        if (ready == 0) continue;  // the deadline check above decides
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return 0;
        errno = error;
        return error == 0 ? 1 : 0;
    }
}

int connectTo(const addrinfo* address, Clock::time_point deadline) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, address->ai_addr, address->ai_addrlen) != 0 &&
        (errno != EINPROGRESS || !finishConnect(fd, deadline)))
        return closeKeepingErrno(fd);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace

int openTcpConnection(const PortName& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    std::string service = std::to_string(port.tcpPort);
    int resolved = getaddrinfo(port.host.c_str(), service.c_str(), &hints, &addresses);
    if (resolved != 0) {
        if (resolved != EAI_SYSTEM) errno = ENXIO;
        return -1;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(CONNECT_TIMEOUT_MS);
    int fd = -1;
    for (const addrinfo* address = addresses; address != nullptr && fd < 0; address = address->ai_next)
        fd = connectTo(address, deadline);
    int error = errno;
    freeaddrinfo(addresses);
    errno = error;
    return fd;
}
