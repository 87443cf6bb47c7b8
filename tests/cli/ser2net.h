// ser2net (Debian's) of the test's own in front of a simulator's
// pseudo-terminal, on free ports of 127.0.0.1: one accepter speaking RFC 2217
// and one raw TCP accepter, its configuration and output in the test's
// folder. Started and stopped by the test; one the machine runs is never
// touched. Shared by the tool's tests and the window program's (it needs
// nothing of either harness).
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <string>

namespace peers {

// 127.0.0.1 at a port; whether something accepts there now; a port of it
// that was free a moment ago. Shared by the test peers (ser2net, Mosquitto).
sockaddr_in loopbackAt(int port);
bool acceptsOnLoopback(int port);
int freeLoopbackPort();

class Ser2net {
public:
    Ser2net(const std::string& dir, const std::string& device);
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    static bool installed();
    static int freePort();
    // Starts it and waits until both accepters take connections; false after 5 s.
    bool start();
    void stop();
    std::string rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
    std::string socketUrl() const { return "socket://127.0.0.1:" + std::to_string(rawPort_); }

private:
    std::string dir_;
    int rfc2217Port_;
    int rawPort_;
    std::string device_;
    pid_t pid_ = 0;
    int starts_ = 0;
};

// A TCP port of 127.0.0.1 that accepts one connection and closes it at once.
class ClosingServer {
public:
    ClosingServer();
    ~ClosingServer();
    int port() const { return port_; }
    // Accepts and closes the next connection; false when none came in time.
    bool serveOne(int timeoutMs);

private:
    int listener_;
    int port_;
};

}  // namespace peers
