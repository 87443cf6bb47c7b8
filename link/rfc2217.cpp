#include "link/rfc2217.h"

#include <cstring>

int escapeTelnetData(const uint8_t* in, int count, uint8_t* out) {
    int written = 0;
    for (int i = 0; i < count; ++i) {
        out[written++] = in[i];
        if (in[i] == TELNET_IAC) out[written++] = TELNET_IAC;
    }
    return written;
}

// ---- Decoder ----

// After an IAC: a doubled IAC is a data byte, a verb waits for its option,
// SB opens a subnegotiation, anything else is a command of its own.
bool TelnetDecoder::takeAfterIac(uint8_t byte, uint8_t* data, int* out, TelnetSink& sink) {
    switch (byte) {
    case TELNET_IAC:
        data[(*out)++] = TELNET_IAC;
        state_ = DATA;
        return true;
    case TELNET_WILL:
    case TELNET_WONT:
    case TELNET_DO:
    case TELNET_DONT:
        verb_ = byte;
        state_ = AFTER_VERB;
        return true;
    case TELNET_SB:
        state_ = SB_OPTION;
        return true;
    default:
        state_ = DATA;
        sink.command(byte);
        return true;
    }
}

// Inside IAC SB option ... IAC SE; the byte after such an IAC. An IAC
// followed by anything but IAC or SE ends a subnegotiation that its sender
// left open (RFC 854 gives no other reading), and that byte is then taken
// as the code after an IAC.
bool TelnetDecoder::takeInSubnegotiation(uint8_t byte, uint8_t* data, int* out, TelnetSink& sink) {
    if (byte == TELNET_IAC) {
        if (payloadLength_ < TELNET_PAYLOAD_MAX) payload_[payloadLength_++] = byte;
        state_ = SB_PAYLOAD;
        return true;
    }
    sink.subnegotiation(option_, payload_, payloadLength_);
    state_ = DATA;
    if (byte == TELNET_SE) return true;
    return takeAfterIac(byte, data, out, sink);
}

int TelnetDecoder::decode(const uint8_t* in, int count, uint8_t* data, TelnetSink& sink) {
    int out = 0;
    for (int i = 0; i < count; ++i) {
        uint8_t byte = in[i];
        switch (state_) {
        case DATA:
            if (byte == TELNET_IAC)
                state_ = AFTER_IAC;
            else
                data[out++] = byte;
            break;
        case AFTER_IAC:
            takeAfterIac(byte, data, &out, sink);
            break;
        case AFTER_VERB:
            state_ = DATA;
            sink.negotiation(verb_, byte);
            break;
        case SB_OPTION:
            option_ = byte;
            payloadLength_ = 0;
            state_ = SB_PAYLOAD;
            break;
        case SB_PAYLOAD:
            if (byte == TELNET_IAC)
                state_ = SB_AFTER_IAC;
            else if (payloadLength_ < TELNET_PAYLOAD_MAX)
                payload_[payloadLength_++] = byte;
            break;
        case SB_AFTER_IAC:
            takeInSubnegotiation(byte, data, &out, sink);
            break;
        }
    }
    return out;
}

void TelnetReply::put(const uint8_t* part, int count) {
    if (length + count > static_cast<int>(sizeof bytes)) {
        full = true;
        return;
    }
    std::memcpy(bytes + length, part, static_cast<size_t>(count));
    length += count;
}

// ---- Client ----

int Rfc2217Client::slotOf(uint8_t option) {
    switch (option) {
    case OPTION_BINARY: return BINARY_SLOT;
    case OPTION_SUPPRESS_GO_AHEAD: return SGA_SLOT;
    case OPTION_COM_PORT: return COM_PORT_SLOT;
    default: return -1;
    }
}

void Rfc2217Client::send(uint8_t verb, uint8_t option) {
    const uint8_t bytes[3] = {TELNET_IAC, verb, option};
    reply_->put(bytes, 3);
}

void Rfc2217Client::start(int baudRate, TelnetReply* reply) {
    *this = Rfc2217Client{};
    baudRate_ = baudRate;
    reply_ = reply;
    us_[BINARY_SLOT].requested = true;
    send(TELNET_WILL, OPTION_BINARY);
    him_[BINARY_SLOT].requested = true;
    send(TELNET_DO, OPTION_BINARY);
    him_[SGA_SLOT].requested = true;
    send(TELNET_DO, OPTION_SUPPRESS_GO_AHEAD);
    us_[COM_PORT_SLOT].requested = true;
    send(TELNET_WILL, OPTION_COM_PORT);
    reply_ = nullptr;
}

