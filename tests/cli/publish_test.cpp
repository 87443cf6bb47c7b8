// elq770ctl publish against the simulator on a pseudo-terminal and a
// Mosquitto broker the test starts on a free port of 127.0.0.1. Each case
// observes what a plant's subscriber sees at the broker, and the gateway's
// exit code and stderr.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "tests/cli/cli_harness.h"
#include "tests/cli/mqtt_broker.h"

using namespace clitest;

namespace {

#define REQUIRE_BROKER()                                                                              \
    if (!MqttBroker::installed()) GTEST_SKIP() << "no /usr/sbin/mosquitto (Debian mosquitto): skipped"

const std::string TOPIC = "elq770/pump3/";

// elq770ctl publish for the simulator's link, as a child of the test.
class Gateway {
public:
    Gateway(const std::string& dir, const Sim& sim, const std::string& brokerUrl, std::vector<std::string> extra = {},
            const std::string& name = "publish")
        : dir_(dir), name_(name) {
        std::vector<std::string> args{ELQ_CTL_BINARY, "publish", "--port", sim.link()};
        if (!brokerUrl.empty()) args.insert(args.end(), {"--broker", brokerUrl});
        if (std::find(extra.begin(), extra.end(), "--name") == extra.end()) args.insert(args.end(), {"--name", "pump3"});
        args.insert(args.end(), extra.begin(), extra.end());
        pid_ = spawn(args, dir + "/" + name + ".out", dir + "/" + name + ".err");
    }
    ~Gateway() {
        if (pid_ > 0) stop(SIGKILL);
    }
    // Signals the gateway and returns its exit code.
    int stop(int signal = SIGINT, int timeoutMs = 5000) {
        kill(pid_, signal);
        int code = waitExit(pid_, timeoutMs);
        pid_ = 0;
        return code;
    }
    // The exit code once it has ended by itself, -1 after the time-out.
    int exitWithin(int timeoutMs) {
        int code = waitExit(pid_, timeoutMs);
        pid_ = 0;
        return code;
    }
    bool running() const {
        int status = 0;
        return waitpid(pid_, &status, WNOHANG) == 0;
    }
    pid_t pid() const { return pid_; }
    std::string err() const { return readText(dir_ + "/" + name_ + ".err"); }
    std::string out() const { return readText(dir_ + "/" + name_ + ".out"); }

private:
    std::string dir_;
    std::string name_;
    pid_t pid_ = 0;
};

std::vector<std::string> payloads(const std::vector<ReceivedMessage>& messages) {
    std::vector<std::string> found;
    for (const ReceivedMessage& message : messages) found.push_back(message.payload);
    return found;
}

// In the order of the keys as sent.
std::vector<nlohmann::ordered_json> jsonOf(const std::vector<ReceivedMessage>& messages) {
    std::vector<nlohmann::ordered_json> found;
    for (const ReceivedMessage& message : messages) found.push_back(nlohmann::ordered_json::parse(message.payload));
    return found;
}

// Milliseconds of the day of "2026-12-09T07:26:38.129+00:00" (the tests
// never run across midnight for long enough to matter to a difference).
int64_t msOfDay(const std::string& time) {
    return ((std::stoll(time.substr(11, 2)) * 60 + std::stoll(time.substr(14, 2))) * 60 + std::stoll(time.substr(17, 2))) *
               1000 +
           std::stoll(time.substr(20, 3));
}

bool lastStatusIs(const MqttSubscriber& subscriber, const std::string& status) {
    std::vector<ReceivedMessage> statuses = subscriber.on(TOPIC + "status");
    return !statuses.empty() && statuses.back().payload == status;
}

void runCommand(const std::string& command) { ASSERT_EQ(0, std::system(command.c_str())) << command; }

}  // namespace

