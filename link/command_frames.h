// Everything the program says to the device is one 16-bit command word,
// framed into 6 bytes. Parameter writes are paced through the CommandQueue
// (one word per tick of the command pump); short commands are framed at once.
//
// Threads: the CommandQueue is the window thread's alone. The TransmitRing has
// one producer (the window thread, putTransmitBytes) and one consumer (the
// writer thread, takeTransmitBytes): each writes only its own index, bytes
// are stored before the release store of head that covers them, and taken
// before the release store of tail that frees them.
#pragma once

#include <cstdint>

constexpr uint16_t CMD_REQUEST_DATA = 65050;
constexpr uint16_t CMD_SPACE_KEY = 65051;
constexpr uint16_t CMD_RESET_MAX_PEAK = 65052;
constexpr uint16_t CMD_RESET_MIN_PEAK = 65053;

constexpr int FRAME_SIZE = 6;
// The command pump's period: it sends one queued word per tick.
constexpr int COMMAND_TICK_MS = 47;
constexpr int COMMAND_QUEUE_SIZE = 32;
constexpr int TRANSMIT_RING_SIZE = 32;
constexpr int TRANSMIT_CHUNK_SIZE = 32;  // the writer's buffer for takeTransmitBytes

void buildFrame(uint16_t word, uint8_t frame[FRAME_SIZE]);

// Stores (code + value) modulo 65536. Returns 1, or 0 when the queue already
// holds its 31 words: the word is refused and the queue stays as it was.
int queueCommandWord(uint16_t code, uint16_t value);

// Queues the sixteen parameter words of deviceParameters in code order.
// Returns 1, or 0 when they do not all fit: then nothing is queued.
int queueAllParameters();

// The same for the sixteen values of record: a loaded file is queued from its
// own record, which the reader thread cannot change under the queueing.
struct ParameterSet;
int queueParameterRecord(const ParameterSet& record);

// A loaded parameter file: its sixteen values become the expected values
// (editedParameters) and go out in code order from the record itself, not
// from deviceParameters, which the reader thread may be changing again.
// Returns queueParameterRecord's result.
int queueLoadedRecord(const ParameterSet& record);

// Queues the words the sheet or a comparison handed back, in their order.
// Returns the number the queue took.
struct ParameterWords;
int queueParameterWords(const ParameterWords& words);

int commandQueueEmpty();
int commandQueuePending();
void clearCommandQueue();

// The command pump's step: frames and sends the word at tail, if any.
// Returns 1 when a word was taken, 0 when the queue was empty.
int pumpCommandWord();

// Frames the word into the TransmitRing. Returns 1 when the frame was stored,
// 0 when it was dropped (no link open, or no room for the whole frame).
int sendCommandWord(uint16_t word);
int sendRequest();

// Stores count bytes whole or not at all. Dropped while no link is open, so
// that no frame waits to reach a device connected later. On success the
// sentTaps (line_taps.h) see the bytes and the transmit-ready hook is
// called. Returns 1 when stored, 0 when dropped.
int putTransmitBytes(const uint8_t* bytes, int count);

// Writer thread: moves every pending byte into buffer (TRANSMIT_CHUNK_SIZE
// bytes); returns the count, 0 when the ring is empty.
int takeTransmitBytes(uint8_t* buffer);

int transmitRingPending();

// The link tells the ring whether a writer is there to drain it. Opening
// discards whatever an earlier link left unsent.
void setTransmitLinkOpen(int open);

// The open link's own wake-up for its writer: one per process, as the link
// is, and set only by the link's open and close.
using TransmitReadyHook = void (*)();
void setTransmitReadyHook(TransmitReadyHook hook);
