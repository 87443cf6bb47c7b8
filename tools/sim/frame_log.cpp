#include "tools/sim/frame_log.h"

namespace sim {

namespace {

std::string stamp(uint32_t elapsedMs) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%03u", elapsedMs / 1000, elapsedMs % 1000);
    return text;
}

}  // namespace

std::string formatFrameEvent(uint32_t elapsedMs, const FrameEvent& event) {
    std::string line = stamp(elapsedMs);
    if (event.kind == FrameEvent::WORD) return line + " " + std::to_string(event.word);
    line += " BAD";
    for (int i = 0; i < event.count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", event.bytes[i]);
        line += hex;
    }
    return line;
}

FrameLog::~FrameLog() {
    if (file_ != nullptr) std::fclose(file_);
}

int FrameLog::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr ? 1 : 0;
}

void FrameLog::write(uint32_t elapsedMs, const FrameEvent& event) {
    if (file_ == nullptr) return;
    std::fprintf(file_, "%s\n", formatFrameEvent(elapsedMs, event).c_str());
    std::fflush(file_);
}

void FrameLog::note(uint32_t elapsedMs, const char* text) {
    if (file_ == nullptr) return;
    std::fprintf(file_, "%s %s\n", stamp(elapsedMs).c_str(), text);
    std::fflush(file_);
}

}  // namespace sim
