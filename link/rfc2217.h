// Telnet with the COM Port Control Option (RFC 854, RFC 1143's rules for
// answering, RFC 2217), the protocol of a serial port served over TCP: the
// option numbers, IAC doubling and undoubling, a decoder that splits what
// arrives into data, negotiation, commands and subnegotiations, and the
// client's side of the negotiation. Portable, no I/O: the link's transports
// (link/net_*.cpp) move the bytes; a server can reuse the decoder and the
// constants with a TelnetSink of its own.
//
// Threads: a TelnetDecoder and an Rfc2217Client belong to one thread (the
// link's reader), except Rfc2217Client::start, which the opening thread
// calls before that thread starts.
#pragma once

#include <cstdint>

constexpr uint8_t TELNET_IAC = 255;
constexpr uint8_t TELNET_DONT = 254;
constexpr uint8_t TELNET_DO = 253;
constexpr uint8_t TELNET_WONT = 252;
constexpr uint8_t TELNET_WILL = 251;
constexpr uint8_t TELNET_SB = 250;
constexpr uint8_t TELNET_SE = 240;

constexpr uint8_t OPTION_BINARY = 0;
constexpr uint8_t OPTION_ECHO = 1;
constexpr uint8_t OPTION_SUPPRESS_GO_AHEAD = 3;
constexpr uint8_t OPTION_COM_PORT = 44;

// COM Port Control Option commands from the client; the server answers
// with the same command plus COM_PORT_SERVER_OFFSET.
enum ComPortCommand : uint8_t {
    COM_SIGNATURE = 0,
    COM_SET_BAUDRATE = 1,
    COM_SET_DATASIZE = 2,
    COM_SET_PARITY = 3,
    COM_SET_STOPSIZE = 4,
    COM_SET_CONTROL = 5,
    COM_NOTIFY_LINESTATE = 6,
    COM_NOTIFY_MODEMSTATE = 7,
    COM_FLOWCONTROL_SUSPEND = 8,
    COM_FLOWCONTROL_RESUME = 9,
    COM_SET_LINESTATE_MASK = 10,
    COM_SET_MODEMSTATE_MASK = 11,
    COM_PURGE_DATA = 12,
};
constexpr uint8_t COM_PORT_SERVER_OFFSET = 100;
constexpr uint8_t COM_PARITY_NONE = 1;
constexpr uint8_t COM_STOPSIZE_ONE = 1;
constexpr uint8_t COM_CONTROL_NO_FLOW = 1;

// Longest subnegotiation payload kept; the rest of a longer one is dropped
// (the COM Port Control Option's longest is a signature text).
constexpr int TELNET_PAYLOAD_MAX = 64;

// Copies count data bytes into out with every 0xFF doubled, so that the
// peer reads them as data; out holds at least 2 * count bytes. The count
// written.
int escapeTelnetData(const uint8_t* in, int count, uint8_t* out);

// What the decoder found beside data. Option and payload as received, IAC
// undoubled.
class TelnetSink {
public:
    virtual ~TelnetSink() = default;
    // WILL, WONT, DO or DONT with its option.
    virtual void negotiation(uint8_t verb, uint8_t option) = 0;
    // IAC SB option payload IAC SE; truncated to TELNET_PAYLOAD_MAX.
    virtual void subnegotiation(uint8_t option, const uint8_t* payload, int length) = 0;
    // Any other IAC command (NOP, AYT, BREAK, an unknown code).
    virtual void command(uint8_t code) { (void)code; }
};

class TelnetDecoder {
public:
    // Decodes count received bytes: the data bytes go to data (at most
    // count of them; data may be in), the rest to sink. The data count.
    // Cuts at any point, inside IAC sequences included, are carried over to
    // the next call.
    int decode(const uint8_t* in, int count, uint8_t* data, TelnetSink& sink);

private:
    enum State : uint8_t { DATA, AFTER_IAC, AFTER_VERB, SB_OPTION, SB_PAYLOAD, SB_AFTER_IAC };
    bool takeAfterIac(uint8_t byte, uint8_t* data, int* out, TelnetSink& sink);
    bool takeInSubnegotiation(uint8_t byte, uint8_t* data, int* out, TelnetSink& sink);
    State state_ = DATA;
    uint8_t verb_ = 0;
    uint8_t option_ = 0;
    uint8_t payload_[TELNET_PAYLOAD_MAX];
    int payloadLength_ = 0;
};

