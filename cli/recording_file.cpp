#include "cli/recording_file.h"

#include <cstdio>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/platform.h"

namespace {

void report(const std::string& path, const std::string& text) {
    std::fprintf(stderr, "elq770ctl: %s: %s\n", path.c_str(), text.c_str());
}

}  // namespace

int readRecordingFile(const std::string& path, RecordingContents* contents) {
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        int error = lastSystemError();
        report(path, "cannot open file: " + systemErrorText(error));
        return EXIT_FILE_REFUSED;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[16384];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        report(path, "cannot read file");
        return EXIT_FILE_REFUSED;
    }
    RecordingReadResult result = readRecording(data.data(), data.size(), contents);
    if (result.error != RECORDING_OK) {
        report(path, result.text);
        return EXIT_FILE_REFUSED;
    }
    if (contents->truncatedLastPacket)
        report(path, "the last packet is cut off at byte " + std::to_string(contents->truncatedAtOffset) +
                         "; the " + std::to_string(contents->packets.size()) + " packets before it are used");
    return EXIT_DONE;
}
