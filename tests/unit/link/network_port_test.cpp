// Port names and the Telnet COM Port Control codec: what a user may type,
// and what the link does with a server's bytes, a well-behaved one's and a
// strange one's.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/net_line.h"
#include "link/port_name.h"
#include "link/rfc2217.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string problemOf(const std::string& text) {
    PortName port;
    std::string problem;
    return parsePortName(text, &port, &problem) ? "" : problem;
}

PortName parsed(const std::string& text) {
    PortName port;
    std::string problem;
    EXPECT_EQ(parsePortName(text, &port, &problem), 1) << text << ": " << problem;
    return port;
}

// A client that has sent its opening requests, fed with what a server says.
struct ClientRun {
    Rfc2217Client client;
    Bytes sent;
    Bytes data;

    ClientRun() {
        TelnetReply reply;
        client.start(9600, &reply);
        sent.assign(reply.bytes, reply.bytes + reply.length);
    }
    // Feeds bytes split at every position `step` apart; returns the answers.
    Bytes feed(const Bytes& in, size_t step = 1024) {
        Bytes answers;
        for (size_t at = 0; at < in.size(); at += step) {
            int count = static_cast<int>(std::min(step, in.size() - at));
            uint8_t out[1024];
            TelnetReply reply;
            int got = client.receive(in.data() + at, count, out, &reply);
            data.insert(data.end(), out, out + got);
            answers.insert(answers.end(), reply.bytes, reply.bytes + reply.length);
        }
        return answers;
    }
};

Bytes comPortFrame(uint8_t command, Bytes value) {
    Bytes frame{TELNET_IAC, TELNET_SB, OPTION_COM_PORT, command};
    frame.insert(frame.end(), value.begin(), value.end());
    frame.push_back(TELNET_IAC);
    frame.push_back(TELNET_SE);
    return frame;
}

const Bytes LINE_SETTINGS = [] {
    Bytes all;
    for (const Bytes& part : {comPortFrame(COM_SET_BAUDRATE, {0, 0, 0x25, 0x80}), comPortFrame(COM_SET_DATASIZE, {8}),
                              comPortFrame(COM_SET_PARITY, {1}), comPortFrame(COM_SET_STOPSIZE, {1}),
                              comPortFrame(COM_SET_CONTROL, {1})})
        all.insert(all.end(), part.begin(), part.end());
    return all;
}();

}  // namespace

TEST(PortNames, SerialNamesPassAsGiven) {
    EXPECT_EQ(parsed("COM12").kind, PORT_SERIAL);
    EXPECT_EQ(parsed("COM12").device, "COM12");
    EXPECT_EQ(parsed("/dev/serial/by-id/usb-x:y").device, "/dev/serial/by-id/usb-x:y");
}

TEST(PortNames, NetworkNamesGiveHostAndPort) {
    PortName telnet = parsed("rfc2217://gateway.plant:2217");
    EXPECT_EQ(telnet.kind, PORT_RFC2217);
    EXPECT_EQ(telnet.host, "gateway.plant");
    EXPECT_EQ(telnet.tcpPort, 2217);
    PortName raw = parsed("SOCKET://[::1]:65535");
    EXPECT_EQ(raw.kind, PORT_SOCKET);
    EXPECT_EQ(raw.host, "::1");
    EXPECT_EQ(raw.tcpPort, 65535);
    EXPECT_EQ(isNetworkPortName("socket://h:1"), 1);
    EXPECT_EQ(isNetworkPortName("COM3"), 0);
}

TEST(PortNames, MalformedNamesSayWhatIsWrong) {
    EXPECT_EQ(problemOf(""), "the port name is empty");
    EXPECT_NE(problemOf("tcp://h:1").find("unknown scheme 'tcp://'"), std::string::npos);
    EXPECT_EQ(problemOf("rfc2217://:2217"), "no host before ':PORT'");
    EXPECT_EQ(problemOf("rfc2217://host"), "no ':PORT' after the host");
    EXPECT_NE(problemOf("rfc2217://host:0").find("not a number from 1 to 65535"), std::string::npos);
    EXPECT_NE(problemOf("rfc2217://host:65536").find("not a number from 1 to 65535"), std::string::npos);
    EXPECT_NE(problemOf("rfc2217://host:22x").find("'22x'"), std::string::npos);
    EXPECT_NE(problemOf("rfc2217://host:2217?ign_set_control").find("'?ign_set_control'"), std::string::npos);
    EXPECT_NE(problemOf("socket://::1:80").find("brackets"), std::string::npos);
    EXPECT_NE(problemOf("socket://[::1:80").find("']'"), std::string::npos);
    EXPECT_NE(problemOf("COM3\n").find("control character"), std::string::npos);
    EXPECT_NE(problemOf(std::string(256, 'x')).find("longer than 255"), std::string::npos);
}

