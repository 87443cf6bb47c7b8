// Win32 network link: a TCP connection (Winsock) in place of the COM port,
// with the COM link's thread model and contracts (serial_win32.cpp): a
// reader thread and a writer thread, each with a copy of its handles and a
// manual-reset stop event, closeNetLink bounded by CLOSE_WAIT_MS, and
// "device gone" once the connection has dropped.
//
// Threads and hand-overs:
// - Window thread: openNetLink and closeNetLink. It connects and creates the
//   events, and starts the NetLine (link/net_line.h), before it starts the
//   threads (CreateThread publishes them); it closes them after both
//   threads have ended, or, when one has not within the bound, closes only
//   the socket (which completes whatever is outstanding on it) and leaves
//   the events to the thread.
// - Reader thread: owns its receive buffer, WSAOVERLAPPED and event, and
//   always has one WSARecv outstanding. What arrives goes through the
//   NetLine to parseReceivedBytes; the NetLine's answers to the server are
//   handed to the writer through its ring and transmitReadyEvent. A
//   receive that completes with no bytes (the peer closed) or with an error
//   sets deviceGone (relaxed; the window thread polls it) and ends reading.
// - Writer thread: owns its send buffer, WSAOVERLAPPED and event; it alone
//   takes from the TransmitRing and the NetLine's answer ring, sending the
//   answers before each chunk, and resets transmitReadyEvent before it
//   takes, so that a put after the reset sets it again. A pending send is
//   completed (or cancelled and then completed) before its buffer is used
//   again.
// No lock: the rings order their bytes by release/acquire on their
// indexes, the events order the rest.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "link/command_frames.h"
#include "link/net_line.h"
#include "link/net_link_win32.h"
#include "link/port_name.h"
#include "link/receive_parser.h"

