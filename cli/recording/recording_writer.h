// The file a recording goes into, for record and its relay: created with the
// header written and flushed first, then batches of packets, each sorted by
// time, written with one write and flushed, so that the file ends on a whole
// packet whenever the run stops. Counts what it wrote. Errors are reported
// on stderr, once. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/line_recording.h"
#include "link/receive_parser.h"

struct RecordingCounts {
    int64_t packets = 0;
    int64_t bytes = 0;
    int64_t lines = 0;     // the device's reply lines, across packets
    int64_t badLines = 0;
    int64_t sent = 0;      // command frames (packets to the device)
};

// The status line of record and the relay: "packets N  bytes N  frames N
// bad lines N  gaps N".
std::string recordingStatusText(const RecordingCounts& counts, int gaps);
// Their summary: "N packets (N command frames VERB), N bytes; N reply lines,
// N bad; GAPS; in PATH", the command frames sent or relayed.
std::string recordingSummaryText(const RecordingCounts& counts, const char* framesVerb, const std::string& gaps,
                                 const std::string& path);

class RecordingWriter {
public:
    RecordingWriter() = default;
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;
    ~RecordingWriter();

    // Creates the file and writes its header; false when that fails.
    bool create(const std::string& path);
    // Sorts the packets by time and writes them; false once writing failed.
    bool write(std::vector<RecordedPacket>* packets);
    // Closes the file; false when it or any earlier write failed.
    bool close();

    bool failed() const { return failed_; }
    const RecordingCounts& counts() const { return counts_; }

private:
    void reportWriteError();

    std::string path_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    RecordingCounts counts_;
    LineAssembly line_{};
};
