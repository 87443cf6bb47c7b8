#include "cli/recording/recording_writer.h"

#include <algorithm>
#include <cinttypes>

#include "cli/console/platform.h"
#include "cli/console/report.h"

RecordingWriter::~RecordingWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void RecordingWriter::reportWriteError() {
    int error = lastSystemError();
    if (!failed_)
        report(path_, std::string("cannot write file: ") + systemErrorText(error));
    failed_ = true;
}

bool RecordingWriter::create(const std::string& path) {
    path_ = path;
    file_ = openFile(path, "wb");
    if (file_ == nullptr) {
        int error = lastSystemError();
        report(path, std::string("cannot create file: ") + systemErrorText(error));
        failed_ = true;
        return false;
    }
    std::vector<uint8_t> header;
    appendRecordingHeader(&header);
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() || std::fflush(file_) != 0) {
        reportWriteError();
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

bool RecordingWriter::write(std::vector<RecordedPacket>* packets) {
    // Packets of different sources were stamped as they came: the file holds
    // them in the order of their times.
    std::stable_sort(packets->begin(), packets->end(),
                     [](const RecordedPacket& a, const RecordedPacket& b) { return a.timeUs < b.timeUs; });
    if (packets->empty() || failed_ || file_ == nullptr) return !failed_;
    std::vector<uint8_t> out;
    for (const RecordedPacket& packet : *packets) {
        if (!appendRecordedPacket(&out, packet)) continue;  // a clock before 1970: nothing to write
        ++counts_.packets;
        counts_.bytes += static_cast<int64_t>(packet.bytes.size());
        if (packet.direction == TO_DEVICE) {
            ++counts_.sent;
            continue;
        }
        for (uint8_t byte : packet.bytes) {
            if (!assembleLineByte(&line_, byte)) continue;
            ++counts_.lines;
            if (!lineChecksumOk(line_.bytes)) ++counts_.badLines;
        }
    }
    if (out.empty()) return !failed_;  // every packet refused: fwrite wants a buffer
    if (std::fwrite(out.data(), 1, out.size(), file_) != out.size() || std::fflush(file_) != 0) reportWriteError();
    return !failed_;
}

bool RecordingWriter::close() {
    if (file_ != nullptr && std::fclose(file_) != 0) reportWriteError();
    file_ = nullptr;
    return !failed_;
}

std::string recordingStatusText(const RecordingCounts& counts, int gaps) {
    char text[200];
    std::snprintf(text, sizeof text, "packets %" PRId64 "  bytes %" PRId64 "  frames %" PRId64 "  bad lines %" PRId64
                  "  gaps %d", counts.packets, counts.bytes, counts.sent, counts.badLines, gaps);
    return text;
}

std::string recordingSummaryText(const RecordingCounts& counts, const char* framesVerb, const std::string& gaps,
                                 const std::string& path) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%" PRId64 " packets (%" PRId64 " command frames %s), %" PRId64 " bytes; %" PRId64 " reply lines, %" PRId64
                  " bad; ",
                  counts.packets, counts.sent, framesVerb, counts.bytes, counts.lines, counts.badLines);
    return text + gaps + "; in " + path;
}