int Rfc2217Client::receive(const uint8_t* in, int count, uint8_t* data, TelnetReply* reply) {
    reply_ = reply;
    int got = decoder_.decode(in, count, data, *this);
    reply_ = nullptr;
    return got;
}

void Rfc2217Client::negotiation(uint8_t verb, uint8_t option) {
    if (verb == TELNET_WILL || verb == TELNET_WONT)
        serverWill(option, verb == TELNET_WILL);
    else
        serverDo(option, verb == TELNET_DO);
}

// The server offers (WILL) or refuses (WONT) to do an option. We want it to
// send binary and suppress go-ahead; echo and anything else are declined.
void Rfc2217Client::serverWill(uint8_t option, bool will) {
    int slot = slotOf(option);
    bool wanted = slot == BINARY_SLOT || slot == SGA_SLOT;
    if (!wanted) {
        if (will) send(TELNET_DONT, option);
        return;
    }
    OptionState& state = him_[slot];
    if (will) {
        if (state.enabled) return;
        if (!state.requested) send(TELNET_DO, option);
        state = OptionState{true, false};
        return;
    }
    bool wasEnabled = state.enabled;
    state = OptionState{};
    if (wasEnabled) send(TELNET_DONT, option);
}

// The server asks us to do (DO) or not to do (DONT) an option. Binary,
// suppress-go-ahead and the COM port option are ours to give.
void Rfc2217Client::serverDo(uint8_t option, bool doIt) {
    int slot = slotOf(option);
    if (slot < 0) {
        if (doIt) send(TELNET_WONT, option);
        return;
    }
    OptionState& state = us_[slot];
    if (doIt) {
        if (state.enabled) return;
        if (!state.requested) send(TELNET_WILL, option);
        state = OptionState{true, false};
        if (slot == COM_PORT_SLOT) sendLineSettings();
        return;
    }
    bool wasEnabled = state.enabled;
    state = OptionState{};
    if (wasEnabled) send(TELNET_WONT, option);
}

void Rfc2217Client::sendComPort(uint8_t command, const uint8_t* value, int length) {
    uint8_t frame[4 + 2 * 4 + 2] = {TELNET_IAC, TELNET_SB, OPTION_COM_PORT, command};
    int size = 4 + escapeTelnetData(value, length, frame + 4);
    frame[size++] = TELNET_IAC;
    frame[size++] = TELNET_SE;
    reply_->put(frame, size);
}

// 8N1 at the link's rate, no flow control: what the link sets on a COM port.
void Rfc2217Client::sendLineSettings() {
    uint32_t rate = static_cast<uint32_t>(baudRate_);
    const uint8_t baud[4] = {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                             static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)};
    sendComPort(COM_SET_BAUDRATE, baud, 4);
    const uint8_t dataSize = 8;
    sendComPort(COM_SET_DATASIZE, &dataSize, 1);
    sendComPort(COM_SET_PARITY, &COM_PARITY_NONE, 1);
    sendComPort(COM_SET_STOPSIZE, &COM_STOPSIZE_ONE, 1);
    sendComPort(COM_SET_CONTROL, &COM_CONTROL_NO_FLOW, 1);
}

// The server's answers to the settings are noted, never awaited; its
// notifications (line and modem state, flow control) change nothing for a
// device that has no modem lines and no flow control.
void Rfc2217Client::subnegotiation(uint8_t option, const uint8_t* payload, int length) {
    if (option != OPTION_COM_PORT || length < 1) return;
    if (payload[0] == COM_SET_BAUDRATE + COM_PORT_SERVER_OFFSET && length == 5)
        confirmedBaudRate_ = static_cast<uint32_t>(payload[1]) << 24 | static_cast<uint32_t>(payload[2]) << 16 |
                             static_cast<uint32_t>(payload[3]) << 8 | payload[4];
}

// ---- Server ----

void Rfc2217Server::start(int baudRate) {
    *this = Rfc2217Server{};
    baudRate_ = baudRate;
}

int Rfc2217Server::slotOf(uint8_t option) {
    switch (option) {
    case OPTION_BINARY: return BINARY_SLOT;
    case OPTION_SUPPRESS_GO_AHEAD: return SGA_SLOT;
    case OPTION_COM_PORT: return COM_PORT_SLOT;
    default: return -1;
    }
}

int Rfc2217Server::receive(const uint8_t* in, int count, uint8_t* data, TelnetReply* reply) {
    reply_ = reply;
    int got = decoder_.decode(in, count, data, *this);
    reply_ = nullptr;
    return got;
}

// Answers only a change of state, so that two sides that both answer
// every request cannot loop (RFC 1143).
void Rfc2217Server::answerOption(OptionState& state, bool wanted, bool asked, uint8_t yes, uint8_t no,
                                 uint8_t option) {
    bool enable = wanted && asked;
    if (state.enabled == enable && (asked == enable)) return;
    state.enabled = enable;
    const uint8_t bytes[3] = {TELNET_IAC, enable ? yes : no, option};
    reply_->put(bytes, 3);
}

