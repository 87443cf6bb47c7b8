#include "link/command_frames.h"

#include <atomic>

#include "link/line_taps.h"
#include "params/parameter_set.h"

namespace {

struct CommandQueue {
    uint16_t words[COMMAND_QUEUE_SIZE];
    int32_t head;
    int32_t tail;
};

struct TransmitRing {
    std::atomic<uint8_t> bytes[TRANSMIT_RING_SIZE];
    std::atomic<int32_t> head;
    std::atomic<int32_t> tail;
};

CommandQueue commandQueue{};
TransmitRing transmitRing{};
std::atomic<int> linkOpen{0};
std::atomic<TransmitReadyHook> transmitReadyHook{nullptr};

int nextIndex(int32_t index, int size) { return index + 1 == size ? 0 : index + 1; }

int ringDistance(int32_t head, int32_t tail, int size) { return (head - tail + size) % size; }

}  // namespace

void buildFrame(uint16_t word, uint8_t frame[FRAME_SIZE]) {
    uint8_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        frame[i] = static_cast<uint8_t>(((word >> (12 - 4 * i)) & 0x0F) << 4 | 0x01);
        sum = static_cast<uint8_t>(sum + frame[i]);
    }
    frame[4] = sum;
    frame[5] = 13;
}

int commandQueuePending() {
    return ringDistance(commandQueue.head, commandQueue.tail, COMMAND_QUEUE_SIZE);
}

int commandQueueEmpty() { return commandQueue.head == commandQueue.tail; }

void clearCommandQueue() { commandQueue = CommandQueue{}; }

int queueCommandWord(uint16_t code, uint16_t value) {
    if (commandQueuePending() == COMMAND_QUEUE_SIZE - 1) return 0;
    commandQueue.words[commandQueue.head] = static_cast<uint16_t>(code + value);
    commandQueue.head = nextIndex(commandQueue.head, COMMAND_QUEUE_SIZE);
    return 1;
}

int queueAllParameters() { return queueParameterRecord(deviceParameters); }

int queueParameterRecord(const ParameterSet& record) {
    if (commandQueuePending() + PARAMETER_COUNT > COMMAND_QUEUE_SIZE - 1) return 0;
    for (const ParameterBand& band : PARAMETER_BANDS)
        queueCommandWord(band.code, loadField(record.*band.field));
    return 1;
}

int queueLoadedRecord(const ParameterSet& record) {
    editedParameters = ParameterSet{};
    for (const ParameterBand& band : PARAMETER_BANDS) editedParameters.*band.field = record.*band.field;
    return queueParameterRecord(record);
}

int queueParameterWords(const ParameterWords& words) {
    int taken = 0;
    for (int i = 0; i < words.count; ++i) taken += queueCommandWord(words.codes[i], words.values[i]);
    return taken;
}

int pumpCommandWord() {
    if (commandQueueEmpty()) return 0;
    sendCommandWord(commandQueue.words[commandQueue.tail]);
    commandQueue.tail = nextIndex(commandQueue.tail, COMMAND_QUEUE_SIZE);
    return 1;
}

int sendCommandWord(uint16_t word) {
    uint8_t frame[FRAME_SIZE];
    buildFrame(word, frame);
    return putTransmitBytes(frame, FRAME_SIZE);
}

int sendRequest() { return sendCommandWord(CMD_REQUEST_DATA); }

int transmitRingPending() {
    return ringDistance(transmitRing.head.load(std::memory_order_relaxed),
                        transmitRing.tail.load(std::memory_order_acquire), TRANSMIT_RING_SIZE);
}

int putTransmitBytes(const uint8_t* bytes, int count) {
    if (!linkOpen.load(std::memory_order_acquire)) return 0;
    if (count < 0 || transmitRingPending() + count > TRANSMIT_RING_SIZE - 1) return 0;
    int32_t head = transmitRing.head.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i) {
        transmitRing.bytes[head].store(bytes[i], std::memory_order_relaxed);
        head = nextIndex(head, TRANSMIT_RING_SIZE);
    }
    transmitRing.head.store(head, std::memory_order_release);
    sentTaps.call(bytes, count);
    TransmitReadyHook hook = transmitReadyHook.load(std::memory_order_acquire);
    if (hook != nullptr) hook();
    return 1;
}

int takeTransmitBytes(uint8_t* buffer) {
    int32_t head = transmitRing.head.load(std::memory_order_acquire);
    int32_t tail = transmitRing.tail.load(std::memory_order_relaxed);
    int count = 0;
    while (tail != head) {
        buffer[count++] = transmitRing.bytes[tail].load(std::memory_order_relaxed);
        tail = nextIndex(tail, TRANSMIT_RING_SIZE);
    }
    transmitRing.tail.store(tail, std::memory_order_release);
    return count;
}

void setTransmitLinkOpen(int open) {
    if (open) {
        // No writer runs yet: the window thread may move tail itself.
        transmitRing.tail.store(transmitRing.head.load(std::memory_order_relaxed),
                                std::memory_order_release);
    }
    linkOpen.store(open ? 1 : 0, std::memory_order_release);
}

TapSlots<BytesTap> sentTaps;

void setTransmitReadyHook(TransmitReadyHook hook) {
    transmitReadyHook.store(hook, std::memory_order_release);
}

