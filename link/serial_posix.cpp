// POSIX serial link: a tty (a USB adapter, a built-in port or a
// pseudo-terminal) with a reader thread and a writer thread, behind the same
// interface as the Win32 link.
//
// Threads and hand-overs:
// - Calling thread: openLinkByName and closeLink. It opens the tty and the
//   two wake pipes before it starts the threads (thread creation publishes
//   them), and closes them only after joining both threads. It sets
//   stopRequested and writes a byte into each wake pipe to stop them; through
//   putTransmitBytes and the transmit-ready hook it writes a byte into the
//   writer's wake pipe.
// - Reader thread: polls the tty and its wake pipe, hands every chunk it reads
//   to parseReceivedBytes. When the other end has gone (hang-up, a pulled
//   adapter: read returns 0 or an error other than EAGAIN) it waits only for
//   its wake pipe, so a dead line costs no CPU; the caller notices the silence
//   and opens the port again.
// - Writer thread: alone takes from the TransmitRing and empties its wake
//   pipe; writes whole chunks, waiting for the tty to take more when it is
//   full. A chunk the line refuses is dropped, as on Windows.
// - A network port (socket://, rfc2217://) is a TCP connection in place of
//   the tty, with the same threads: the reader puts what arrives through
//   the link's NetLine (link/net_line.h) before the parser and wakes the
//   writer when the NetLine has answers for the server; the writer sends
//   those answers before each chunk and the chunk as the NetLine encodes
//   it. A connection the peer closes or resets is a hang-up.
// No lock: the TransmitRing orders its bytes by release/acquire on its
// indexes, stopRequested is an atomic, and the pipes order the wake-ups.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "link/command_frames.h"
#include "link/net_line.h"
#include "link/port_name.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "link/tcp_posix.h"
#include "link/tty_posix.h"

