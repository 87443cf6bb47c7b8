// A tty opened and set up the way the link uses it, for the other POSIX
// users of a serial line (the recorder's relay): exclusive, raw 8N1 at baudRate, no flow control
// of either kind, modem lines ignored, reads returning what is there, and
// whatever waited in its queues from before thrown away.
#pragma once

// 1, or 0 with errno set (EINVAL for a baud rate the link does not know).
int configureTty(int fd, int baudRate);

// Opens path non-blocking and exclusive (a second opener gets EBUSY, as a
// COM port refuses one on Windows, root included: an flock beside TIOCEXCL)
// and configures it; the descriptor, or -1 with errno set.
int openTty(const char* path, int baudRate);