TEST(PublishGateway, StatusMeasurementsInfoAndAlarmWordsReachTheBroker) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    // Above the Limit 1 setpoint at once: alarm words after Tr 0.5 s.
    Sim sim(dir, {"--level", "80", "--setpoint1", "70", "--text", "PUMP 3 WEST", "--param", "3300=5", "--param",
                  "3900=0"});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    Gateway gateway(dir, sim, broker.url(), {"--info-every", "0.05"});
    ASSERT_TRUE(watcher.waitFor(15000, [&] {
        return watcher.on(TOPIC + "measurement").size() >= 4 && watcher.on(TOPIC + "info").size() >= 2 &&
               !watcher.on(TOPIC + "alarm").empty();
    })) << gateway.out() << gateway.err();
    // info again after 3 s, from the same request as info's own.
    EXPECT_EQ(watcher.on(TOPIC + "info")[0].payload, watcher.on(TOPIC + "info")[1].payload);
    std::vector<uint16_t> words = sim.words();
    EXPECT_EQ(std::vector<uint16_t>(words.size(), 65050), words) << "nothing but data requests";
    EXPECT_GE(words.size(), 2u);

    // A subscriber that comes later gets the state retained.
    MqttSubscriber late(broker.port(), "late");
    ASSERT_TRUE(late.waitFor(3000, [&] { return !late.on(TOPIC + "status").empty() && !late.on(TOPIC + "info").empty(); }));
    EXPECT_EQ("online", late.on(TOPIC + "status").front().payload);
    EXPECT_TRUE(late.on(TOPIC + "status").front().retained);
    EXPECT_TRUE(late.on(TOPIC + "info").front().retained);
    EXPECT_TRUE(late.on(TOPIC + "measurement").empty()) << "measurements are not retained";
    for (const char* topic : {"measurement", "alarm", "status", "info"})
        for (const ReceivedMessage& message : watcher.on(TOPIC + topic)) EXPECT_EQ(1, message.qos) << topic;

    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    ASSERT_TRUE(watcher.waitFor(3000, [&] { return lastStatusIs(watcher, "offline"); }))
        << "the gateway says offline itself at its end";

    std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
    std::vector<nlohmann::ordered_json> measurements = jsonOf(watcher.on(TOPIC + "measurement"));
    int64_t alarmsCounted = 0;
    for (std::size_t i = 0; i < measurements.size(); ++i) {
        const nlohmann::ordered_json& m = measurements[i];
        EXPECT_EQ(10u, m.size()) << m;
        EXPECT_TRUE(std::regex_match(m["time"].get<std::string>(), time)) << m;
        EXPECT_EQ(80, m["last"]);
        EXPECT_EQ(80, m["min"]);
        EXPECT_EQ(80, m["max"]);
        EXPECT_EQ(80.0, m["mean"].get<double>());
        EXPECT_EQ(1, m["activeLimit"]);
        // 50 a second from the device; the first interval may start late.
        if (i > 0) {
            EXPECT_NEAR(50, m["samples"].get<int>(), 12) << m;
            EXPECT_NEAR(1000, msOfDay(m["time"]) - msOfDay(measurements[i - 1]["time"]), 300);
        }
        alarmsCounted += m["alarms"].get<int64_t>();
    }
    EXPECT_EQ(80, measurements.back()["maxPeak"]);
    EXPECT_EQ(80, measurements.back()["minPeak"]);

    std::vector<nlohmann::ordered_json> alarms = jsonOf(watcher.on(TOPIC + "alarm"));
    for (const nlohmann::ordered_json& alarm : alarms) {
        EXPECT_EQ(2u, alarm.size());
        EXPECT_TRUE(std::regex_match(alarm["time"].get<std::string>(), time)) << alarm;
        EXPECT_GE(alarm["word"].get<int>(), 65010) << "Limit 1 alarm on";
        EXPECT_LE(alarm["word"].get<int>(), 65024);
    }
    // One every 100 ms while the alarm is on; those after the last interval
    // are in no measurement yet.
    EXPECT_GT(alarmsCounted, 0);
    EXPECT_LE(alarmsCounted, static_cast<int64_t>(alarms.size()));
    EXPECT_GE(alarmsCounted + 15, static_cast<int64_t>(alarms.size()));

    // info is what info --json prints for the same device.
    std::string info = watcher.on(TOPIC + "info").back().payload;
    EXPECT_EQ("PUMP 3 WEST", nlohmann::json::parse(info)["deviceText"]);
    EXPECT_EQ(70, nlohmann::json::parse(info)["limit1Setpoint"]);
    CtlRun read = ctl(dir, {"info", "--json", "--port", sim.link()});
    ASSERT_EQ(0, read.code) << read.err;
    EXPECT_EQ(info.find('\n'), std::string::npos) << "one line: " << info;
    EXPECT_EQ(read.out, info + "\n");
}

// The options that shape the messages: their topics, pace, QoS and the
// client id the broker sees.
TEST(PublishGateway, TopicPrefixIntervalQosAndClientIdAreTheOnesGiven) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    Sim sim(dir, {"--level", "33"});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher", "plant/#");
    const std::string topic = "plant/hall2/pump3/";
    Gateway gateway(dir, sim, broker.url(),
                    {"--topic-prefix", "plant/hall2", "--interval", "2", "--qos", "0", "--client-id", "gw9"});
    ASSERT_TRUE(watcher.waitFor(15000, [&] { return watcher.on(topic + "measurement").size() >= 3; }))
        << gateway.out() << gateway.err();
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    EXPECT_FALSE(watcher.on(topic + "status").empty());
    EXPECT_FALSE(watcher.on(topic + "info").empty());
    std::vector<ReceivedMessage> measurements = watcher.on(topic + "measurement");
    for (std::size_t i = 0; i < measurements.size(); ++i) {
        EXPECT_EQ(0, measurements[i].qos);
        nlohmann::json m = nlohmann::json::parse(measurements[i].payload);
        EXPECT_EQ(33, m["mean"]);
        if (i == 0) continue;  // the first interval may start late
        EXPECT_NEAR(100, m["samples"].get<int>(), 20) << m;
        nlohmann::json previous = nlohmann::json::parse(measurements[i - 1].payload);
        EXPECT_NEAR(2000, msOfDay(m["time"]) - msOfDay(previous["time"]), 300);
    }
    broker.stop();  // its log is written out as it ends
    EXPECT_NE(std::string::npos, readText(dir + "/broker.1.out").find(" as gw9 ")) << readText(dir + "/broker.1.out");
}

TEST(PublishFaults, SimulatorRestartedIsDeviceLostThenOnlineWithTheNewDevicesInfo) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    auto first = std::make_unique<Sim>(dir, std::vector<std::string>{"--level", "30"}, "first");
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    Gateway gateway(dir, *first, broker.url());
    ASSERT_TRUE(watcher.waitFor(10000, [&] { return !watcher.on(TOPIC + "info").empty(); })) << gateway.err();
    first.reset();
    ASSERT_TRUE(watcher.waitFor(5000, [&] { return lastStatusIs(watcher, "device-lost"); })) << gateway.out();
    std::size_t measurementsInGap = watcher.on(TOPIC + "measurement").size();
    // Intervals without a sample send nothing: at most the one the gap cut.
    watcher.waitFor(2500, [] { return false; });
    EXPECT_LE(watcher.on(TOPIC + "measurement").size(), measurementsInGap + 1);
    measurementsInGap = watcher.on(TOPIC + "measurement").size();
    Sim second(dir, {"--level", "60", "--text", "SECOND UNIT"}, "second");
    ASSERT_TRUE(watcher.waitFor(10000, [&] {
        std::vector<ReceivedMessage> infos = watcher.on(TOPIC + "info");
        return lastStatusIs(watcher, "online") && infos.back().payload.find("SECOND UNIT") != std::string::npos &&
               !watcher.on(TOPIC + "measurement").empty() &&
               nlohmann::json::parse(watcher.on(TOPIC + "measurement").back().payload)["last"] == 60;
    })) << gateway.out();
    EXPECT_TRUE(gateway.running()) << gateway.err();
    EXPECT_EQ((std::vector<std::string>{"online", "device-lost", "online"}), payloads(watcher.on(TOPIC + "status")));
    EXPECT_GT(watcher.on(TOPIC + "measurement").size(), measurementsInGap);
    EXPECT_EQ(0, gateway.stop(SIGTERM)) << gateway.err();
}

