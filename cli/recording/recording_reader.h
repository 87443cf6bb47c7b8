// Reading a recording of the serial line from a file for the subcommands
// that show one, a packet at a time, so that their memory does not grow with
// the file. Main thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "link/line_recording.h"

class RecordingFileReader {
public:
    RecordingFileReader() = default;
    RecordingFileReader(const RecordingFileReader&) = delete;
    RecordingFileReader& operator=(const RecordingFileReader&) = delete;
    ~RecordingFileReader();

    // Opens a regular file and checks it whole, its header first: EXIT_DONE,
    // also for a file whose last packet is cut off (reported on stderr), or
    // EXIT_FILE_REFUSED with the reason on stderr as one line. A refused
    // file has shown nothing.
    int open(const std::string& path);
    // Hands each packet that open checked to take, in file order: EXIT_DONE,
    // or EXIT_FILE_REFUSED (reported) when the file no longer reads as it did.
    int forEachPacket(const std::function<void(const RecordedPacket&)>& take);

private:
    int refuse(const std::string& text) const;

    std::string path_;
    std::FILE* file_ = nullptr;
    size_t packets_ = 0;  // the whole packets that open found
};
