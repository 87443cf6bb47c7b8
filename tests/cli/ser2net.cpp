#include "tests/cli/ser2net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "tests/cli/cli_harness.h"
#include "tests/cli/mqtt_broker.h"

namespace clitest {

namespace {

constexpr const char* SER2NET = "/usr/sbin/ser2net";

sockaddr_in loopbackAt(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAt(port);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace

// The device line as the link sets a COM port; `local` ignores the modem
// lines a pseudo-terminal does not have.
Ser2net::Ser2net(const std::string& dir, const std::string& device)
    : dir_(dir), rfc2217Port_(freePort()), rawPort_(freePort()) {
    std::ofstream conf(dir_ + "/ser2net.yaml");
    conf << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217Port_
         << "\n  connector: serialdev," << device << ",9600n81,local\n";
    conf << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort_ << "\n  connector: serialdev," << device
         << ",9600n81,local\n";
}

bool Ser2net::installed() { return access(SER2NET, X_OK) == 0; }

bool Ser2net::start() {
    std::string log = dir_ + "/ser2net." + std::to_string(++starts_);
    pid_ = spawn({SER2NET, "-n", "-u", "-c", dir_ + "/ser2net.yaml", "-P", dir_ + "/ser2net.pid"}, log + ".out",
                 log + ".err");
    for (int waited = 0; waited < 5000; waited += 50) {
        if (accepts(rfc2217Port_) && accepts(rawPort_)) return true;
        sleepMs(50);
    }
    return false;
}

void Ser2net::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitExit(pid_, 5000);
    pid_ = 0;
}

ClosingServer::ClosingServer() : listener_(socket(AF_INET, SOCK_STREAM, 0)), port_(0) {
    sockaddr_in address = loopbackAt(0);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 4);
}

ClosingServer::~ClosingServer() { close(listener_); }

bool ClosingServer::serveOne(int timeoutMs) {
    pollfd wait{listener_, POLLIN, 0};
    if (poll(&wait, 1, timeoutMs) != 1) return false;
    close(accept(listener_, nullptr, nullptr));
    return true;
}

}  // namespace clitest