TEST(PublishFaults, GatewayStartedBeforeItsBrokerWaitsAndKilledIsOfflineByItsLastWill) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    Sim sim(dir, {"--level", "30"});
    MqttBroker broker(dir);
    Gateway gateway(dir, sim, broker.url());
    sleepMs(1500);
    ASSERT_TRUE(gateway.running()) << gateway.err();
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    ASSERT_TRUE(watcher.waitFor(10000, [&] { return lastStatusIs(watcher, "online"); })) << gateway.err();
    EXPECT_EQ(128 + SIGKILL, gateway.stop(SIGKILL));
    ASSERT_TRUE(watcher.waitFor(5000, [&] { return lastStatusIs(watcher, "offline"); }));
    MqttSubscriber late(broker.port(), "late");
    ASSERT_TRUE(late.waitFor(3000, [&] { return !late.on(TOPIC + "status").empty(); }));
    EXPECT_EQ("offline", late.on(TOPIC + "status").back().payload) << "the will is retained";
}

// The broker saves the sessions as it stops and takes them up again; both
// clients keep theirs (clean session off).
namespace {

// The measurements' times in milliseconds of the day; none twice, in order.
std::vector<int64_t> measurementTimes(const MqttSubscriber& watcher, const std::string& topic) {
    std::vector<int64_t> times;
    std::set<std::string> seen;
    for (const nlohmann::ordered_json& m : jsonOf(watcher.on(topic))) {
        EXPECT_TRUE(seen.insert(m["time"].get<std::string>()).second) << "twice: " << m;
        times.push_back(msOfDay(m["time"]));
        if (times.size() > 1) {
            EXPECT_GT(times.back(), times[times.size() - 2]) << "in order: " << m;
        }
    }
    return times;
}

}  // namespace

// The broker saves the sessions as it stops and takes them up again; both
// clients keep theirs (clean session off). A second gateway keeps only 3
// messages.
TEST(PublishFaults, BrokerAwayTenSecondsLosesNoMeasurementAndRepeatsNoneUpToTheBuffer) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    Sim sim(dir, {"--level", "45"});
    std::string smallDir = dir + "/small";
    std::filesystem::create_directories(smallDir);
    Sim smallSim(smallDir, {"--level", "55"});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    Gateway gateway(dir, sim, broker.url());
    Gateway small(dir, smallSim, broker.url(), {"--name", "pump4", "--buffer", "3"}, "small");
    ASSERT_TRUE(watcher.waitFor(10000, [&] {
        return watcher.on(TOPIC + "measurement").size() >= 2 && !watcher.on("elq770/pump4/measurement").empty();
    }));
    // The broker goes between two measurements, once it has the watcher's
    // acknowledgement of the last: else it would rightly send that one again.
    watcher.waitFor(200, [] { return false; });
    const std::size_t smallBefore = watcher.on("elq770/pump4/measurement").size();
    broker.stop();
    sleepMs(10000);
    ASSERT_TRUE(broker.start());
    // Reconnecting takes up to the backoff's next step (8 s after the fourth
    // try), for each gateway on its own clock: both are waited for, the
    // small one until its 3 kept messages and a new one are in.
    ASSERT_TRUE(watcher.waitFor(25000, [&] {
        return watcher.on(TOPIC + "measurement").size() >= 16 &&
               watcher.on("elq770/pump4/measurement").size() >= smallBefore + 4;
    })) << watcher.on(TOPIC + "measurement").size() << gateway.out();
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    EXPECT_EQ(0, small.stop(SIGINT)) << small.err();
    ASSERT_TRUE(watcher.waitFor(3000, [&] { return lastStatusIs(watcher, "offline"); }));

    std::vector<int64_t> times = measurementTimes(watcher, TOPIC + "measurement");
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_LT(times[i] - times[i - 1], 1500) << "none lost before " << i;
        EXPECT_GT(times[i] - times[i - 1], 500) << "in order and none twice at " << i;
    }
    EXPECT_NE(std::string::npos, gateway.err().find("connection lost")) << gateway.err();

    // The small queue kept the newest 3 of the 10 s and said how many went.
    std::vector<int64_t> smallTimes = measurementTimes(watcher, "elq770/pump4/measurement");
    std::vector<int64_t> holes;
    for (std::size_t i = 1; i < smallTimes.size(); ++i)
        if (smallTimes[i] - smallTimes[i - 1] >= 1500) holes.push_back(smallTimes[i] - smallTimes[i - 1]);
    ASSERT_EQ(1u, holes.size());
    EXPECT_GT(holes[0], 7000);
    EXPECT_NE(std::string::npos, small.err().find("the queue of 3 messages is full")) << small.err();
    EXPECT_NE(std::string::npos, small.err().find("oldest messages (")) << small.err();
}

namespace {

int countOf(const std::vector<std::string>& topics, const std::string& topic) {
    return static_cast<int>(std::count(topics.begin(), topics.end(), topic));
}

double secondsBetween(const DroppingBroker::Connection& earlier, const DroppingBroker::Connection& later) {
    return std::chrono::duration<double>(later.start - earlier.start).count();
}

int linesHolding(const std::string& text, const std::string& part) {
    int found = 0;
    for (const std::string& line : lines(text)) found += line.find(part) != std::string::npos ? 1 : 0;
    return found;
}

}  // namespace

