// The relay on POSIX: one thread, poll() on the device's port and on the
// master of a new pseudo-terminal whose slave is published at LINK. A chunk
// read on one side is stamped, written to the other side at once and only
// then handed to the recording. A turn of the loop reads at most TURN_CHUNKS
// chunks a side, so that a port that always has bytes ready (a USB CDC port
// ignores the baud rate) cannot keep the loop from its file; the file takes
// a whole, flushed batch every LinkWatch::LOOK_MS, or sooner once the batch
// holds BATCH_PACKETS packets.
//
// LINK is the relay's own: it replaces only a link that a relay or
// simulator left behind (a symlink to a /dev/pts entry that is gone), or any
// symlink with --force, never a file and never the port itself, and it
// removes LINK at the end only while LINK still points to its terminal.
//
// The relay keeps a slave descriptor of its own open, as the simulator does,
// so that the master stays valid while the other program closes and reopens
// LINK; the device's lines that nobody reads meanwhile are thrown away once
// they would be stale. A port that hangs up or falls silent is a gap, ridden
// out with record's LinkGaps: closed and tried again every two seconds, told
// in the same words, silence in the file.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console/clock.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/console/run_frame.h"
#include "cli/device/link_watch.h"
#include "cli/recording/recording_writer.h"
#include "cli/recording/relay.h"
#include "link/line_recording.h"
#include "link/serial_link.h"
#include "link/tty_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WRITE_WAIT_MS = 1000;  // a side that takes nothing for this long loses the chunk
constexpr int CHUNK = 256;
constexpr int TURN_CHUNKS = 16;  // 4 kB, over four seconds of the line at 9600 baud
constexpr size_t BATCH_PACKETS = 1024;
constexpr int STALE_INPUT_BYTES = 512;  // about half a second of the line
constexpr const char* PTS_FOLDER = "/dev/pts/";