namespace {

constexpr int RECEIVE_CHUNK = 256;

struct WakePipe {
    int readEnd = -1;
    int writeEnd = -1;
};

// What the link threads get: the line and, for a network port, its NetLine.
struct LineEnds {
    int fd;
    NetLine* net;  // nullptr for a tty
};

struct PosixLink {
    int fd = -1;
    bool network = false;
    NetLine net;
    WakePipe readerWake;
    WakePipe writerWake;
    std::thread reader;
    std::thread writer;
};

PosixLink posixLink;
std::atomic<int> stopRequested{0};
std::atomic<int> writerWakeFd{-1};
std::atomic<int> deviceGone{0};  // the reader saw the line hang up

speed_t speedOf(int baudRate) {
    switch (baudRate) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

}  // namespace

// Shared with the relay (link/tty_posix.h). Raw 8N1, no flow control of
// either kind, modem lines ignored; reads return what is there (the threads
// wait in poll, not in read).
int configureTty(int fd, int baudRate) {
    speed_t speed = speedOf(baudRate);
    if (speed == B0) {
        errno = EINVAL;
        return 0;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return 0;
    cfmakeraw(&settings);
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) return 0;
    // What arrived before the port was ours belongs to nobody.
    tcflush(fd, TCIOFLUSH);
    return 1;
}

int openTty(const char* path, int baudRate) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // TIOCEXCL keeps other users out but not root; the lock on the open
    // descriptor holds for everyone who asks for it, and /proc/locks names
    // its holder. It goes with the descriptor, also when the process dies.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || !configureTty(fd, baudRate)) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

namespace {

int openWakePipe(WakePipe* wake) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return 0;
    wake->readEnd = ends[0];
    wake->writeEnd = ends[1];
    return 1;
}

// A full pipe already holds a wake-up, so a failed write loses nothing.
void wake(int writeEnd) {
    if (writeEnd < 0) return;
    char byte = 1;
    ssize_t ignored = write(writeEnd, &byte, 1);
    (void)ignored;
}

void drainWakePipe(int readEnd) {
    char bytes[64];
    while (read(readEnd, bytes, sizeof bytes) > 0) {
    }
}

void signalTransmitReady() { wake(writerWakeFd.load(std::memory_order_acquire)); }

int closeFd(int& fd) {
    if (fd < 0) return 0;
    int failed = close(fd) != 0 ? 1 : 0;
    fd = -1;
    return failed;
}

bool stopping() { return stopRequested.load(std::memory_order_acquire) != 0; }

// ---- Reader thread ----

void waitForStop(int wakeFd) {
    pollfd wait{wakeFd, POLLIN, 0};
    while (!stopping()) poll(&wait, 1, -1);
}

// A network port's bytes go through its NetLine first; its answers to the
// server wake the writer.
void takeReceived(const LineEnds& line, const uint8_t* chunk, int count) {
    if (line.net == nullptr) {
        parseReceivedBytes(chunk, count);
        return;
    }
    uint8_t data[RECEIVE_CHUNK];
    bool answered = false;
    int got = line.net->decode(chunk, count, data, &answered);
    if (got > 0) parseReceivedBytes(data, got);
    if (answered) signalTransmitReady();
}

void readerLoop(LineEnds line, int wakeFd) {
    int fd = line.fd;
    uint8_t chunk[RECEIVE_CHUNK];
    pollfd waits[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    while (!stopping()) {
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (waits[1].revents != 0) continue;  // the loop condition decides
        if (waits[0].revents == 0) continue;
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got > 0) {
            takeReceived(line, chunk, static_cast<int>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        break;  // hang-up: end of file or a dead device
    }
    if (stopping()) return;
    deviceGone.store(1, std::memory_order_relaxed);
    waitForStop(wakeFd);
}

// ---- Writer thread ----

// A socket whose peer has gone must fail the send, not raise SIGPIPE.
ssize_t writeSome(const LineEnds& line, const uint8_t* bytes, size_t count) {
    if (line.net != nullptr) return send(line.fd, bytes, count, MSG_NOSIGNAL);
    return write(line.fd, bytes, count);
}

// Writes the chunk whole unless a stop request comes or the line fails.
void writeChunk(const LineEnds& line, int wakeFd, const uint8_t* chunk, int size) {
    int fd = line.fd;
    int done = 0;
    pollfd waits[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    while (done < size && !stopping()) {
        ssize_t put = writeSome(line, chunk + done, static_cast<size_t>(size - done));
        if (put > 0) {
            done += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return;  // the line is gone: drop the chunk
        if (poll(waits, 2, -1) < 0 && errno != EINTR) return;
        if (waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        // A wake byte left in the pipe would make every poll return at once
        // while the line is full; the writer takes from the ring after the
        // chunk anyway, so no wake-up is lost.
        if (waits[1].revents & POLLIN) drainWakePipe(wakeFd);
    }
}

// The NetLine's answers to the server, all of them, before any data.
void sendControl(const LineEnds& line, int wakeFd) {
    uint8_t answers[256];
    for (int size = line.net->takeControl(answers, sizeof answers); size > 0 && !stopping();
         size = line.net->takeControl(answers, sizeof answers))
        writeChunk(line, wakeFd, answers, size);
}

// A chunk of the ring as it goes on the line.
void sendChunk(const LineEnds& line, int wakeFd, const uint8_t* chunk, int size) {
    if (line.net == nullptr) {
        writeChunk(line, wakeFd, chunk, size);
        return;
    }
    sendControl(line, wakeFd);
    uint8_t encoded[2 * TRANSMIT_CHUNK_SIZE];
    writeChunk(line, wakeFd, encoded, line.net->encode(chunk, size, encoded));
}

void writerLoop(LineEnds line, int wakeFd) {
    uint8_t chunk[TRANSMIT_CHUNK_SIZE];
    pollfd wait{wakeFd, POLLIN, 0};
    while (!stopping()) {
        // Empty the pipe before taking: a put that lands after the take
        // leaves a fresh wake-up behind.
        drainWakePipe(wakeFd);
        if (line.net != nullptr) sendControl(line, wakeFd);
        for (int size = takeTransmitBytes(chunk); size > 0 && !stopping();
             size = takeTransmitBytes(chunk))
            sendChunk(line, wakeFd, chunk, size);
        if (poll(&wait, 1, -1) < 0 && errno != EINTR) break;
    }
}

// ---- Opening and closing ----

int releaseLink() {
    stopRequested.store(1, std::memory_order_release);
    wake(posixLink.readerWake.writeEnd);
    wake(posixLink.writerWake.writeEnd);
    if (posixLink.reader.joinable()) posixLink.reader.join();
    if (posixLink.writer.joinable()) posixLink.writer.join();
    writerWakeFd.store(-1, std::memory_order_release);
    int failed = 0;
    failed |= closeFd(posixLink.readerWake.readEnd);
    failed |= closeFd(posixLink.readerWake.writeEnd);
    failed |= closeFd(posixLink.writerWake.readEnd);
    failed |= closeFd(posixLink.writerWake.writeEnd);
    // The exclusive mark stays with the tty, not with this descriptor: left
    // set, it would lock out the next opener of a pseudo-terminal.
    if (posixLink.fd >= 0 && !posixLink.network) ioctl(posixLink.fd, TIOCNXCL);
    failed |= closeFd(posixLink.fd);
    posixLink.network = false;
    return failed;
}

// Keeps errno of the failure across the clean-up.
int failOpen() {
    int error = errno;
    releaseLink();
    errno = error;
    return 0;
}

int startThreads() {
    LineEnds line{posixLink.fd, posixLink.network ? &posixLink.net : nullptr};
    try {
        posixLink.reader = std::thread(readerLoop, line, posixLink.readerWake.readEnd);
        posixLink.writer = std::thread(writerLoop, line, posixLink.writerWake.readEnd);
    } catch (const std::system_error& error) {
        errno = error.code().value();
        return 0;
    }
    return 1;
}

// The tty, or the connection of a network port with its NetLine started.
// A name the parser refuses does not open (EINVAL); the front ends check
// names before they get here.
int openLine(const char* name, int baudRate) {
    PortName port;
    std::string problem;
    if (!parsePortName(name, &port, &problem)) {
        errno = EINVAL;
        return 0;
    }
    if (port.kind == PORT_SERIAL) {
        posixLink.fd = openTty(name, baudRate);
        return posixLink.fd >= 0 ? 1 : 0;
    }
    if (speedOf(baudRate) == B0) {
        errno = EINVAL;
        return 0;
    }
    posixLink.fd = openTcpConnection(port);
    if (posixLink.fd < 0) return 0;
    posixLink.network = true;
    posixLink.net.start(port.kind, baudRate);
    return 1;
}

}  // namespace

int openLink(int portNumber, int baudRate) {
    char name[32];
    std::snprintf(name, sizeof name, "/dev/ttyS%d", portNumber - 1);
    return openLinkByName(name, baudRate);
}

int openLinkByName(const char* name, int baudRate) {
    if (posixLink.fd >= 0) closeLink();  // one link at a time
    stopRequested.store(0, std::memory_order_release);
    deviceGone.store(0, std::memory_order_relaxed);
    if (!openLine(name, baudRate)) return 0;
    if (!openWakePipe(&posixLink.readerWake) || !openWakePipe(&posixLink.writerWake)) return failOpen();
    // Before the threads: the reader wakes the writer for the server's
    // answers from its first read on.
    writerWakeFd.store(posixLink.writerWake.writeEnd, std::memory_order_release);
    if (!startThreads()) return failOpen();
    setTransmitReadyHook(signalTransmitReady);
    setTransmitLinkOpen(1);
    return 1;
}

int closeLink() {
    setTransmitLinkOpen(0);
    return releaseLink();
}

int linkIsOpen() { return posixLink.fd >= 0 ? 1 : 0; }

int linkDeviceGone() { return deviceGone.load(std::memory_order_relaxed); }