// Each connection lives 0.5 s: the waits after them are 1 s and 2 s, then,
// the flapping noticed, the --refused-retry period (3 s). The peer
// acknowledges nothing, so status and info stay with the library, which
// sends them once more at each connection: never a second copy beside them.
TEST(PublishFlapping, BrokerThatAcceptsAndDropsIsAskedNoFasterThanTheBackoffAndGetsNoRetainedCopyTwice) {
    std::string dir = workDir();
    Sim sim(dir, {"--level", "30"});
    DroppingBroker broker(500);
    Gateway gateway(dir, sim, broker.url(), {"--refused-retry", "0.05"});
    for (int i = 0; i < 200 && broker.served() < 4; ++i) sleepMs(50);
    EXPECT_TRUE(gateway.running()) << gateway.err();
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    broker.stop();
    const std::vector<DroppingBroker::Connection>& connections = broker.connections();
    ASSERT_GE(connections.size(), 4u) << gateway.out() << gateway.err();
    const double holdAndWait[] = {0.5 + 1, 0.5 + 2, 0.5 + 3};
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_GE(secondsBetween(connections[i - 1], connections[i]), holdAndWait[i - 1] - 0.05) << "connection " << i;
    int statuses = 0;
    for (const DroppingBroker::Connection& connection : connections) {
        EXPECT_LE(countOf(connection.topics, TOPIC + "status"), 1);
        EXPECT_LE(countOf(connection.topics, TOPIC + "info"), 1);
        statuses += countOf(connection.topics, TOPIC + "status");
    }
    EXPECT_GE(statuses, 2) << "sent, and sent again by the library";
    EXPECT_EQ(1, linesHolding(gateway.err(), "closed the connection 3 times in a row")) << gateway.err();
}

// Once connected, the options were right: a broker that refuses later (its
// password file lost in a restart) is told once and asked again every
// --refused-retry minutes, and the gateway goes on.
TEST(PublishRefusal, ARefusalAfterAConnectionIsToldOnceAndTriedAgainAfterTheRetryPeriod) {
    std::string dir = workDir();
    Sim sim(dir, {"--level", "30"});
    DroppingBroker broker(300, 1);
    Gateway gateway(dir, sim, broker.url(), {"--refused-retry", "0.05"});
    for (int i = 0; i < 200 && broker.served() < 3; ++i) sleepMs(50);
    EXPECT_TRUE(gateway.running()) << gateway.err();
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    broker.stop();
    ASSERT_GE(broker.connections().size(), 3u) << gateway.err();
    EXPECT_GE(secondsBetween(broker.connections()[1], broker.connections()[2]), 3 - 0.05);
    EXPECT_EQ(1, linesHolding(gateway.err(), "the broker refused the connection: ")) << gateway.err();
    EXPECT_EQ(1, linesHolding(gateway.err(), "connected before, so the gateway goes on: trying again every 0.05 min"))
        << gateway.err();
}

// The password is the file's whole first line (far longer than 1023 bytes
// here) or the variable, which then leaves the process's environment; a
// file others may read is used with a warning.
TEST(PublishRefusal, RightPasswordConnectsAndAWrongOneExitsSix) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    const std::string secret = std::string(1500, 'k') + " word";
    runCommand("mosquitto_passwd -b -c " + dir + "/passwd plant '" + secret + "' >/dev/null 2>&1");
    Sim sim(dir, {"--level", "30"});
    // Anonymous clients only on the subscriber's listener.
    int locked = freePort();
    MqttBroker broker(dir, {"listener " + std::to_string(locked) + " 127.0.0.1", "allow_anonymous false",
                            "password_file " + dir + "/passwd"});
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    std::string lockedUrl = "mqtt://127.0.0.1:" + std::to_string(locked);
    namespace fs = std::filesystem;
    std::ofstream(dir + "/right") << secret << "\r\nsecond line\n";
    fs::permissions(dir + "/right", fs::perms::owner_read | fs::perms::owner_write);
    {
        Gateway gateway(dir, sim, lockedUrl, {"--username", "plant", "--password-file", dir + "/right"});
        ASSERT_TRUE(watcher.waitFor(10000, [&] { return lastStatusIs(watcher, "online"); })) << gateway.err();
        EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
        EXPECT_EQ(std::string::npos, gateway.err().find("warning")) << "no warning for a file only its owner reads";
        ASSERT_TRUE(watcher.waitFor(3000, [&] { return lastStatusIs(watcher, "offline"); }));
    }
    {
        setenv("ELQ770_MQTT_PASSWORD", secret.c_str(), 1);
        Gateway gateway(dir, sim, lockedUrl, {"--username", "plant"}, "variable");
        unsetenv("ELQ770_MQTT_PASSWORD");
        ASSERT_TRUE(watcher.waitFor(10000, [&] { return lastStatusIs(watcher, "online"); })) << gateway.err();
        std::string environment = readText("/proc/" + std::to_string(gateway.pid()) + "/environ");
        EXPECT_NE(std::string::npos, environment.find("PATH=")) << "the environment is there to read";
        EXPECT_EQ(std::string::npos, environment.find(secret.substr(0, 64)));
        EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    }
    std::ofstream(dir + "/wrong") << "wrong\n";
    fs::permissions(dir + "/wrong", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::others_read);
    Gateway wrong(dir, sim, lockedUrl, {"--username", "plant", "--password-file", dir + "/wrong"}, "wrong");
    EXPECT_EQ(6, wrong.exitWithin(10000));
    std::vector<std::string> err = lines(wrong.err());
    ASSERT_EQ(2u, err.size()) << wrong.err();
    EXPECT_EQ("elq770ctl: " + dir + "/wrong: warning: other users may read this file (mode 0644); chmod 0600 or "
              "0640 with the gateway's own group",
              err[0]);
    EXPECT_EQ(0u, err[1].find("elq770ctl: " + lockedUrl + ": the broker refused the connection: ")) << err[1];
}

namespace {

// A certificate authority and a server certificate for 127.0.0.1 signed by
// it, and a second authority that signed nothing of the broker's.
void makeCertificates(const std::string& dir) {
    std::string quiet = " >/dev/null 2>&1";
    for (const char* ca : {"ca", "other-ca"})
        runCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + std::string(ca) + " -keyout " +
                   dir + "/" + ca + ".key -out " + dir + "/" + ca + ".crt" + quiet);
    std::ofstream(dir + "/san.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    for (const char* party : {"server", "client"}) {
        std::string name = party;
        runCommand("openssl req -newkey rsa:2048 -nodes -subj /CN=" + name + " -keyout " + dir + "/" + name +
                   ".key -out " + dir + "/" + name + ".csr" + quiet);
        runCommand("openssl x509 -req -in " + dir + "/" + name + ".csr -CA " + dir + "/ca.crt -CAkey " + dir +
                   "/ca.key -CAcreateserial -days 2 -extfile " + dir + "/san.ext -out " + dir + "/" + name + ".crt" +
                   quiet);
    }
}

}  // namespace