// Bytes to send, gathered while decoding; full means some were left out.
struct TelnetReply {
    uint8_t bytes[256];
    int length = 0;
    bool full = false;
    void put(const uint8_t* part, int count);
};

// The client's side: asks for binary in both directions, suppress-go-ahead
// and the COM Port Control Option; once the server takes that option, sets
// the line to the link's 8N1 at the given rate with no flow control. It
// answers every negotiation once and never loops: an option it does not
// know is refused, one the server refuses is left off (the bytes still
// flow), and it never waits for the server's answer to a setting (a server
// on a port without modem lines never sends the one to SET-CONTROL).
class Rfc2217Client : private TelnetSink {
public:
    // Starts afresh for a new connection; the opening requests into *reply.
    void start(int baudRate, TelnetReply* reply);

    // Decodes received bytes: data into data (at most count bytes),
    // answers into *reply. The data count.
    int receive(const uint8_t* in, int count, uint8_t* data, TelnetReply* reply);

    // What the server has said so far.
    bool comPortAccepted() const { return us_[COM_PORT_SLOT].enabled; }
    uint32_t confirmedBaudRate() const { return confirmedBaudRate_; }

private:
    // RFC 1143's view of one option on one side, without its queue: a
    // request is not repeated while one is outstanding.
    struct OptionState {
        bool enabled = false;
        bool requested = false;
    };
    enum Slot { BINARY_SLOT, SGA_SLOT, COM_PORT_SLOT, SLOTS };
    static int slotOf(uint8_t option);
    void negotiation(uint8_t verb, uint8_t option) override;
    void subnegotiation(uint8_t option, const uint8_t* payload, int length) override;
    void serverWill(uint8_t option, bool will);
    void serverDo(uint8_t option, bool doIt);
    void send(uint8_t verb, uint8_t option);
    void sendLineSettings();
    void sendComPort(uint8_t command, const uint8_t* value, int length);

    TelnetDecoder decoder_;
    OptionState us_[SLOTS];   // what we do (WILL): binary, COM port
    OptionState him_[SLOTS];  // what the server does (DO): binary, SGA
    int baudRate_ = 9600;
    uint32_t confirmedBaudRate_ = 0;
    TelnetReply* reply_ = nullptr;  // during start and receive only
};

// The server's side, for a line served to one client (elq770ctl publish
// --share): it takes binary, suppress-go-ahead and the COM Port Control
// Option when the client asks, refuses the rest, and answers every COM
// port request with the line as it really is (rate, 8N1, no flow control,
// DTR and RTS on, no break): the served line is the device's, which no
// client changes. A client asking for another setting reads the real one
// in the answer. Like the client it answers each negotiation once.
//
// Threads: one thread (the share's) owns a server.
class Rfc2217Server : private TelnetSink {
public:
    // Starts afresh for a new client; nothing to send first (the client
    // opens the negotiation).
    void start(int baudRate);

    // Decodes what the client sent: data into data (at most count bytes),
    // answers into *reply. The data count.
    int receive(const uint8_t* in, int count, uint8_t* data, TelnetReply* reply);

    bool comPortAccepted() const { return him_[COM_PORT_SLOT].enabled; }

private:
    struct OptionState {
        bool enabled = false;
    };
    enum Slot { BINARY_SLOT, SGA_SLOT, COM_PORT_SLOT, SLOTS };
    static int slotOf(uint8_t option);
    void negotiation(uint8_t verb, uint8_t option) override;
    void subnegotiation(uint8_t option, const uint8_t* payload, int length) override;
    void answerOption(OptionState& state, bool wanted, bool asked, uint8_t yes, uint8_t no, uint8_t option);
    void answerComPort(uint8_t command, const uint8_t* value, int length);
    void sendComPort(uint8_t command, const uint8_t* value, int length);

    TelnetDecoder decoder_;
    OptionState us_[SLOTS];   // what we do (WILL)
    OptionState him_[SLOTS];  // what the client does (DO)
    int baudRate_ = 9600;
    TelnetReply* reply_ = nullptr;  // during receive only
};