namespace {

constexpr int RECEIVE_CHUNK = 256;
constexpr DWORD CONNECT_TIMEOUT_MS = 3000;  // as the POSIX link's
constexpr DWORD CLOSE_WAIT_MS = 5000;       // as the COM link's

struct NetHandles {
    SOCKET socket = INVALID_SOCKET;
    HANDLE readerStopEvent = nullptr;
    HANDLE writerStopEvent = nullptr;
    HANDLE transmitReadyEvent = nullptr;
    HANDLE readerThread = nullptr;
    HANDLE writerThread = nullptr;
};

// One thread's copy of what it uses, handed over on the heap.
struct NetThreadLink {
    SOCKET socket;
    HANDLE stopEvent;
    HANDLE transmitReadyEvent;
    NetLine* line;
};

NetHandles netHandles;
NetLine netLine;
std::atomic<HANDLE> transmitReadyShared{nullptr};
std::atomic<int> deviceGone{0};

void signalTransmitReady() {
    HANDLE event = transmitReadyShared.load(std::memory_order_acquire);
    if (event != nullptr) SetEvent(event);
}

bool stopRequested(const NetThreadLink& link) {
    return WaitForSingleObject(link.stopEvent, 0) == WAIT_OBJECT_0;
}

NetThreadLink takeThreadLink(LPVOID parameter) {
    NetThreadLink* handed = static_cast<NetThreadLink*>(parameter);
    NetThreadLink link = *handed;
    HeapFree(GetProcessHeap(), 0, handed);
    return link;
}

// Cancels what may still be in flight on the socket and waits for it, so
// that nothing touches its buffer once the caller lets it go.
void cancelAndComplete(const NetThreadLink& link, WSAOVERLAPPED* overlapped) {
    CancelIoEx(reinterpret_cast<HANDLE>(link.socket), overlapped);
    DWORD transferred = 0;
    DWORD flags = 0;
    WSAGetOverlappedResult(link.socket, overlapped, &transferred, TRUE, &flags);
}

// ---- Reader thread ----

enum ReceiveEnd { RECEIVED, RECEIVE_STOPPED, CONNECTION_GONE };

// One receive, waited for with the stop event; *got is its count.
ReceiveEnd receiveOnce(const NetThreadLink& link, uint8_t* buffer, WSAOVERLAPPED* overlapped, DWORD* got) {
    WSABUF piece{RECEIVE_CHUNK, reinterpret_cast<char*>(buffer)};
    DWORD flags = 0;
    WSAResetEvent(overlapped->hEvent);
    if (WSARecv(link.socket, &piece, 1, nullptr, &flags, overlapped, nullptr) != 0 &&
        WSAGetLastError() != WSA_IO_PENDING)
        return CONNECTION_GONE;
    HANDLE waits[2] = {link.stopEvent, overlapped->hEvent};
    DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (result != WAIT_OBJECT_0 + 1) {
        cancelAndComplete(link, overlapped);
        return RECEIVE_STOPPED;
    }
    if (!WSAGetOverlappedResult(link.socket, overlapped, got, FALSE, &flags) || *got == 0)
        return CONNECTION_GONE;
    return stopRequested(link) ? RECEIVE_STOPPED : RECEIVED;
}

void takeReceived(const NetThreadLink& link, const uint8_t* buffer, DWORD count) {
    uint8_t data[RECEIVE_CHUNK];
    bool answered = false;
    int got = link.line->decode(buffer, static_cast<int>(count), data, &answered);
    if (got > 0) parseReceivedBytes(data, got);
    if (answered) SetEvent(link.transmitReadyEvent);
}

DWORD WINAPI readerThread(LPVOID parameter) {
    NetThreadLink link = takeThreadLink(parameter);
    uint8_t buffer[RECEIVE_CHUNK];
    WSAOVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = WSACreateEvent();
    ReceiveEnd end = overlapped.hEvent == WSA_INVALID_EVENT ? CONNECTION_GONE : RECEIVED;
    while (end == RECEIVED) {
        DWORD got = 0;
        end = receiveOnce(link, buffer, &overlapped, &got);
        if (end == RECEIVED) takeReceived(link, buffer, got);
    }
    // A dropped connection does not come back under this socket: the window
    // thread closes the link and connects again.
    if (end == CONNECTION_GONE && !stopRequested(link)) {
        deviceGone.store(1, std::memory_order_relaxed);
        WaitForSingleObject(link.stopEvent, INFINITE);
    }
    if (overlapped.hEvent != WSA_INVALID_EVENT) WSACloseEvent(overlapped.hEvent);
    return 1;
}

// ---- Writer thread ----

// Sends the bytes whole; false at a stop request or when the send failed
// (a failed connection is the reader's to notice).
bool sendBytes(const NetThreadLink& link, const uint8_t* bytes, int count, WSAOVERLAPPED* overlapped) {
    WSABUF piece{static_cast<ULONG>(count), reinterpret_cast<char*>(const_cast<uint8_t*>(bytes))};
    WSAResetEvent(overlapped->hEvent);
    if (WSASend(link.socket, &piece, 1, nullptr, 0, overlapped, nullptr) != 0 &&
        WSAGetLastError() != WSA_IO_PENDING)
        return false;
    HANDLE waits[2] = {link.stopEvent, overlapped->hEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        cancelAndComplete(link, overlapped);
        return false;
    }
    DWORD sent = 0;
    DWORD flags = 0;
    return WSAGetOverlappedResult(link.socket, overlapped, &sent, FALSE, &flags) && sent == static_cast<DWORD>(count);
}

bool sendControl(const NetThreadLink& link, WSAOVERLAPPED* overlapped) {
    uint8_t answers[256];
    for (int size = link.line->takeControl(answers, sizeof answers); size > 0;
         size = link.line->takeControl(answers, sizeof answers))
        if (!sendBytes(link, answers, size, overlapped)) return false;
    return true;
}

// Everything waiting, answers first; false when sending failed or stopped.
bool serveTransmitReady(const NetThreadLink& link, WSAOVERLAPPED* overlapped) {
    ResetEvent(link.transmitReadyEvent);
    uint8_t chunk[TRANSMIT_CHUNK_SIZE];
    uint8_t encoded[2 * TRANSMIT_CHUNK_SIZE];
    if (!sendControl(link, overlapped)) return false;
    for (int size = takeTransmitBytes(chunk); size > 0; size = takeTransmitBytes(chunk)) {
        if (stopRequested(link)) return false;
        if (!sendControl(link, overlapped)) return false;
        if (!sendBytes(link, encoded, link.line->encode(chunk, size, encoded), overlapped)) return false;
    }
    return true;
}

DWORD WINAPI writerThread(LPVOID parameter) {
    NetThreadLink link = takeThreadLink(parameter);
    WSAOVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = WSACreateEvent();
    HANDLE waits[2] = {link.stopEvent, link.transmitReadyEvent};
    bool sending = overlapped.hEvent != WSA_INVALID_EVENT;
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        // After a failed send the connection is gone: what is put is
        // dropped, as on a COM port whose writes fail, until the close.
        if (sending) sending = serveTransmitReady(link, &overlapped);
        if (!sending) {
            ResetEvent(link.transmitReadyEvent);
            uint8_t chunk[TRANSMIT_CHUNK_SIZE];
            while (takeTransmitBytes(chunk) > 0) {
            }
        }
    }
    if (overlapped.hEvent != WSA_INVALID_EVENT) WSACloseEvent(overlapped.hEvent);
    return 1;
}