TEST(PublishRefusal, TlsWithTheRightAuthorityConnectsAndOtherwiseExitsSix) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    makeCertificates(dir);
    Sim sim(dir, {"--level", "30"});
    int tls = freePort();
    int tlsWithClients = freePort();
    std::vector<std::string> serverFiles{"cafile " + dir + "/ca.crt", "certfile " + dir + "/server.crt",
                                         "keyfile " + dir + "/server.key"};
    std::vector<std::string> lines{"listener " + std::to_string(tls) + " 127.0.0.1", "allow_anonymous true"};
    lines.insert(lines.end(), serverFiles.begin(), serverFiles.end());
    lines.insert(lines.end(), {"listener " + std::to_string(tlsWithClients) + " 127.0.0.1", "allow_anonymous true",
                               "require_certificate true"});
    lines.insert(lines.end(), serverFiles.begin(), serverFiles.end());
    MqttBroker broker(dir, lines);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    std::string tlsUrl = "mqtts://127.0.0.1:" + std::to_string(tls);
    std::string clientsUrl = "mqtts://127.0.0.1:" + std::to_string(tlsWithClients);
    {
        Gateway trusting(dir, sim, tlsUrl, {"--tls-ca", dir + "/ca.crt"}, "trusting");
        ASSERT_TRUE(watcher.waitFor(10000, [&] { return lastStatusIs(watcher, "online"); })) << trusting.err();
        EXPECT_EQ(0, trusting.stop(SIGINT)) << trusting.err();
        ASSERT_TRUE(watcher.waitFor(3000, [&] { return lastStatusIs(watcher, "offline"); }));
    }
    {
        Gateway withCertificate(dir, sim, clientsUrl,
                                {"--tls-ca", dir + "/ca.crt", "--tls-cert", dir + "/client.crt", "--tls-key",
                                 dir + "/client.key"},
                                "certificate");
        ASSERT_TRUE(watcher.waitFor(10000, [&] { return lastStatusIs(watcher, "online"); })) << withCertificate.err();
        EXPECT_EQ(0, withCertificate.stop(SIGINT)) << withCertificate.err();
    }
    struct Refused {
        const char* name;
        std::string url;
        std::vector<std::string> options;
        const char* reason;
    };
    for (const Refused& refused :
         {Refused{"untrusting", tlsUrl, {"--tls-ca", dir + "/other-ca.crt"}, "certificate does not verify"},
          Refused{"system-trust", tlsUrl, {}, "certificate does not verify"},
          Refused{"no-certificate", clientsUrl, {"--tls-ca", dir + "/ca.crt"}, "refused the client certificate"}}) {
        Gateway gateway(dir, sim, refused.url, refused.options, refused.name);
        EXPECT_EQ(6, gateway.exitWithin(15000)) << refused.name << ": " << gateway.out() << gateway.err();
        std::string err = gateway.err();
        EXPECT_EQ(0u, err.find("elq770ctl: " + refused.url + ": ")) << refused.name << ": " << err;
        EXPECT_NE(std::string::npos, err.find(refused.reason)) << refused.name << ": " << err;
        // The refusal is said once; a TLS 1.3 broker may first look away
        // ("broker not reachable"), a note on the same stream.
        std::size_t said = err.find(refused.reason);
        EXPECT_EQ(std::string::npos, err.find(refused.reason, said + 1)) << refused.name << ": " << err;
    }
    // The gateway's own certificate or key that is unusable is the user's to
    // mend (exit 5), not a broker away to wait for.
    std::ofstream(dir + "/garbage.pem") << "garbage\n";
    std::filesystem::permissions(dir + "/garbage.pem", std::filesystem::perms::owner_read);
    std::vector<std::string> trust{"--tls-ca", dir + "/ca.crt"};
    for (const Refused& local :
         {Refused{"garbage", clientsUrl, {"--tls-cert", dir + "/garbage.pem", "--tls-key", dir + "/garbage.pem"},
                  "Unable to load client certificate"},
          Refused{"other-key", clientsUrl, {"--tls-cert", dir + "/client.crt", "--tls-key", dir + "/server.key"},
                  "Unable to load client key"},
          Refused{"missing-key", clientsUrl, {"--tls-cert", dir + "/client.crt", "--tls-key", dir + "/none.key"},
                  "none.key: cannot read file: No such file"}}) {
        std::vector<std::string> options = trust;
        options.insert(options.end(), local.options.begin(), local.options.end());
        Gateway gateway(dir, sim, local.url, options, local.name);
        EXPECT_EQ(5, gateway.exitWithin(15000)) << local.name << ": " << gateway.out() << gateway.err();
        std::string err = gateway.err();
        EXPECT_NE(std::string::npos, err.find(local.reason)) << local.name << ": " << err;
        EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << local.name << ": " << err;
    }
}

