// The recording's byte layout, written and read field by field in little
// endian, so that the result does not depend on the host.
#include "link/line_recording.h"

#include <cstring>

namespace {

constexpr uint32_t MAGIC_SWAPPED = 0xd4c3b2a1;
constexpr uint32_t MAGIC_NANOSECONDS = 0xa1b23c4d;
constexpr uint32_t MAGIC_NANOSECONDS_SWAPPED = 0x4d3cb2a1;
constexpr int64_t MICROSECONDS = 1000000;
constexpr int64_t LAST_SECOND = 0xFFFFFFFFLL;

void put16(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

uint16_t get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

uint32_t get32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

std::string packetAt(size_t index, size_t offset) {
    return "packet " + std::to_string(index + 1) + " (byte " + std::to_string(offset) + ")";
}

}  // namespace

void appendRecordingHeader(std::vector<uint8_t>* out) {
    put32(out, RECORDING_MAGIC);
    put16(out, RECORDING_VERSION_MAJOR);
    put16(out, RECORDING_VERSION_MINOR);
    put32(out, 0);  // this zone: timestamps are UTC
    put32(out, 0);  // accuracy of the timestamps
    put32(out, RECORDING_SNAPLEN);
    put32(out, RECORDING_LINK_TYPE);
}

int appendRecordedPacket(std::vector<uint8_t>* out, const RecordedPacket& packet) {
    if (packet.bytes.size() > static_cast<size_t>(RECORDING_MAX_BYTES)) return 0;
    if (packet.timeUs < 0 || packet.timeUs / MICROSECONDS > LAST_SECOND) return 0;
    uint32_t length = static_cast<uint32_t>(packet.bytes.size() + 1);
    put32(out, static_cast<uint32_t>(packet.timeUs / MICROSECONDS));
    put32(out, static_cast<uint32_t>(packet.timeUs % MICROSECONDS));
    put32(out, length);  // bytes in the file
    put32(out, length);  // bytes on the line
    out->push_back(packet.direction);
    out->insert(out->end(), packet.bytes.begin(), packet.bytes.end());
    return 1;
}

RecordingReadResult RecordingReader::readHeader() {
    uint8_t data[RECORDING_HEADER_SIZE];
    size_t size = source_->read(data, sizeof data);
    offset_ = size;
    if (size < RECORDING_HEADER_SIZE) {
        // A start of the magic is a cut recording; anything else is another file.
        static const uint8_t MAGIC_BYTES[4] = {0xd4, 0xc3, 0xb2, 0xa1};
        for (size_t i = 0; i < size && i < 4; ++i)
            if (data[i] != MAGIC_BYTES[i]) return refuse(RECORDING_NOT_PCAP, 0, 0, "not a recording: no pcap file header");
        return refuse(RECORDING_TRUNCATED_HEADER, size, static_cast<uint32_t>(size),
                      "truncated: " + std::to_string(size) + " bytes, shorter than the " +
                          std::to_string(RECORDING_HEADER_SIZE) + "-byte file header");
    }
    uint32_t magic = get32(data);
    if (magic == MAGIC_SWAPPED || magic == MAGIC_NANOSECONDS || magic == MAGIC_NANOSECONDS_SWAPPED)
        return refuse(RECORDING_UNSUPPORTED_PCAP, 0, magic,
                      "a pcap file of another kind (big-endian or nanosecond timestamps), not a recording");
    if (magic != RECORDING_MAGIC) return refuse(RECORDING_NOT_PCAP, 0, magic, "not a recording: no pcap file header");
    uint16_t major = get16(data + 4);
    uint16_t minor = get16(data + 6);
    if (major != RECORDING_VERSION_MAJOR || minor != RECORDING_VERSION_MINOR)
        return refuse(RECORDING_UNSUPPORTED_PCAP, 4, static_cast<uint32_t>(major) << 16 | minor,
                      "pcap version " + std::to_string(major) + "." + std::to_string(minor) +
                          ", not a recording (version 2.4)");
    uint32_t linkType = get32(data + 20) & 0x0FFFFFFF;  // the top bits carry FCS flags
    if (linkType != RECORDING_LINK_TYPE)
        return refuse(RECORDING_WRONG_LINK_TYPE, 20, linkType,
                      "link type " + std::to_string(linkType) + ", not a recording of the serial line (link type " +
                          std::to_string(RECORDING_LINK_TYPE) + ")");
    return RecordingReadResult{};
}

RecordingReadResult RecordingReader::refuse(RecordingError error, size_t offset, uint32_t detail,
                                            const std::string& text) {
    refusal_.error = error;
    refusal_.offset = offset;
    refusal_.detail = detail;
    refusal_.text = text;
    return refusal_;
}

RecordingReader::Step RecordingReader::refusePacket(RecordingError error, uint32_t detail, const std::string& text) {
    refuse(error, offset_, detail, packetAt(packets_, offset_) + ": " + text);
    return REFUSED;
}

RecordingReader::Step RecordingReader::truncated() {
    truncatedLastPacket_ = true;
    truncatedAtOffset_ = offset_;
    return END;
}

RecordingReader::Step RecordingReader::next(RecordedPacket* packet) {
    if (refusal_.error != RECORDING_OK) return REFUSED;
    if (truncatedLastPacket_) return END;
    uint8_t header[RECORDING_PACKET_HEADER_SIZE];
    size_t got = source_->read(header, sizeof header);
    if (got == 0) return END;
    if (got < sizeof header) return truncated();
    uint32_t seconds = get32(header);
    uint32_t micros = get32(header + 4);
    uint32_t length = get32(header + 8);
    if (length > RECORDING_SNAPLEN)
        return refusePacket(RECORDING_PACKET_TOO_LONG, length,
                            std::to_string(length) + " bytes, longer than the snaplen of " +
                                std::to_string(RECORDING_SNAPLEN));
    if (micros >= MICROSECONDS)
        return refusePacket(RECORDING_BAD_TIMESTAMP, micros,
                            "timestamp with " + std::to_string(micros) + " microseconds");
    if (length == 0) return refusePacket(RECORDING_EMPTY_PACKET, 0, "no direction byte");
    body_.resize(length);
    if (source_->read(body_.data(), length) < length) return truncated();
    if (body_[0] != FROM_DEVICE && body_[0] != TO_DEVICE)
        return refusePacket(RECORDING_BAD_DIRECTION, body_[0],
                            "direction byte " + std::to_string(body_[0]) + " (0 from the device, 1 to the device)");
    packet->timeUs = static_cast<int64_t>(seconds) * MICROSECONDS + micros;
    packet->direction = static_cast<RecordingDirection>(body_[0]);
    packet->bytes.assign(body_.begin() + 1, body_.end());
    offset_ += RECORDING_PACKET_HEADER_SIZE + length;
    ++packets_;
    return PACKET;
}

namespace {

class MemorySource : public RecordingSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    size_t read(uint8_t* buffer, size_t count) override {
        size_t taken = count < left_ ? count : left_;
        if (taken > 0) std::memcpy(buffer, data_, taken);
        data_ += taken;
        left_ -= taken;
        return taken;
    }

private:
    const uint8_t* data_;
    size_t left_;
};

}  // namespace

