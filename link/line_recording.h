// A recording of the serial line: a classic pcap file that common packet
// tools open. Little-endian header (magic 0xa1b2c3d4, version 2.4,
// microsecond timestamps, snaplen 65535, link type 147, the one reserved for
// private protocols); each packet's data is one direction byte (0 from the
// device, 1 to the device) and the bytes that crossed the line.
//
// The writer encodes into memory; the reader decodes from a RecordingSource
// (memory, or a file the front end opens) one packet at a time, so that what
// it holds does not grow with the file. Opening and writing files is the
// front end's business. A reader belongs to the thread that uses it; the
// other functions keep no state, so any thread may use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t RECORDING_MAGIC = 0xa1b2c3d4;
constexpr uint16_t RECORDING_VERSION_MAJOR = 2;
constexpr uint16_t RECORDING_VERSION_MINOR = 4;
constexpr uint32_t RECORDING_SNAPLEN = 65535;
constexpr uint32_t RECORDING_LINK_TYPE = 147;
constexpr int RECORDING_HEADER_SIZE = 24;
constexpr int RECORDING_PACKET_HEADER_SIZE = 16;
// The most bytes one packet carries beside its direction byte.
constexpr int RECORDING_MAX_BYTES = static_cast<int>(RECORDING_SNAPLEN) - 1;

enum RecordingDirection : uint8_t {
    FROM_DEVICE = 0,
    TO_DEVICE = 1,
};

struct RecordedPacket {
    int64_t timeUs = 0;  // microseconds since the epoch
    RecordingDirection direction = FROM_DEVICE;
    std::vector<uint8_t> bytes;
};

// Appends the file header.
void appendRecordingHeader(std::vector<uint8_t>* out);
// Appends one packet. Returns 0 and appends nothing when the packet cannot be
// written as it is: more than RECORDING_MAX_BYTES bytes, a time before the
// epoch or past the format's 32-bit seconds.
int appendRecordedPacket(std::vector<uint8_t>* out, const RecordedPacket& packet);

enum RecordingError {
    RECORDING_OK = 0,
    RECORDING_NOT_PCAP,           // no pcap magic: a file of another format
    RECORDING_UNSUPPORTED_PCAP,   // pcap, but swapped, nanosecond or another version
    RECORDING_TRUNCATED_HEADER,   // shorter than the file header
    RECORDING_WRONG_LINK_TYPE,
    RECORDING_PACKET_TOO_LONG,    // longer than the snaplen
    RECORDING_EMPTY_PACKET,       // no direction byte
    RECORDING_BAD_DIRECTION,      // a direction byte other than 0 or 1
    RECORDING_BAD_TIMESTAMP,      // microseconds of a million or more
};

struct RecordingContents {
    std::vector<RecordedPacket> packets;
    // Set when the file ends inside a packet: the packets before it are kept.
    bool truncatedLastPacket = false;
    size_t truncatedAtOffset = 0;  // where the incomplete packet starts
};

struct RecordingReadResult {
    RecordingError error = RECORDING_OK;
    size_t offset = 0;     // where the refused part starts
    uint32_t detail = 0;   // the link type, length or byte that was refused
    std::string text;      // one line, no newline: why the file is refused
};

// Where a RecordingReader takes its bytes from.
class RecordingSource {
public:
    virtual ~RecordingSource() = default;
    // Up to count bytes into buffer; fewer only where the input ends (or
    // fails, which the source keeps for its owner to report).
    virtual size_t read(uint8_t* buffer, size_t count) = 0;
};

// Reads a recording a packet at a time: the file header first, so that
// another file is refused before more than its first 24 bytes are read, then
// each packet through a buffer of at most one packet (RECORDING_SNAPLEN).
class RecordingReader {
public:
    enum Step {
        PACKET,   // *packet holds the next packet
        END,      // no more packets: the input ended, maybe inside a packet
        REFUSED,  // refusal() says why; nothing after it is read
    };

    explicit RecordingReader(RecordingSource* source) : source_(source) {}
    // Reads and checks the file header; call it first, once.
    RecordingReadResult readHeader();
    Step next(RecordedPacket* packet);

    const RecordingReadResult& refusal() const { return refusal_; }
    // Set at END when the input ends inside a packet.
    bool truncatedLastPacket() const { return truncatedLastPacket_; }
    size_t truncatedAtOffset() const { return truncatedAtOffset_; }
    size_t packetsRead() const { return packets_; }

private:
    RecordingReadResult refuse(RecordingError error, size_t offset, uint32_t detail, const std::string& text);
    Step refusePacket(RecordingError error, uint32_t detail, const std::string& text);
    Step truncated();

    RecordingSource* source_;
    RecordingReadResult refusal_;
    size_t offset_ = 0;   // of the next packet in the input
    size_t packets_ = 0;
    bool truncatedLastPacket_ = false;
    size_t truncatedAtOffset_ = 0;
    std::vector<uint8_t> body_;  // the packet being read, direction byte first
};

// Decodes a whole file in memory. On a refusal contents holds nothing usable.
RecordingReadResult readRecording(const uint8_t* data, size_t size, RecordingContents* contents);

// Cuts what the device sends into packets: one per reply line through its
// CR, stamped at the CR's arrival; bytes that never end in a CR go out on
// their own after PACKETIZER_IDLE_US without a byte (stamped at their last
// byte) or as soon as PACKETIZER_MAX_BYTES are waiting.
constexpr int64_t PACKETIZER_IDLE_US = 20000;
constexpr int PACKETIZER_MAX_BYTES = 64;

class LinePacketizer {
public:
    // The direction its packets carry: the device's lines by default; a relay
    // cuts the other program's bytes the same way, since a command frame's
    // only CR is its last byte.
    explicit LinePacketizer(RecordingDirection direction = FROM_DEVICE) : direction_(direction) {}
    // Bytes that arrived together at timeUs. Completed packets are appended
    // to out.
    void feed(const uint8_t* bytes, int count, int64_t timeUs, std::vector<RecordedPacket>* out);
    // Called with the clock while no bytes come: flushes waiting bytes once
    // they have waited PACKETIZER_IDLE_US.
    void tick(int64_t nowUs, std::vector<RecordedPacket>* out);
    // The end of the recording: whatever waits goes out.
    void finish(std::vector<RecordedPacket>* out);
    int pending() const { return static_cast<int>(waiting_.size()); }

private:
    void flush(std::vector<RecordedPacket>* out);

    RecordingDirection direction_;
    std::vector<uint8_t> waiting_;
    int64_t lastByteUs_ = 0;
};
