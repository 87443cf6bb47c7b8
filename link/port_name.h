// The names a port is given by the user: a serial port as the system names
// it (COM3, COM12 on Windows; a device path such as /dev/ttyUSB0 on Linux),
// or a device reached over the network, `socket://HOST:PORT` (a raw TCP
// connection carrying the device's bytes as they are) or
// `rfc2217://HOST:PORT` (Telnet with the COM Port Control Option, the link
// in link/rfc2217.h). HOST is a name, an IPv4 address or an IPv6 address in
// brackets ([::1]). One parser for both front ends and both platforms.
//
// Threads: pure functions, any thread.
#pragma once

#include <string>
#include <vector>

enum PortKind : int {
    PORT_SERIAL = 0,
    PORT_SOCKET,   // socket://
    PORT_RFC2217,  // rfc2217://
};

struct PortName {
    int kind = PORT_SERIAL;
    std::string device;  // PORT_SERIAL: the name as given
    std::string host;    // network ports: without the brackets of IPv6
    int tcpPort = 0;     // network ports: 1 to 65535
};

// Longest name taken, so that a name fits the window program's buffers and
// its side file (and nobody pastes a page into the box).
constexpr int PORT_NAME_MAX = 255;

// 1 and *port filled, or 0 with *problem naming what is wrong (in English,
// for a usage error): an empty name, an unknown scheme, a missing host, a
// missing or out-of-range TCP port, anything after the port.
int parsePortName(const std::string& text, PortName* port, std::string* problem);

// 1 when text names a network port (it has a scheme); the parser decides
// whether it is a good one.
int isNetworkPortName(const char* text);

// n of "COMn" (any case, n from 1 to 9999 without a leading zero, also as
// \\.\COMn), 0 for any other name.
int comPortNumber(const std::string& name);

// COM ports by their number (COM2 before COM10), other names after them in
// byte order: the order in which a list of ports is shown.
void sortPortNames(std::vector<std::string>* names);
