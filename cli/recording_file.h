// Reading a recording of the serial line from a file for the subcommands
// that show one. Main thread only.
#pragma once

#include <string>

#include "link/line_recording.h"

// Reads and checks the whole file. EXIT_DONE, also for a file whose last
// packet is cut off (reported on stderr, the packets before it kept), or
// EXIT_FILE_REFUSED with the reason on stderr as one line.
int readRecordingFile(const std::string& path, RecordingContents* contents);