TEST(PublishUsage, MalformedUrlOrContradictingOptionsExitOneBeforeThePort) {
    std::string dir = workDir();
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    for (const Case& c :
         {Case{{"--broker", "http://127.0.0.1"}, "not a broker URL"},
          Case{{"--broker", "mqtt://127.0.0.1", "--tls-ca", dir + "/ca.crt"}, "need an mqtts:// broker"},
          Case{{"--broker", "mqtt://127.0.0.1", "--password-file", "/etc/hostname"}, "a password needs --username"},
          Case{{"--broker", "mqtt://127.0.0.1", "--qos", "2"}, "--qos"},
          Case{{"--broker", "mqtt://127.0.0.1", "--name", "a/b"}, "--name"},
          Case{{"--broker", "mqtt://127.0.0.1", "--broker", "mqtt://127.0.0.1:0"}, "mqtt://127.0.0.1:0: not a broker"},
          Case{{"--broker", "mqtt://127.0.0.1", "--discovery", "openhab"}, "--discovery takes homeassistant"},
          Case{{"--broker", "mqtt://127.0.0.1", "--discovery", "homeassistant:a/#"}, "--discovery takes"},
          Case{{"--metrics", "127.0.0.1:65536"}, "--metrics takes [HOST:]PORT"},
          Case{{"--name", "p"}, "--broker is needed unless --metrics"}}) {
        std::vector<std::string> args{"publish", "--port", dir + "/no-such-port"};
        if (std::find(c.args.begin(), c.args.end(), "--name") == c.args.end()) args.insert(args.end(), {"--name", "p"});
        args.insert(args.end(), c.args.begin(), c.args.end());
        CtlRun run = ctl(dir, args);
        EXPECT_EQ(1, run.code) << c.says << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err;
    }
    CtlRun unreadable = ctl(dir, {"publish", "--port", dir + "/no-such-port", "--name", "p", "--broker",
                                  "mqtt://127.0.0.1", "--username", "u", "--password-file", dir + "/none"});
    EXPECT_EQ(5, unreadable.code) << unreadable.err;
    setenv("ELQ770_MQTT_PASSWORD", "secret", 1);
    CtlRun unnamed = ctl(dir, {"publish", "--port", dir + "/no-such-port", "--name", "p", "--broker", "mqtt://127.0.0.1:1"});
    unsetenv("ELQ770_MQTT_PASSWORD");
    EXPECT_NE(std::string::npos, unnamed.err.find("ELQ770_MQTT_PASSWORD is set but --username is not")) << unnamed.err;
}

// Names the library would refuse to publish under (today's gateway would
// connect without a will and publish nothing) are refused at the start.
TEST(PublishUsage, NamesThatAreNotMqttTextExitOneWithOneLine) {
    std::string dir = workDir();
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    for (const Case& c : {Case{{"--name", "x\xff"}, "--name: not valid UTF-8"},
                          Case{{"--name", "pump\x01"}, "--name: not valid UTF-8, or holds a control character"},
                          Case{{"--name", "p", "--topic-prefix", "plant\xc2\x85"}, "--topic-prefix: not valid UTF-8"},
                          Case{{"--name", "p", "--client-id", "gw\x7f"}, "--client-id: not valid UTF-8"},
                          Case{{"--name", std::string(40000, 'n'), "--topic-prefix", std::string(30000, 'p')},
                               "the topic PREFIX/NAME/measurement is longer than MQTT's 65535 bytes"}}) {
        std::vector<std::string> args{"publish", "--port", dir + "/no-such-port", "--broker", "mqtt://127.0.0.1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CtlRun run = ctl(dir, args);
        EXPECT_EQ(1, run.code) << c.says << run.err;
        EXPECT_EQ(0u, run.err.find("elq770ctl: --")) << run.err.substr(0, 200);
        EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err.substr(0, 200);
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err.substr(0, 200);
    }
}

// The gateway's plant interfaces: Prometheus, Home Assistant discovery and
// a second broker, each against the real peer.
namespace {

// A Prometheus of the test's own on a free port, scraping the gateway's
// /metrics every second, its database in the work folder.
class Prometheus {
public:
    Prometheus(const std::string& dir, int targetPort) : dir_(dir), port_(freePort()) {
        std::ofstream(dir + "/prometheus.yml") << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                                  "scrape_configs:\n  - job_name: gw\n    static_configs:\n"
                                                  "      - targets: ['127.0.0.1:"
                                               << targetPort << "']\n";
        pid_ = spawn({"/usr/bin/prometheus", "--config.file=" + dir + "/prometheus.yml",
                      "--storage.tsdb.path=" + dir + "/tsdb", "--web.listen-address=127.0.0.1:" + std::to_string(port_)},
                     dir + "/prometheus.out", dir + "/prometheus.err");
    }
    ~Prometheus() {
        kill(pid_, SIGTERM);
        waitExit(pid_, 10000);
    }
    static bool installed() { return access("/usr/bin/prometheus", X_OK) == 0; }
    // The instant query's single value, "" when it has none (yet).
    std::string query(const std::string& expression) const {
        std::string file = dir_ + "/query.json";
        std::string command = "curl -s -G --data-urlencode 'query=" + expression + "' http://127.0.0.1:" +
                              std::to_string(port_) + "/api/v1/query > " + file;
        if (std::system(command.c_str()) != 0) return "";
        nlohmann::json answer = nlohmann::json::parse(readText(file), nullptr, false);
        if (answer.is_discarded() || answer["data"]["result"].size() != 1) return "";
        return answer["data"]["result"][0]["value"][1].get<std::string>();
    }
    // Polls until the query gives value.
    bool waitFor(const std::string& expression, const std::string& value, int timeoutMs) const {
        for (int waited = 0; waited < timeoutMs; waited += 250) {
            if (query(expression) == value) return true;
            sleepMs(250);
        }
        return false;
    }

private:
    std::string dir_;
    int port_;
    pid_t pid_;
};

}  // namespace

TEST(PublishMetrics, PrometheusSeesTheDeviceUpThenDownAndTheQueueGrowWhileTheBrokerIsAway) {
    REQUIRE_BROKER();
    if (!Prometheus::installed()) GTEST_SKIP() << "no /usr/bin/prometheus (Debian prometheus): skipped";
    std::string dir = workDir();
    Sim sim(dir, {"--level", "45", "--text", "PUMP \"3\""});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    int port = freePort();
    Gateway gateway(dir, sim, broker.url(), {"--metrics", std::to_string(port)});
    Prometheus prometheus(dir, port);
    ASSERT_TRUE(prometheus.waitFor("elq770_device_up{device=\"pump3\"}", "1", 30000)) << gateway.err();
    ASSERT_TRUE(prometheus.waitFor("elq770_mqtt_connected", "1", 5000));
    EXPECT_TRUE(prometheus.waitFor("elq770_interval_mean_ratio", "0.45", 5000));
    ASSERT_TRUE(prometheus.waitFor("count(elq770_parameter)", "16", 5000));
    EXPECT_EQ("60", prometheus.query("elq770_parameter{name=\"limit1Setpoint\"}"));
    EXPECT_EQ("1", prometheus.query("elq770_device_info{text=\"PUMP \\\"3\\\"\"}"));
    runCommand("curl -sf http://127.0.0.1:" + std::to_string(port) + "/metrics > " + dir + "/page.txt");
    runCommand("promtool check metrics < " + dir + "/page.txt");

    broker.stop();
    EXPECT_TRUE(prometheus.waitFor("elq770_mqtt_connected", "0", 10000));
    EXPECT_TRUE(prometheus.waitFor("elq770_mqtt_queued_messages >= bool 3", "1", 10000));
    sim.stop();
    EXPECT_TRUE(prometheus.waitFor("elq770_device_up", "0", 10000));
    EXPECT_EQ("1", prometheus.query("elq770_link_gaps_total"));
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
}

TEST(PublishMetrics, AMetricsPortInUseIsExitTwoWithTheReason) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    MqttBroker taker(dir);
    ASSERT_TRUE(taker.start());
    CtlRun run = ctl(dir, {"publish", "--port", dir + "/no-such-port", "--name", "p", "--metrics",
                           "127.0.0.1:" + std::to_string(taker.port())});
    EXPECT_EQ(2, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("cannot listen: Address already in use")) << run.err;
}