// ---- Connecting ----

bool winsockReady() {
    static int started = -1;  // window thread only
    if (started < 0) {
        WSADATA data;
        int error = WSAStartup(MAKEWORD(2, 2), &data);
        started = error == 0 ? 1 : 0;
        if (error != 0) SetLastError(static_cast<DWORD>(error));
    }
    return started == 1;
}

// Waits for a non-blocking connect within the deadline's tick count.
bool finishConnect(SOCKET socket, DWORD deadline) {
    DWORD now = GetTickCount();
    DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
    int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready == 0) WSASetLastError(WSAETIMEDOUT);
    if (ready <= 0) return false;
    int error = 0;
    int size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) return false;
    WSASetLastError(error);
    return error == 0 && FD_ISSET(socket, &writable);
}

// An overlapped socket connected to address before the deadline, back in
// blocking mode for the threads' overlapped I/O; INVALID_SOCKET with the
// error in WSAGetLastError.
SOCKET connectTo(const addrinfo* address, DWORD deadline) {
    SOCKET socket = WSASocketW(address->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (socket == INVALID_SOCKET) return socket;
    u_long nonBlocking = 1;
    bool connected = ioctlsocket(socket, FIONBIO, &nonBlocking) == 0 &&
                     (connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0 ||
                      (WSAGetLastError() == WSAEWOULDBLOCK && finishConnect(socket, deadline)));
    nonBlocking = 0;
    if (connected && ioctlsocket(socket, FIONBIO, &nonBlocking) == 0) {
        BOOL on = TRUE;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return socket;
    }
    int error = WSAGetLastError();
    closesocket(socket);
    WSASetLastError(error);
    return INVALID_SOCKET;
}

SOCKET connectToPort(const PortName& port) {
    if (!winsockReady()) return INVALID_SOCKET;
    addrinfo hints;
    ZeroMemory(&hints, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* addresses = nullptr;
    std::string service = std::to_string(port.tcpPort);
    int resolved = getaddrinfo(port.host.c_str(), service.c_str(), &hints, &addresses);
    if (resolved != 0) {
        SetLastError(static_cast<DWORD>(resolved));
        return INVALID_SOCKET;
    }
    DWORD deadline = GetTickCount() + CONNECT_TIMEOUT_MS;
    SOCKET socket = INVALID_SOCKET;
    for (const addrinfo* address = addresses; address != nullptr && socket == INVALID_SOCKET;
         address = address->ai_next)
        socket = connectTo(address, deadline);
    int error = WSAGetLastError();
    freeaddrinfo(addresses);
    SetLastError(static_cast<DWORD>(error));
    return socket;
}

HANDLE startThread(LPTHREAD_START_ROUTINE procedure, const NetThreadLink& link) {
    NetThreadLink* handed = static_cast<NetThreadLink*>(HeapAlloc(GetProcessHeap(), 0, sizeof(NetThreadLink)));
    if (handed == nullptr) return nullptr;
    *handed = link;
    HANDLE thread = CreateThread(nullptr, 0, procedure, handed, 0, nullptr);
    if (thread == nullptr) HeapFree(GetProcessHeap(), 0, handed);
    return thread;
}

int startNetThreads() {
    netHandles.readerStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    netHandles.writerStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    netHandles.transmitReadyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (netHandles.readerStopEvent == nullptr || netHandles.writerStopEvent == nullptr ||
        netHandles.transmitReadyEvent == nullptr)
        return 0;
    netHandles.readerThread = startThread(
        readerThread, NetThreadLink{netHandles.socket, netHandles.readerStopEvent, netHandles.transmitReadyEvent, &netLine});
    if (netHandles.readerThread == nullptr) return 0;
    netHandles.writerThread = startThread(
        writerThread, NetThreadLink{netHandles.socket, netHandles.writerStopEvent, netHandles.transmitReadyEvent, &netLine});
    return netHandles.writerThread != nullptr ? 1 : 0;
}

// Stops whichever threads run and waits for them within CLOSE_WAIT_MS.
bool stopNetThreads() {
    if (netHandles.readerStopEvent != nullptr) SetEvent(netHandles.readerStopEvent);
    if (netHandles.writerStopEvent != nullptr) SetEvent(netHandles.writerStopEvent);
    HANDLE threads[2];
    DWORD running = 0;
    if (netHandles.readerThread != nullptr) threads[running++] = netHandles.readerThread;
    if (netHandles.writerThread != nullptr) threads[running++] = netHandles.writerThread;
    return running == 0 || WaitForMultipleObjects(running, threads, TRUE, CLOSE_WAIT_MS) == WAIT_OBJECT_0;
}

int closeHandle(HANDLE& handle) {
    if (handle == nullptr) return 0;
    int failed = CloseHandle(handle) ? 0 : 1;
    handle = nullptr;
    return failed;
}

// Everything the link holds; a thread that did not end keeps its events.
int releaseNetLink(bool threadsEnded) {
    transmitReadyShared.store(nullptr, std::memory_order_release);
    int failed = 0;
    if (netHandles.socket != INVALID_SOCKET && closesocket(netHandles.socket) != 0) failed = 1;
    if (!threadsEnded) {
        netHandles = NetHandles{};
        return 1;
    }
    failed |= closeHandle(netHandles.readerStopEvent);
    failed |= closeHandle(netHandles.writerStopEvent);
    failed |= closeHandle(netHandles.transmitReadyEvent);
    failed |= closeHandle(netHandles.readerThread);
    failed |= closeHandle(netHandles.writerThread);
    netHandles = NetHandles{};
    return failed;
}

}  // namespace

int openNetLink(const char* name, int baudRate) {
    PortName port;
    std::string problem;
    if (!parsePortName(name, &port, &problem) || port.kind == PORT_SERIAL) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    netHandles.socket = connectToPort(port);
    if (netHandles.socket == INVALID_SOCKET) return 0;
    deviceGone.store(0, std::memory_order_relaxed);
    netLine.start(port.kind, baudRate);
    if (!startNetThreads()) {
        DWORD error = GetLastError();
        releaseNetLink(stopNetThreads());
        SetLastError(error);
        return 0;
    }
    transmitReadyShared.store(netHandles.transmitReadyEvent, std::memory_order_release);
    setTransmitReadyHook(signalTransmitReady);
    setTransmitLinkOpen(1);
    return 1;
}

int closeNetLink() {
    if (netHandles.socket == INVALID_SOCKET) return 0;
    setTransmitLinkOpen(0);
    return releaseNetLink(stopNetThreads());
}

int netLinkIsOpen() { return netHandles.socket != INVALID_SOCKET ? 1 : 0; }
int netLinkDeviceGone() { return deviceGone.load(std::memory_order_relaxed); }