// The client offers (WILL) to do an option, or asks us to (DO).
void Rfc2217Server::negotiation(uint8_t verb, uint8_t option) {
    int slot = slotOf(option);
    bool asked = verb == TELNET_WILL || verb == TELNET_DO;
    if (slot < 0) {
        OptionState refused;
        if (asked) answerOption(refused, false, true, 0, verb == TELNET_WILL ? TELNET_DONT : TELNET_WONT, option);
        return;
    }
    // Some clients (pyserial) ask for the COM port option both ways; it is
    // taken both ways.
    if (verb == TELNET_WILL || verb == TELNET_WONT)
        answerOption(him_[slot], true, asked, TELNET_DO, TELNET_DONT, option);
    else
        answerOption(us_[slot], true, asked, TELNET_WILL, TELNET_WONT, option);
}

// Values are at most 16 bytes (the longest, the signature, is ours).
void Rfc2217Server::sendComPort(uint8_t command, const uint8_t* value, int length) {
    constexpr int MOST = 16;
    uint8_t frame[4 + 2 * MOST + 2] = {TELNET_IAC, TELNET_SB, OPTION_COM_PORT,
                                       static_cast<uint8_t>(command + COM_PORT_SERVER_OFFSET)};
    if (length > MOST) length = MOST;
    int size = 4 + escapeTelnetData(value, length, frame + 4);
    frame[size++] = TELNET_IAC;
    frame[size++] = TELNET_SE;
    reply_->put(frame, size);
}

// SET-CONTROL's values (RFC 2217): the questions and what the line has.
namespace {
constexpr uint8_t CONTROL_ASK_FLOW = 0, CONTROL_NO_FLOW = 1, CONTROL_ASK_BREAK = 4, CONTROL_BREAK_ON = 5,
                  CONTROL_BREAK_OFF = 6, CONTROL_ASK_DTR = 7, CONTROL_DTR_ON = 8, CONTROL_DTR_OFF = 9,
                  CONTROL_ASK_RTS = 10, CONTROL_RTS_ON = 11, CONTROL_RTS_OFF = 12;

uint8_t controlAnswer(uint8_t asked) {
    switch (asked) {
    case CONTROL_ASK_BREAK: case CONTROL_BREAK_ON: case CONTROL_BREAK_OFF: return CONTROL_BREAK_OFF;
    case CONTROL_ASK_DTR: case CONTROL_DTR_ON: case CONTROL_DTR_OFF: return CONTROL_DTR_ON;
    case CONTROL_ASK_RTS: case CONTROL_RTS_ON: case CONTROL_RTS_OFF: return CONTROL_RTS_ON;
    default: return CONTROL_NO_FLOW;  // the flow control settings, CONTROL_ASK_FLOW among them
    }
}
}  // namespace

// Every setting is answered with the line's real one, whatever was asked;
// the masks and the purge are acknowledged as asked (they change nothing
// here); the client's signature and flow control notices need no answer.
void Rfc2217Server::answerComPort(uint8_t command, const uint8_t* value, int length) {
    uint32_t rate = static_cast<uint32_t>(baudRate_);
    const uint8_t baud[4] = {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                             static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)};
    const uint8_t eight = 8;
    switch (command) {
    case COM_SIGNATURE:
        if (length == 0) sendComPort(COM_SIGNATURE, reinterpret_cast<const uint8_t*>("elq770ctl"), 9);
        return;
    case COM_SET_BAUDRATE: sendComPort(command, baud, 4); return;
    case COM_SET_DATASIZE: sendComPort(command, &eight, 1); return;
    case COM_SET_PARITY: sendComPort(command, &COM_PARITY_NONE, 1); return;
    case COM_SET_STOPSIZE: sendComPort(command, &COM_STOPSIZE_ONE, 1); return;
    case COM_SET_CONTROL: {
        uint8_t answer = controlAnswer(length >= 1 ? value[0] : CONTROL_ASK_FLOW);
        sendComPort(command, &answer, 1);
        return;
    }
    case COM_SET_LINESTATE_MASK: case COM_SET_MODEMSTATE_MASK: case COM_PURGE_DATA:
        if (length >= 1) sendComPort(command, value, 1);
        return;
    default: return;
    }
}

void Rfc2217Server::subnegotiation(uint8_t option, const uint8_t* payload, int length) {
    if (option != OPTION_COM_PORT || length < 1) return;
    answerComPort(payload[0], payload + 1, length - 1);
}
