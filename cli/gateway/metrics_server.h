// The /metrics endpoint: libmicrohttpd serves it on a thread of its own
// (Linux only, like publish: metrics_server_posix.cpp). The loop hands it
// each finished page through one atomic pointer, ownership and all; the
// server's thread takes the newest when a scrape comes and keeps it for the
// scrapes after. So a scrape costs the loop nothing but the writing of the
// page, and neither thread ever waits for the other.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "cli/gateway/metrics_page.h"

struct MHD_Daemon;

class MetricsServer {
public:
    MetricsServer() = default;
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds and starts serving: EXIT_DONE, or EXIT_PORT_NOT_OPENED with one
    // line on stderr naming the address and the system's reason.
    int start(const ListenAddress& address);
    // The loop's newest page; one the server has not taken yet is replaced.
    void offer(std::string page);

    // The server's thread (public for the C callback).
    const std::string& newestPage();

private:
    MHD_Daemon* daemon_ = nullptr;
    int socket_ = -1;
    std::atomic<std::string*> offered_{nullptr};
    std::unique_ptr<std::string> served_;  // the server's thread only
};
