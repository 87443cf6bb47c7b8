// The serial link to the device: one COM port, a reader thread that feeds the
// receive parser and a writer thread that drains the TransmitRing.
//
// Threads: openLink and closeLink are called by the window thread only.
//
// Both platform links (serial_win32.cpp, serial_posix.cpp) implement all of
// this header. What only the checks use (statistics, thread ids, the port
// handle, fault injection) is in serial_link_testing.h.
#pragma once

// The ELQ770's line speed; every caller opens the link at it.
constexpr int BAUD_RATE = 9600;

// Opens COM<portNumber> at baudRate (8 data bits, no parity, one stop bit, no
// handshake) and starts both link threads. 1 on success; 0 otherwise, and then
// nothing the call created is left open or running.
int openLink(int portNumber, int baudRate);

// The same for a port named by the system: "COM3" on Windows (from COM10 on
// opened as \\.\COM10, the only form that reaches them), a device path
// such as /dev/ttyUSB0 on POSIX. openLink(n) is openLinkByName of COMn, or of
// /dev/ttyS<n-1> on POSIX. On a failure the system's error code is left in
// errno (POSIX) or GetLastError (Windows).
int openLinkByName(const char* name, int baudRate);

// Stops both threads and closes every handle. Safe when no link is open and
// when called twice. 0 when every close succeeded, 1 when any failed. A
// thread that has not ended after about 5 s (stuck in its driver) is given
// up: 1, and its link's handles are closed by a later openLink or closeLink
// once it has ended.
int closeLink();

// 1 while a link is open (the window thread's view; a link whose device has
// gone stays open until closeLink).
int linkIsOpen();

// 1 once the open link's reads fail as they do after the adapter has been
// pulled (an error that means so at once, or a run of failed reads of any
// error): the handle is dead and the port must be closed and opened again.
// Cleared by openLink. Read on the window thread, set by the reader thread.
int linkDeviceGone();
