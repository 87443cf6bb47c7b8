// record --relay: the recorder as a man in the middle. Another program (the
// window program, elq770ctl itself) opens LINK instead of the device's port;
// every byte passes on unchanged as soon as it is read, and both directions
// go into the recording: the device's bytes (read from the port) cut into
// reply lines by the LinePacketizer, the other program's bytes (read from
// LINK) one packet per command frame, through its CR.
//
// POSIX (relay_posix.cpp): LINK is the path of a new pseudo-terminal,
// published as a symlink and removed at the end. Windows (relay_win32.cpp):
// not there yet; refused as a usage error.
#pragma once

#include "cli/recording/recorder.h"

// Returns an exit code: 0, 1 (not on this system), 2 (port or LINK not
// opened) or 5 (file not created or not written).
int runRelay(const RecordOptions& options);