RecordingReadResult readRecording(const uint8_t* data, size_t size, RecordingContents* contents) {
    *contents = RecordingContents{};
    MemorySource source(data, size);
    RecordingReader reader(&source);
    RecordingReadResult header = reader.readHeader();
    if (header.error != RECORDING_OK) return header;
    RecordingContents read;
    RecordedPacket packet;
    RecordingReader::Step step;
    while ((step = reader.next(&packet)) == RecordingReader::PACKET) read.packets.push_back(packet);
    if (step == RecordingReader::REFUSED) return reader.refusal();
    read.truncatedLastPacket = reader.truncatedLastPacket();
    read.truncatedAtOffset = reader.truncatedAtOffset();
    *contents = std::move(read);
    return RecordingReadResult{};
}

void LinePacketizer::flush(std::vector<RecordedPacket>* out) {
    if (waiting_.empty()) return;
    RecordedPacket packet;
    packet.timeUs = lastByteUs_;
    packet.direction = direction_;
    packet.bytes.swap(waiting_);  // leaves waiting_ empty
    out->push_back(std::move(packet));
}

void LinePacketizer::feed(const uint8_t* bytes, int count, int64_t timeUs, std::vector<RecordedPacket>* out) {
    if (count <= 0) return;
    // Bytes that waited out the pause before these are a packet of their own,
    // even when nobody called tick in between.
    tick(timeUs, out);
    for (int i = 0; i < count; ++i) {
        waiting_.push_back(bytes[i]);
        lastByteUs_ = timeUs;
        if (bytes[i] == 13 || static_cast<int>(waiting_.size()) >= PACKETIZER_MAX_BYTES) flush(out);
    }
}

void LinePacketizer::tick(int64_t nowUs, std::vector<RecordedPacket>* out) {
    if (!waiting_.empty() && nowUs - lastByteUs_ >= PACKETIZER_IDLE_US) flush(out);
}

void LinePacketizer::finish(std::vector<RecordedPacket>* out) { flush(out); }
