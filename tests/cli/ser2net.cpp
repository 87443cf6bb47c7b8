#include "tests/cli/ser2net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace peers {

namespace {

constexpr const char* SER2NET = "/usr/sbin/ser2net";

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ser2net in the foreground, its output into files; the child's pid.
pid_t startServer(const std::string& dir, const std::string& log) {
    std::string conf = dir + "/ser2net.yaml";
    std::string pidFile = dir + "/ser2net.pid";
    std::string out = log + ".out";
    pid_t pid = fork();
    if (pid != 0) return pid;
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    execl(SER2NET, SER2NET, "-n", "-u", "-c", conf.c_str(), "-P", pidFile.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

}  // namespace

sockaddr_in loopbackAt(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool acceptsOnLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAt(port);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

int freeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAt(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

int Ser2net::freePort() { return freeLoopbackPort(); }

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
    pid_ = startServer(dir_, dir_ + "/ser2net." + std::to_string(++starts_));
    for (int waited = 0; waited < 5000; waited += 50) {
        if (acceptsOnLoopback(rfc2217Port_) && acceptsOnLoopback(rawPort_)) return true;
        sleepMs(50);
    }
    return false;
}

void Ser2net::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int waited = 0; waitpid(pid_, &status, WNOHANG) == 0; waited += 20) {
        if (waited == 5000) kill(pid_, SIGKILL);
        sleepMs(20);
    }
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

}  // namespace peers
