#include "link/port_name.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* SCHEME_MARK = "://";

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// "1" to "65535" with nothing else; 0 for anything other.
int tcpPortOf(const std::string& digits) {
    if (digits.empty() || digits.size() > 5 || digits[0] == '0') return 0;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value <= 65535 ? value : 0;
}

int refuse(std::string* problem, const std::string& text) {
    *problem = text;
    return 0;
}

// HOST:PORT of a network name into *port.
int parseAddress(const std::string& scheme, const std::string& address, PortName* port,
                 std::string* problem) {
    std::string host;
    std::string rest;
    if (!address.empty() && address[0] == '[') {
        size_t close = address.find(']');
        if (close == std::string::npos) return refuse(problem, "the IPv6 address lacks its ']'");
        host = address.substr(1, close - 1);
        rest = address.substr(close + 1);
        if (rest.empty() || rest[0] != ':') return refuse(problem, "':PORT' must follow the host");
        rest.erase(0, 1);
    } else {
        size_t colon = address.rfind(':');
        if (colon == std::string::npos) return refuse(problem, "no ':PORT' after the host");
        host = address.substr(0, colon);
        rest = address.substr(colon + 1);
        if (host.find(':') != std::string::npos)
            return refuse(problem, "an IPv6 address goes in brackets: " + scheme + "://[::1]:PORT");
    }
    if (host.empty()) return refuse(problem, "no host before ':PORT'");
    if (host.find_first_of("/?#@ ") != std::string::npos) return refuse(problem, "the host '" + host + "' is not a host name");
    size_t extra = rest.find_first_of("/?#");
    if (extra != std::string::npos)
        return refuse(problem, "nothing may follow the port ('" + rest.substr(extra) + "')");
    port->tcpPort = tcpPortOf(rest);
    if (port->tcpPort == 0) return refuse(problem, "the TCP port '" + rest + "' is not a number from 1 to 65535");
    port->host = host;
    return 1;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

int isNetworkPortName(const char* text) { return std::strstr(text, SCHEME_MARK) != nullptr ? 1 : 0; }

int parsePortName(const std::string& text, PortName* port, std::string* problem) {
    *port = PortName{};
    if (text.empty()) return refuse(problem, "the port name is empty");
    if (text.size() > PORT_NAME_MAX) return refuse(problem, "the port name is longer than 255 characters");
    if (hasControlCharacter(text)) return refuse(problem, "the port name holds a control character");
    size_t mark = text.find(SCHEME_MARK);
    if (mark == std::string::npos) {
        port->device = text;
        return 1;
    }
    std::string scheme = lowerCase(text.substr(0, mark));
    if (scheme == "socket")
        port->kind = PORT_SOCKET;
    else if (scheme == "rfc2217")
        port->kind = PORT_RFC2217;
    else
        return refuse(problem, "unknown scheme '" + text.substr(0, mark) + "://' (socket:// or rfc2217://)");
    return parseAddress(scheme, text.substr(mark + 3), port, problem);
}

int comPortNumber(const std::string& name) {
    std::string text = lowerCase(name);
    if (text.rfind("\\\\.\\", 0) == 0) text.erase(0, 4);
    if (text.size() < 4 || text.size() > 7 || text.compare(0, 3, "com") != 0 || text[3] == '0') return 0;
    int number = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        number = number * 10 + (text[i] - '0');
    }
    return number;
}

void sortPortNames(std::vector<std::string>* names) {
    std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
        int first = comPortNumber(a);
        int second = comPortNumber(b);
        if ((first == 0) != (second == 0)) return first != 0;
        if (first != second) return first < second;
        return a < b;
    });
}