TEST(PortNames, ComPortsSortByNumberBeforeOtherNames) {
    EXPECT_EQ(comPortNumber("com12"), 12);
    EXPECT_EQ(comPortNumber("\\\\.\\COM3"), 3);
    EXPECT_EQ(comPortNumber("COM03"), 0);
    EXPECT_EQ(comPortNumber("COM"), 0);
    EXPECT_EQ(comPortNumber("COM1x"), 0);
    std::vector<std::string> names{"COM10", "rfc2217://h:1", "COM2", "COM1", "CNCA0"};
    sortPortNames(&names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM10", "CNCA0", "rfc2217://h:1"}));
}

TEST(TelnetData, IacIsDoubledOutAndUndoubledIn) {
    const Bytes data{0x01, 0xFF, 0xFF, 0x0D};
    uint8_t wire[8];
    int size = escapeTelnetData(data.data(), 4, wire);
    EXPECT_EQ(Bytes(wire, wire + size), (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x0D}));
    ClientRun run;
    EXPECT_TRUE(run.feed(Bytes(wire, wire + size), 1).empty());
    EXPECT_EQ(run.data, data) << "cut after every byte, the data come out whole";
}

TEST(Rfc2217Client, AsksForBinaryAndTheComPortOption) {
    ClientRun run;
    EXPECT_EQ(run.sent, (Bytes{TELNET_IAC, TELNET_WILL, OPTION_BINARY, TELNET_IAC, TELNET_DO, OPTION_BINARY,
                               TELNET_IAC, TELNET_DO, OPTION_SUPPRESS_GO_AHEAD, TELNET_IAC, TELNET_WILL,
                               OPTION_COM_PORT}));
}

TEST(Rfc2217Client, SetsTheLineOnceTheServerTakesTheOption) {
    ClientRun run;
    EXPECT_EQ(run.feed({TELNET_IAC, TELNET_DO, OPTION_COM_PORT}), LINE_SETTINGS);
    EXPECT_TRUE(run.client.comPortAccepted());
    EXPECT_TRUE(run.feed({TELNET_IAC, TELNET_DO, OPTION_COM_PORT}).empty()) << "a repeated DO is not answered";
    // The server's confirmations are noted; none is waited for (the one to
    // SET-CONTROL never comes from a server on a pseudo-terminal).
    run.feed(comPortFrame(COM_SET_BAUDRATE + COM_PORT_SERVER_OFFSET, {0, 0, 0x25, 0x80}), 1);
    EXPECT_EQ(run.client.confirmedBaudRate(), 9600u);
}

TEST(Rfc2217Client, AnswersEveryOfferOnceAndNeverLoops) {
    ClientRun run;
    // Agreed to what it asked for: no answer. Echo and an unknown option
    // offered: refused. An unknown option asked for: refused.
    EXPECT_TRUE(run.feed({TELNET_IAC, TELNET_WILL, OPTION_BINARY, TELNET_IAC, TELNET_DO, OPTION_BINARY}).empty());
    EXPECT_EQ(run.feed({TELNET_IAC, TELNET_WILL, OPTION_ECHO, TELNET_IAC, TELNET_DO, 24}),
              (Bytes{TELNET_IAC, TELNET_DONT, OPTION_ECHO, TELNET_IAC, TELNET_WONT, 24}));
    // Binary taken back by the server: acknowledged once; again: silence.
    EXPECT_EQ(run.feed({TELNET_IAC, TELNET_WONT, OPTION_BINARY}), (Bytes{TELNET_IAC, TELNET_DONT, OPTION_BINARY}));
    EXPECT_TRUE(run.feed({TELNET_IAC, TELNET_WONT, OPTION_BINARY}).empty());
}

TEST(Rfc2217Client, ToleratesARefusedComPortOption) {
    ClientRun run;
    EXPECT_TRUE(run.feed({TELNET_IAC, TELNET_DONT, OPTION_COM_PORT, TELNET_IAC, TELNET_WONT,
                          OPTION_SUPPRESS_GO_AHEAD, 'O', 'K'}).empty());
    EXPECT_FALSE(run.client.comPortAccepted());
    EXPECT_EQ(run.data, (Bytes{'O', 'K'})) << "the bytes still flow";
}