std::string linkTarget(const std::string& path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length < 0 ? std::string() : std::string(target, static_cast<size_t>(length));
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Clears the way for the relay's link at linkPath: nothing there, or a
// symlink that may go. 1, or 0 with error set.
int clearLinkPath(const std::string& linkPath, int portFd, bool force, std::string* error) {
    struct stat linked{}, port{};
    if (stat(linkPath.c_str(), &linked) == 0 && fstat(portFd, &port) == 0 && sameFile(linked, port)) {
        *error = "it is the device's port itself";
        return 0;
    }
    struct stat info{};
    if (lstat(linkPath.c_str(), &info) != 0) return 1;
    if (!S_ISLNK(info.st_mode)) {
        *error = "exists and is not a symlink";
        return 0;
    }
    std::string target = linkTarget(linkPath);
    struct stat gone{};
    bool stale = target.rfind(PTS_FOLDER, 0) == 0 && stat(target.c_str(), &gone) != 0 && errno == ENOENT;
    if (!stale && !force) {
        *error = "a symlink to " + target + " is there, not one to a pseudo-terminal that is gone; "
                 "--force replaces it";
        return 0;
    }
    if (unlink(linkPath.c_str()) != 0 && errno != ENOENT) {
        *error = std::strerror(errno);
        return 0;
    }
    return 1;
}

// The pseudo-terminal the other program opens, published at linkPath.
class PseudoTerminal {
public:
    ~PseudoTerminal() { close(); }

    // 1, or 0 with error set. portFd: the device's port, which LINK must
    // not be.
    int open(const std::string& linkPath, int portFd, bool force, std::string* error) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const char* slave = nullptr;
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || (slave = ptsname(master_)) == nullptr)
            return fail(std::string("pseudo-terminal: ") + std::strerror(errno), error);
        name_ = slave;
        slave_ = ::open(name_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        // Raw from the start: no echo of the device's lines, no CR turned
        // into NL before the other program sets its port up.
        if (slave_ < 0 || !configureTty(slave_, BAUD_RATE))
            return fail(name_ + ": " + std::strerror(errno), error);
        // grantpt leaves the terminal writable by the group tty, through
        // which write(1) and wall would put bytes on the device's line.
        if (fchmod(slave_, 0600) != 0) return fail(name_ + ": " + std::strerror(errno), error);
        if (!clearLinkPath(linkPath, portFd, force, error)) return fail(*error, error);
        if (symlink(name_.c_str(), linkPath.c_str()) != 0) return fail(std::strerror(errno), error);
        linkPath_ = linkPath;
        return 1;
    }

    // Removes the symlink if it still points here, and closes both ends.
    void close() {
        if (!linkPath_.empty()) {
            if (linkTarget(linkPath_) == name_) unlink(linkPath_.c_str());
            linkPath_.clear();
        }
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
        slave_ = master_ = -1;
    }

    // Before the device's bytes go in: what has waited unread for too long
    // is dropped, so that the next opener finds fresh lines and a pty that
    // nobody reads never fills up.
    void discardStaleInput() {
        int waiting = 0;
        if (slave_ >= 0 && ioctl(slave_, FIONREAD, &waiting) == 0 && waiting > STALE_INPUT_BYTES)
            tcflush(slave_, TCIFLUSH);
    }

    int master() const { return master_; }
    const std::string& name() const { return name_; }

private:
    int fail(const std::string& text, std::string* error) {
        *error = text;
        close();
        return 0;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string name_;
    std::string linkPath_;
};

// Writes the whole chunk to a non-blocking fd, waiting for it to take more
// when it is full. Returns the bytes it could not write.
int writeAll(int fd, const uint8_t* bytes, int count) {
    int done = 0;
    while (done < count && fd >= 0) {
        ssize_t put = write(fd, bytes + done, static_cast<size_t>(count - done));
        if (put > 0) {
            done += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
        pollfd wait{fd, POLLOUT, 0};
        int ready = poll(&wait, 1, WRITE_WAIT_MS);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
    }
    return count - done;
}

class Relay {
public:
    explicit Relay(const RecordOptions& options)
        : options_(options), frame_(options.durationSeconds), gaps_(options.port) {}
    ~Relay() { closePort(); }
    int run();

private:
    bool openPort(bool tell);
    void closePort();
    void note(const std::string& text);
    void showStatus(bool force);
    std::string statusText() const { return recordingStatusText(out_.counts(), gaps_.gaps()); }
    void watchTheLink();
    // Reads what waits on fd, at most TURN_CHUNKS chunks, and passes it on;
    // false when the side is gone.
    bool pass(int from, RecordingDirection direction);
    bool batchDue() const;
    bool writeBatch(bool last);
    int end(int code);

    RecordOptions options_;
    RunFrame frame_;
    LinkGaps gaps_;
    RecordingWriter out_;
    PseudoTerminal pty_;
    int port_ = -1;
    bool deviceHeard_ = false;  // in this turn of the loop
    // The device's bytes cut into reply lines; the other program's bytes cut
    // the same way at CR, which in a command frame is its last byte only
    // (the other five bytes have 1 in their low nibble, the checksum 4).
    LinePacketizer fromDevice_{FROM_DEVICE};
    LinePacketizer toDevice_{TO_DEVICE};
    std::vector<RecordedPacket> packets_;
    int64_t notPassed_ = 0;
    Clock::time_point lastBatch_;
};

void Relay::note(const std::string& text) { frame_.note(text); }

bool Relay::openPort(bool tell) {
    port_ = openTty(options_.port.c_str(), BAUD_RATE);
    if (port_ >= 0) return true;
    int error = errno;
    if (tell)
        report(options_.port, std::string("cannot open port: ") + systemErrorText(error));
    return false;
}

void Relay::closePort() {
    if (port_ >= 0) close(port_);
    port_ = -1;
}

void Relay::showStatus(bool force) { frame_.showStatus(force, [this] { return statusText(); }); }

// The port's hang-up or silence begins a gap; inside it the port is tried
// again every LinkGaps::RETRY_MS, and the device's first bytes end it.
void Relay::watchTheLink() {
    Clock::time_point now = Clock::now();
    if (deviceHeard_) gaps_.heardAt(now);
    if (gaps_.inside() && deviceHeard_) note(gaps_.back(now));
    if (port_ >= 0 && gaps_.silent(now)) {
        closePort();
        note(gaps_.lost(now, nowEpochMs()));
    }
    if (gaps_.retryDue(now)) {
        closePort();
        gaps_.tried(now);
        openPort(false);
    }
    deviceHeard_ = false;
}

bool Relay::pass(int from, RecordingDirection direction) {
    uint8_t chunk[CHUNK];
    for (int turn = 0; turn < TURN_CHUNKS; ++turn) {
        ssize_t got = read(from, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        // The port: end of file or an error is a hang-up. The master: EIO
        // cannot come while our own slave descriptor is open.
        if (got <= 0) return direction == TO_DEVICE && got < 0 && errno == EIO;
        int64_t timeUs = nowEpochUs();
        int count = static_cast<int>(got);
        if (direction == FROM_DEVICE) {
            deviceHeard_ = true;
            pty_.discardStaleInput();
            notPassed_ += writeAll(pty_.master(), chunk, count);
            fromDevice_.feed(chunk, count, timeUs, &packets_);
        } else {
            notPassed_ += writeAll(port_, chunk, count);
            toDevice_.feed(chunk, count, timeUs, &packets_);
        }
        if (count < CHUNK) return true;
    }
    return true;  // more waits: the next turn takes it
}

bool Relay::batchDue() const {
    return packets_.size() >= BATCH_PACKETS ||
           Clock::now() - lastBatch_ >= std::chrono::milliseconds(LinkWatch::LOOK_MS);
}

bool Relay::writeBatch(bool last) {
    lastBatch_ = Clock::now();
    int64_t now = nowEpochUs();
    for (LinePacketizer* side : {&fromDevice_, &toDevice_}) {
        if (last)
            side->finish(&packets_);
        else
            side->tick(now, &packets_);
    }
    bool written = out_.write(&packets_);
    packets_.clear();
    return written;
}

// The file is whole before the port closes, which a stuck driver may make
// slow.
int Relay::end(int code) {
    writeBatch(true);
    out_.close();
    closePort();
    pty_.close();
    gaps_.endInside(Clock::now());
    if (code != EXIT_DONE) return code;
    frame_.summarize([this] { return statusText(); },
                     recordingSummaryText(out_.counts(), "relayed", gaps_.summaryText(), options_.outPath));
    if (notPassed_ > 0) {
        char text[200];
        std::snprintf(text, sizeof text, "%" PRId64 " bytes could not be passed on (the other side took nothing)",
                      notPassed_);
        note(text);
    }
    return out_.failed() ? EXIT_FILE_REFUSED : EXIT_DONE;
}

// The port and LINK first: a mistyped one leaves an existing file as it was.
int Relay::run() {
    if (!openPort(true)) return end(EXIT_PORT_NOT_OPENED);
    std::string error;
    if (!pty_.open(options_.relayPath, port_, options_.force, &error)) {
        report(options_.relayPath, std::string("cannot make the relay's pseudo-terminal: ") + error);
        return end(EXIT_PORT_NOT_OPENED);
    }
    if (!out_.create(options_.outPath)) return end(EXIT_FILE_REFUSED);
    note("relaying " + options_.port + " to " + options_.relayPath + " (" + pty_.name() + "); Ctrl-C ends");
    frame_.start();
    while (!frame_.endDue()) {
        pollfd waits[2] = {{pty_.master(), POLLIN, 0}, {port_, POLLIN, 0}};
        int ready = poll(waits, port_ >= 0 ? 2 : 1, LinkWatch::LOOK_MS);
        if (ready < 0 && errno != EINTR) {
            report(std::string("poll: ") + std::strerror(errno));
            return end(EXIT_PORT_NOT_OPENED);
        }
        if (ready > 0 && port_ >= 0 && waits[1].revents != 0 && !pass(port_, FROM_DEVICE)) {
            closePort();
            if (!gaps_.inside()) note(gaps_.lost(Clock::now(), nowEpochMs()));
        }
        if (ready > 0 && waits[0].revents != 0) pass(pty_.master(), TO_DEVICE);
        watchTheLink();
        if (batchDue() && !writeBatch(false)) return end(EXIT_FILE_REFUSED);
        showStatus(false);
    }
    return end(EXIT_DONE);
}

}  // namespace

int runRelay(const RecordOptions& options) {
    Relay relay(options);
    return relay.run();
}
