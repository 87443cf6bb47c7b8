// libmicrohttpd with its internal polling thread: one thread serves every
// scrape in turn, so served_ has one user. We make and bind the listening
// socket ourselves, so that an address in use is reported with the
// system's reason before the gateway starts.
#include "cli/gateway/metrics_server.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/console/exit_codes.h"
#include "cli/console/report.h"

namespace {

constexpr const char* CONTENT_TYPE = "text/plain; version=0.0.4; charset=utf-8";
constexpr unsigned CONNECTION_LIMIT = 16;
constexpr unsigned CONNECTION_TIMEOUT_S = 10;

MHD_Result reply(MHD_Connection* connection, unsigned status, const std::string& body, const char* type) {
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void* server, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t*, void**) {
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
        return reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET or HEAD only\n", "text/plain");
    if (std::strcmp(url, "/metrics") != 0)
        return reply(connection, MHD_HTTP_NOT_FOUND, "the metrics are at /metrics\n", "text/plain");
    return reply(connection, MHD_HTTP_OK, static_cast<MetricsServer*>(server)->newestPage(), CONTENT_TYPE);
}

std::string where(const ListenAddress& address) {
    bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

int refuse(const ListenAddress& address, const std::string& reason) {
    report("--metrics " + where(address), "cannot listen: " + reason);
    return EXIT_PORT_NOT_OPENED;
}

}  // namespace

MetricsServer::~MetricsServer() {
    if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
    if (socket_ >= 0) close(socket_);
    delete offered_.exchange(nullptr, std::memory_order_acquire);
}

int MetricsServer::start(const ListenAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (rc != 0) return refuse(address, gai_strerror(rc));
    socket_ = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    bool bound = socket_ >= 0 && setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
                 bind(socket_, found->ai_addr, found->ai_addrlen) == 0 && listen(socket_, 16) == 0;
    int error = errno;
    bool v6 = found->ai_family == AF_INET6;
    freeaddrinfo(found);
    if (!bound) return refuse(address, std::strerror(error));
    // A scraper that goes away mid-reply must not end the gateway.
    std::signal(SIGPIPE, SIG_IGN);
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | (v6 ? MHD_USE_IPv6 : 0);
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, answer, this, MHD_OPTION_LISTEN_SOCKET, socket_,
                               MHD_OPTION_CONNECTION_LIMIT, CONNECTION_LIMIT, MHD_OPTION_CONNECTION_TIMEOUT,
                               CONNECTION_TIMEOUT_S, MHD_OPTION_END);
    if (daemon_ == nullptr) return refuse(address, "the HTTP server did not start");
    socket_ = -1;  // the daemon's now: it closes it as it stops
    std::printf("elq770ctl: metrics at http://%s/metrics\n", where(address).c_str());
    std::fflush(stdout);
    return EXIT_DONE;
}

void MetricsServer::offer(std::string page) {
    delete offered_.exchange(new std::string(std::move(page)), std::memory_order_acq_rel);
}

const std::string& MetricsServer::newestPage() {
    std::string* newest = offered_.exchange(nullptr, std::memory_order_acq_rel);
    if (newest != nullptr) served_.reset(newest);
    if (served_ == nullptr) served_ = std::make_unique<std::string>();
    return *served_;
}