// Home Assistant's side of discovery, rendered as its Jinja would: each
// configuration's value_template on the real message of its state topic,
// and its availability for each status.
constexpr const char* RENDER_SCRIPT = R"(
import json, sys, jinja2
configs, states = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
env = jinja2.Environment()
for c in configs:
    value = json.loads(states[c["state_topic"]])
    print(c["unique_id"], env.from_string(c["value_template"]).render(value_json=value), *(
        env.from_string(c["availability"][0]["value_template"]).render(value=s)
        for s in ("online", "device-lost", "offline")))
)";

TEST(PublishDiscovery, RetainedConfigurationsRenderTheMeasurementComeAgainAfterOnlineAndAreRemoved) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    Sim sim(dir, {"--level", "45", "--text", "PUMP 3 WEST"});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher", "#");
    Gateway gateway(dir, sim, broker.url(), {"--discovery", "homeassistant"});
    auto configs = [&] {
        std::vector<ReceivedMessage> found;
        for (const ReceivedMessage& m : watcher.messages())
            if (m.topic.rfind("homeassistant/sensor/elq770_pump3/", 0) == 0) found.push_back(m);
        return found;
    };
    ASSERT_TRUE(watcher.waitFor(15000, [&] { return configs().size() >= 6 && !watcher.on(TOPIC + "measurement").empty(); }))
        << gateway.err();
    ASSERT_EQ(6u, configs().size());
    nlohmann::json all = nlohmann::json::array();
    for (const ReceivedMessage& m : configs()) {
        nlohmann::json c = nlohmann::json::parse(m.payload);
        EXPECT_EQ(m.topic, "homeassistant/sensor/elq770_pump3/" + c["unique_id"].get<std::string>().substr(13) + "/config");
        EXPECT_EQ(nlohmann::json({"elq770_pump3 PUMP 3 WEST"}), c["device"]["identifiers"]) << c;
        EXPECT_EQ("ELQ770", c["device"]["model"]);
        EXPECT_FALSE(c["device"].contains("manufacturer"));
        EXPECT_EQ(TOPIC + "status", c["availability"][0]["topic"]);
        all.push_back(c);
    }
    std::ofstream(dir + "/configs.json") << all.dump();
    std::string measurement = watcher.on(TOPIC + "measurement").back().payload;
    std::ofstream(dir + "/states.json") << nlohmann::json({{TOPIC + "measurement", measurement},
                                                           {TOPIC + "info", watcher.on(TOPIC + "info").back().payload}});
    std::ofstream(dir + "/render.py") << RENDER_SCRIPT;
    runCommand("python3 " + dir + "/render.py " + dir + "/configs.json " + dir + "/states.json > " + dir + "/render.out");
    nlohmann::json m = nlohmann::json::parse(measurement);
    std::set<std::string> rendered;
    for (const std::string& line : lines(readText(dir + "/render.out"))) rendered.insert(line);
    EXPECT_EQ(std::set<std::string>({"elq770_pump3_measurement " + m["last"].dump() + " online offline offline",
                                     "elq770_pump3_max_peak " + m["maxPeak"].dump() + " online offline offline",
                                     "elq770_pump3_min_peak " + m["minPeak"].dump() + " online offline offline",
                                     "elq770_pump3_active_limit 1 online offline offline",
                                     "elq770_pump3_alarms 0 online offline offline",
                                     "elq770_pump3_device_text PUMP 3 WEST online offline offline"}),
              rendered);

    runCommand("mosquitto_pub -p " + std::to_string(broker.port()) + " -t homeassistant/status -m online");
    EXPECT_TRUE(watcher.waitFor(5000, [&] { return configs().size() >= 12; })) << "announced again";
    std::vector<uint16_t> words = sim.words();
    EXPECT_EQ(std::vector<uint16_t>(words.size(), 65050), words) << "nothing but data requests";
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();

    MqttSubscriber before(broker.port(), "before", "homeassistant/#");
    EXPECT_TRUE(before.waitFor(3000, [&] { return before.messages().size() >= 6; })) << "retained";
    CtlRun removed = ctl(dir, {"publish", "--broker", broker.url(), "--name", "pump3", "--discovery-remove"});
    ASSERT_EQ(0, removed.code) << removed.err;
    MqttSubscriber after(broker.port(), "after", "homeassistant/#");
    EXPECT_FALSE(after.waitFor(2000, [&] { return !after.messages().empty(); })) << after.messages().front().topic;
}

