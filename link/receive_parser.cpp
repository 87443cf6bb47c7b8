// Reader thread: assembles reply lines up to CR, checks their sum, decodes the
// word and dispatches it by band. Works byte by byte on fixed storage,
// allocates nothing and makes no system call but what its taps make.
#include "link/receive_parser.h"

#include "link/link_config.h"
#include "link/live_state.h"
#include "link/word_meaning.h"
#include "params/parameter_set.h"

namespace {

constexpr uint8_t CR = 13;
constexpr int LINE_LAST = LINE_CAPACITY - 1;

LineAssembly receiveLine{};

void signalReply() { replyTaps.call(); }

void trendStep() {
    int32_t count = liveState.trendDecimationCount.load(std::memory_order_relaxed) + 1;
    if (count >= linkConfig.decimation.load(std::memory_order_relaxed)) {
        count = 0;
        appendTrendSample();
    }
    liveState.trendDecimationCount.store(count, std::memory_order_relaxed);
}

void takeMeasurement(int32_t value, uint16_t limit) {
    if (loadField(deviceParameters.activeLimit) != limit)
        liveState.readoutsChanged.store(1, std::memory_order_relaxed);
    liveState.measurement.store(value, std::memory_order_relaxed);
    storeField(deviceParameters.activeLimit, limit);
    trendStep();
}

void takeAlarm(uint16_t word) {
    uint32_t count = liveState.alarmWordCount.load(std::memory_order_relaxed);
    liveState.alarmWords[count % ALARM_RING_SIZE].store(word, std::memory_order_relaxed);
    // Release: the word is in the ring before the count that covers it.
    liveState.alarmWordCount.store(count + 1, std::memory_order_release);
    if (linkConfig.alarmHold.load(std::memory_order_relaxed) != 0)
        liveState.alarmHoldCount.store(1, std::memory_order_relaxed);
}

// Keeps at most DEVICE_TEXT_MAX characters and the NUL: characters past that
// are dropped until a word of code 3000 restarts the text.
void storeTextCharacter(char byte) {
    int32_t position = liveState.deviceTextLength.load(std::memory_order_relaxed);
    if (position < 0 || position >= DEVICE_TEXT_MAX) {
        if (byte == '\0') storeTextByte(deviceParameters.deviceText[DEVICE_TEXT_MAX], '\0');
        return;
    }
    storeTextByte(deviceParameters.deviceText[position], byte);
    if (position == DEVICE_TEXT_MAX - 1)
        storeTextByte(deviceParameters.deviceText[DEVICE_TEXT_MAX], '\0');
    liveState.deviceTextLength.store(position + 1, std::memory_order_relaxed);
}

void takePeak(std::atomic<int32_t>& peak, int32_t value) {
    peak.store(value, std::memory_order_relaxed);
    liveState.readoutsChanged.store(1, std::memory_order_relaxed);
}

void takeTextCharacter(uint16_t character) {
    char byte = character == CR ? '\0' : static_cast<char>(character & 0xFF);
    storeTextCharacter(byte);
    // The header and the active-limit text change with the text, but only a
    // change of a shown value repaints them: against a steady reading they
    // would keep saying that no device is there.
    if (byte == '\0') liveState.readoutsChanged.store(1, std::memory_order_relaxed);
}

void takeParameter(uint16_t word) {
    const ParameterBand* band = findParameterBand(word);
    uint16_t value = static_cast<uint16_t>(word - band->code);
    if (band->code != CODE_LIMIT1_TYPE) {
        storeField(deviceParameters.*band->field, value);
        return;
    }
    // The last word of a parameter answer: the field is stored and the next
    // text restarted before the waiting thread is woken, so that a waiter
    // that goes on to watch the text sees only the new one.
    liveState.deviceTextLength.store(0, std::memory_order_relaxed);
    storeField(deviceParameters.*band->field, value, std::memory_order_release);
    deviceParametersFilled.store(1, std::memory_order_release);
    signalReply();
}

void processLine(const uint8_t* line) {
    if (!lineChecksumOk(line)) return;
    liveState.linkWatchdog.store(LINK_WATCHDOG_AFTER_LINE, std::memory_order_relaxed);
    dispatchWord(decodeLineValue(line));
}

}  // namespace

void resetReceiveLine() { receiveLine = LineAssembly{}; }

int lineLength(const uint8_t* line) {
    int length = 0;
    while (length < LINE_CAPACITY && line[length] != 0) ++length;
    return length;
}

int lineChecksumOk(const uint8_t* line) {
    int length = lineLength(line);
    if (length == 0) return 0;
    uint8_t sum = 0;
    for (int i = 0; i < length - 1; ++i) sum = static_cast<uint8_t>(sum + line[i]);
    return sum == line[length - 1] ? 1 : 0;
}

uint16_t decodeLineValue(const uint8_t* line) {
    if (lineLength(line) == 5)
        return static_cast<uint16_t>((line[0] & 0xF0) << 8 | (line[1] & 0xF0) << 4 |
                                     (line[2] & 0xF0) | line[3] >> 4);
    return static_cast<uint16_t>((line[0] & 0xF0) | line[1] >> 4);
}

void dispatchWord(uint16_t word) {
    ReplyWordClass of = classifyReplyWord(word);
    switch (of.band) {
    case BAND_MEASUREMENT: return takeMeasurement(of.value, static_cast<uint16_t>(of.limit - 1));
    case BAND_MIN_PEAK: return takePeak(liveState.minPeak, of.value);
    case BAND_MAX_PEAK: return takePeak(liveState.maxPeak, of.value);
    case BAND_PARAMETER: return takeParameter(word);
    case BAND_ALARM: return takeAlarm(word);
    case BAND_TEXT: return takeTextCharacter(static_cast<uint16_t>(of.value));
    case BAND_UNUSED: return;
    }
}

int assembleLineByte(LineAssembly* line, uint8_t byte) {
    if (byte != CR) {
        line->bytes[line->length] = byte;
        if (line->length < LINE_LAST) ++line->length;
        return 0;
    }
    line->bytes[line->length] = 0;
    line->length = 0;
    return 1;
}

TapSlots<BytesTap> receivedTaps;
TapSlots<SignalTap> replyTaps;

void parseReceivedBytes(const uint8_t* bytes, int count) {
    if (count > 0) receivedTaps.call(bytes, count);
    for (int i = 0; i < count; ++i)
        if (assembleLineByte(&receiveLine, bytes[i])) processLine(receiveLine.bytes);
}
