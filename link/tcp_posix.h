// A TCP connection to a network port's host, for the POSIX link.
#pragma once

#include "link/port_name.h"

// Longest wait for a host to answer a connection; a host that does not
// answer is a port that does not open.
constexpr int CONNECT_TIMEOUT_MS = 3000;

// Connects to port's host and TCP port, trying each address the name has
// in turn within CONNECT_TIMEOUT_MS in all. A non-blocking descriptor with
// TCP_NODELAY (the device's frames are a few bytes each, and waiting to
// gather them would only delay them), or -1 with errno set: the connect's
// own error, ETIMEDOUT for a host that does not answer, ENXIO for a name
// that does not resolve.
int openTcpConnection(const PortName& port);
