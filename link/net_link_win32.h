// The Win32 link's network side (net_win32.cpp), used by serial_win32.cpp,
// which dispatches the link's interface (link/serial_link.h) to it for a
// network port's name. Window thread only, as openLink and closeLink.
#pragma once

// Connects to name (socket:// or rfc2217://) and starts the link threads; 1,
// or 0 with GetLastError set (the connect's error, WSAETIMEDOUT for a host
// that does not answer within CONNECT_TIMEOUT_MS, ERROR_INVALID_NAME for a
// name the parser refuses).
int openNetLink(const char* name, int baudRate);

// Stops the threads and closes the connection; 0, or 1 when a thread did
// not end in time (its event handles are then left to it). Safe when none
// is open.
int closeNetLink();

int netLinkIsOpen();
int netLinkDeviceGone();