// The first broker stopped: the gateway moves to the second after the
// backoff's first wait, sets its state there and carries its queue over.
TEST(PublishBrokers, TheFirstBrokerStoppedTheSecondGetsStatusAndEveryMeasurementOnce) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    std::filesystem::create_directories(dir + "/a");
    std::filesystem::create_directories(dir + "/b");
    Sim sim(dir, {"--level", "45"});
    MqttBroker first(dir + "/a");
    MqttBroker second(dir + "/b");
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    MqttSubscriber onFirst(first.port(), "watcher");
    MqttSubscriber onSecond(second.port(), "watcher");
    Gateway gateway(dir, sim, first.url(), {"--broker", second.url()});
    ASSERT_TRUE(onFirst.waitFor(10000, [&] { return onFirst.on(TOPIC + "measurement").size() >= 3; }));
    onFirst.waitFor(200, [] { return false; });
    first.stop();
    ASSERT_TRUE(onSecond.waitFor(10000, [&] { return onSecond.on(TOPIC + "measurement").size() >= 4; }))
        << gateway.out();
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
    MqttSubscriber late(second.port(), "late");
    ASSERT_TRUE(late.waitFor(3000, [&] { return !late.on(TOPIC + "status").empty() && !late.on(TOPIC + "info").empty(); }));
    EXPECT_TRUE(late.on(TOPIC + "status").front().retained);

    std::vector<int64_t> times = measurementTimes(onFirst, TOPIC + "measurement");
    std::vector<int64_t> moved = measurementTimes(onSecond, TOPIC + "measurement");
    ASSERT_GT(moved.front(), times.back()) << "in order, none twice";
    times.insert(times.end(), moved.begin(), moved.end());
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_LT(times[i] - times[i - 1], 1500) << "none lost before " << i;
    EXPECT_NE(std::string::npos, gateway.err().find(second.url() + ": connected as")) << gateway.err();
}

// publish --share: pyserial reads the device and asks it for its data through
// the gateway while the measurements go on with no hole; a second client
// is refused.
TEST(PublishShare, PyserialReadsAndAsksThroughTheShareWhileMeasurementsGoOn) {
    REQUIRE_BROKER();
    if (std::system("/usr/bin/python3 -c 'import serial' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3-serial (tools/install-deps.sh installs it)";
    std::string dir = workDir();
    Sim sim(dir, {"--level", "41"});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    int port = freePort();
    Gateway gateway(dir, sim, broker.url(), {"--share", std::to_string(port)});
    ASSERT_TRUE(watcher.waitFor(10000, [&] { return !watcher.on(TOPIC + "measurement").empty(); })) << gateway.err();
    std::string run = "/usr/bin/python3 " ELQ_SOURCE_DIR "/tests/cli/share_client.py rfc2217://127.0.0.1:" +
                      std::to_string(port) + " > " + dir + "/client.out 2>&1";
    EXPECT_EQ(0, std::system(run.c_str())) << readText(dir + "/client.out") << gateway.out();
    size_t before = watcher.on(TOPIC + "measurement").size();
    ASSERT_TRUE(watcher.waitFor(3000, [&] { return watcher.on(TOPIC + "measurement").size() > before + 1; }));
    std::vector<ReceivedMessage> measurements = watcher.on(TOPIC + "measurement");
    for (size_t i = 1; i < measurements.size(); ++i)
        EXPECT_LT(msOfDay(nlohmann::json::parse(measurements[i].payload)["time"]) -
                      msOfDay(nlohmann::json::parse(measurements[i - 1].payload)["time"]),
                  1500)
            << "a hole before measurement " << i;
    EXPECT_NE(std::string::npos, gateway.err().find("refused: the line is in use by 127.0.0.1:")) << gateway.err();
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
}

// elq770ctl load through the share: confirmed by its read-back, info
// republished with the new setpoint and one audit naming old and new.
TEST(PublishShare, LoadThroughTheShareIsConfirmedRepublishedAndAuditedOnce) {
    REQUIRE_BROKER();
    std::string dir = workDir();
    Sim sim(dir, {"--setpoint1", "50"});
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher");
    int port = freePort();
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
    Gateway gateway(dir, sim, broker.url(), {"--share", std::to_string(port)});
    ASSERT_TRUE(watcher.waitFor(10000, [&] { return !watcher.on(TOPIC + "info").empty(); })) << gateway.err();
    std::string file = dir + "/unit.770";
    ASSERT_EQ(0, ctl(dir, {"save", "--port", url, file}).code);
    std::string bytes = readText(file);
    bytes[2] = 62;  // limit1Setpoint, little-endian at offset 2
    std::FILE* out = std::fopen(file.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    CtlRun load = ctl(dir, {"load", "--port", url, file});
    size_t loaded = sim.words().size();
    ASSERT_EQ(0, load.code) << load.err;
    EXPECT_NE(load.out.find("confirmed"), std::string::npos) << load.out;
    ASSERT_TRUE(watcher.waitFor(8000, [&] {
        return !watcher.on(TOPIC + "audit").empty() &&
               nlohmann::json::parse(watcher.on(TOPIC + "info").back().payload)["limit1Setpoint"] == 62;
    })) << gateway.out();
    // The gateway's own read-back once the client is quiet: no second audit.
    for (int i = 0; i < 100 && sim.words().size() == loaded; ++i) sleepMs(50);
    ASSERT_EQ(65050, sim.words().back()) << "the gateway read the parameters back";
    sleepMs(1000);  // its answer (about 150 ms) taken
    ASSERT_EQ(1u, watcher.on(TOPIC + "audit").size()) << gateway.out();
    nlohmann::json audit = nlohmann::json::parse(watcher.on(TOPIC + "audit")[0].payload);
    EXPECT_EQ(0u, audit["client"].get<std::string>().find("127.0.0.1:")) << audit;
    EXPECT_EQ(nlohmann::json::parse(R"([{"parameter":"limit1Setpoint","old":50,"new":62}])"), audit["changes"]);
    EXPECT_EQ(1, watcher.on(TOPIC + "audit")[0].qos);
    EXPECT_EQ(0, gateway.stop(SIGINT)) << gateway.err();
}