TEST(Rfc2217Client, SkipsCommandsItDoesNotKnow) {
    ClientRun run;
    // NOP, AYT, an undefined code, a subnegotiation of an unknown option
    // with a doubled IAC in it, a notification, and a subnegotiation that
    // its sender leaves open with a command: only the data remain.
    Bytes in{'a', TELNET_IAC, 241, 'b', TELNET_IAC, 246, TELNET_IAC, 17, 'c',
             TELNET_IAC, TELNET_SB, 99, 1, TELNET_IAC, TELNET_IAC, 2, TELNET_IAC, TELNET_SE, 'd'};
    Bytes notify = comPortFrame(COM_NOTIFY_MODEMSTATE + COM_PORT_SERVER_OFFSET, {0xFF, 0xFF});
    in.insert(in.end(), notify.begin(), notify.end());
    in.insert(in.end(), {TELNET_IAC, TELNET_SB, OPTION_COM_PORT, 1, 2, TELNET_IAC, 241, 'e'});
    for (size_t step : {size_t{1}, size_t{3}, in.size()}) {
        ClientRun cut;
        EXPECT_TRUE(cut.feed(in, step).empty());
        EXPECT_EQ(cut.data, (Bytes{'a', 'b', 'c', 'd', 'e'})) << "cut every " << step;
    }
}

TEST(Rfc2217Client, KeepsTheStartOfAnOverlongSubnegotiationOnly) {
    ClientRun run;
    Bytes in{TELNET_IAC, TELNET_SB, OPTION_COM_PORT};
    in.insert(in.end(), 1000, 'x');
    in.insert(in.end(), {TELNET_IAC, TELNET_SE, 'z'});
    run.feed(in);
    EXPECT_EQ(run.data, Bytes{'z'});
}

TEST(NetLineAnswers, GoToTheWriterWholeAndBeforeData) {
    NetLine line;
    line.start(PORT_RFC2217, 9600);
    uint8_t out[2048];
    EXPECT_EQ(line.takeControl(out, sizeof out), 12) << "the opening requests wait for the writer";
    const uint8_t doComPort[] = {TELNET_IAC, TELNET_DO, OPTION_COM_PORT, 0xFF, 0xFF, 'x'};
    uint8_t data[8];
    bool answered = false;
    EXPECT_EQ(line.decode(doComPort, 6, data, &answered), 2);
    EXPECT_TRUE(answered);
    EXPECT_EQ(Bytes(out, out + line.takeControl(out, sizeof out)), LINE_SETTINGS);
    const uint8_t frame[] = {0xFF, 0x0D};
    EXPECT_EQ(line.encode(frame, 2, out), 3);
    NetLine raw;
    raw.start(PORT_SOCKET, 9600);
    EXPECT_EQ(raw.takeControl(out, sizeof out), 0);
    EXPECT_EQ(raw.encode(frame, 2, out), 2) << "socket:// sends the bytes as they are";
    EXPECT_EQ(raw.decode(doComPort, 6, data, &answered), 6);
}

// The share's server against our own client: the negotiation ends (no
// loop) with the COM port option taken and the line's real rate confirmed.
TEST(Rfc2217Server, OurClientNegotiatesWithItToTheEnd) {
    ClientRun run;
    Rfc2217Server server;
    server.start(9600);
    Bytes toServer = run.sent;
    int rounds = 0;
    for (; !toServer.empty() && rounds < 10; ++rounds) {
        uint8_t data[1024];
        TelnetReply reply;
        EXPECT_EQ(0, server.receive(toServer.data(), static_cast<int>(toServer.size()), data, &reply));
        toServer = run.feed(Bytes(reply.bytes, reply.bytes + reply.length));
    }
    EXPECT_LT(rounds, 10) << "the two sides kept answering each other";
    EXPECT_TRUE(run.client.comPortAccepted());
    EXPECT_TRUE(server.comPortAccepted());
    EXPECT_EQ(run.client.confirmedBaudRate(), 9600u);
}

// Whatever a client asks, the answer is the line as it is; 0xFF in its data
// arrives once.
TEST(Rfc2217Server, AnswersWithTheLinesRealSettings) {
    Rfc2217Server server;
    server.start(9600);
    Bytes asked = comPortFrame(COM_SET_BAUDRATE, {0, 0, 0x4B, 0x00});  // 19200
    for (const Bytes& part : {comPortFrame(COM_SET_PARITY, {2}), comPortFrame(COM_SET_CONTROL, {9}),
                              Bytes{'a', TELNET_IAC, TELNET_IAC, 'b'}})
        asked.insert(asked.end(), part.begin(), part.end());
    uint8_t data[64];
    TelnetReply reply;
    ASSERT_EQ(3, server.receive(asked.data(), static_cast<int>(asked.size()), data, &reply));
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{'a', 0xFF, 'b'}));
    Bytes expected = comPortFrame(COM_SET_BAUDRATE + COM_PORT_SERVER_OFFSET, {0, 0, 0x25, 0x80});
    for (const Bytes& part : {comPortFrame(COM_SET_PARITY + COM_PORT_SERVER_OFFSET, {1}),
                              comPortFrame(COM_SET_CONTROL + COM_PORT_SERVER_OFFSET, {8})})  // DTR stays on
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(Bytes(reply.bytes, reply.bytes + reply.length), expected);
}
