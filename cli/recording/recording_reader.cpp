// The file is read twice: once to check it, once to show it. A refused file
// then shows nothing, as when it was read into memory whole, and the second
// pass stops where the first one ended, so that a recording still growing
// under a running record shows what was checked.
#include "cli/recording/recording_reader.h"

#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"

namespace {

class FileSource : public RecordingSource {
public:
    explicit FileSource(std::FILE* file) : file_(file) {}
    size_t read(uint8_t* buffer, size_t count) override { return std::fread(buffer, 1, count, file_); }
    bool failed() const { return std::ferror(file_) != 0; }

private:
    std::FILE* file_;
};

}  // namespace

RecordingFileReader::~RecordingFileReader() {
    if (file_ != nullptr) std::fclose(file_);
}

int RecordingFileReader::refuse(const std::string& text) const {
    report(path_, text);
    return EXIT_FILE_REFUSED;
}

int RecordingFileReader::open(const std::string& path) {
    path_ = path;
    bool notRegular = false;
    file_ = openRegularFile(path, &notRegular);
    if (notRegular) return refuse("not a regular file (a device, a pipe or a folder), not a recording");
    if (file_ == nullptr) return refuse("cannot open file: " + systemErrorText(lastSystemError()));
    FileSource source(file_);
    RecordingReader reader(&source);
    RecordingReadResult header = reader.readHeader();
    RecordedPacket packet;
    RecordingReader::Step step = header.error == RECORDING_OK ? RecordingReader::PACKET : RecordingReader::REFUSED;
    while (step == RecordingReader::PACKET) step = reader.next(&packet);
    if (source.failed()) return refuse("cannot read file");
    if (step == RecordingReader::REFUSED) return refuse(reader.refusal().text);
    packets_ = reader.packetsRead();
    if (reader.truncatedLastPacket())
        report(path_, "the last packet is cut off at byte " + std::to_string(reader.truncatedAtOffset()) + "; the " +
               std::to_string(packets_) + " packets before it are used");
    return EXIT_DONE;
}

int RecordingFileReader::forEachPacket(const std::function<void(const RecordedPacket&)>& take) {
    std::rewind(file_);
    FileSource source(file_);
    RecordingReader reader(&source);
    if (reader.readHeader().error != RECORDING_OK) return refuse("changed while it was read");
    RecordedPacket packet;
    for (size_t i = 0; i < packets_; ++i) {
        if (reader.next(&packet) != RecordingReader::PACKET)
            return refuse(source.failed() ? "cannot read file" : "changed while it was read");
        take(packet);
    }
    return EXIT_DONE;
}
