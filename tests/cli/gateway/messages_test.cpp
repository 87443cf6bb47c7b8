// The MQTT gateway's parts on their own: the broker URL, one interval's
// measurement message, the queue that keeps QoS 1 messages while the broker
// is away, the retained state topics, the reconnect backoff, the throttled
// reports, the metrics address and page, and the discovery option.
#include <gtest/gtest.h>

#include <vector>

#include "cli/gateway/discovery.h"
#include "cli/gateway/line_share.h"
#include "cli/gateway/messages.h"
#include "cli/gateway/metrics_page.h"
#include "link/live_state.h"

TEST(BrokerUrl, SchemesGiveTheirPortsAndAGivenPortWins) {
    BrokerAddress address;
    ASSERT_TRUE(parseBrokerUrl("mqtt://broker.plant.local", &address));
    EXPECT_EQ("broker.plant.local", address.host);
    EXPECT_EQ(1883, address.port);
    EXPECT_FALSE(address.tls);
    ASSERT_TRUE(parseBrokerUrl("mqtts://10.0.0.5", &address));
    EXPECT_EQ(8883, address.port);
    EXPECT_TRUE(address.tls);
    ASSERT_TRUE(parseBrokerUrl("mqtts://10.0.0.5:1", &address));
    EXPECT_EQ(1, address.port);
    ASSERT_TRUE(parseBrokerUrl("mqtt://host:65535", &address));
    EXPECT_EQ(65535, address.port);
}

TEST(BrokerUrl, AnythingElseIsRefusedAndLeavesTheAddressAlone) {
    for (const char* url : {"", "broker:1883", "tcp://broker", "http://broker", "MQTT://broker", "mqtt://",
                            "mqtt://:1883", "mqtt://broker:", "mqtt://broker:0", "mqtt://broker:65536",
                            "mqtt://broker:99999999", "mqtt://broker:18x3", "mqtt://broker:-1", "mqtt://broker/path",
                            "mqtt://user@broker", "mqtt://broker?x=1", "mqtt://[::1]:1883", "mqtt://bro ker",
                            "mqtt://broker:1883:1"}) {
        BrokerAddress address{"untouched", 7, true};
        EXPECT_FALSE(parseBrokerUrl(url, &address)) << url;
        EXPECT_EQ("untouched", address.host) << url;
        EXPECT_EQ(7, address.port) << url;
    }
}

TEST(IntervalMessage, HoldsLastMinMaxMeanSamplesAlarmsAndThePeaks) {
    IntervalAggregate interval;
    for (int32_t percent : {50, 47, 61, 52}) interval.addSample(percent);
    interval.addAlarm();
    interval.addAlarm();
    nlohmann::ordered_json message = interval.close("2026-12-09T07:00:01.000+01:00", 2, 70, 31);
    EXPECT_EQ(R"({"time":"2026-12-09T07:00:01.000+01:00","last":52,"min":47,"max":61,"mean":52.5,)"
              R"("samples":4,"activeLimit":2,"maxPeak":70,"minPeak":31,"alarms":2})",
              message.dump());
}

TEST(IntervalMessage, MeanIsRoundedToHundredthsAndPeaksBeforeTheFirstAreNull) {
    IntervalAggregate interval;
    for (int32_t percent : {10, 10, 11}) interval.addSample(percent);
    nlohmann::ordered_json message = interval.close("t", 1, NO_VALUE, NO_VALUE);
    EXPECT_DOUBLE_EQ(10.33, message["mean"].get<double>());
    EXPECT_TRUE(message["maxPeak"].is_null());
    EXPECT_TRUE(message["minPeak"].is_null());
    EXPECT_EQ(0, message["alarms"]);
}

TEST(IntervalMessage, EachIntervalStartsAfreshAfterItsMessage) {
    IntervalAggregate interval;
    interval.addSample(90);
    interval.addSample(5);
    interval.addAlarm();
    interval.close("t", 1, 90, 5);
    EXPECT_EQ(0, interval.samples());
    interval.addSample(40);
    nlohmann::ordered_json message = interval.close("t", 1, 90, 5);
    EXPECT_EQ(40, message["min"]);
    EXPECT_EQ(40, message["max"]);
    EXPECT_EQ(40, message["mean"]);
    EXPECT_EQ(1, message["samples"]);
    EXPECT_EQ(0, message["alarms"]);
}

TEST(IntervalMessage, AlarmMessageHoldsTimeAndWord) {
    EXPECT_EQ(R"({"time":"2026-12-09T07:00:01.250+00:00","word":65012})",
              alarmJson("2026-12-09T07:00:01.250+00:00", 65012).dump());
}

namespace {

std::vector<std::string> payloadsHanded(OutboundQueue& queue, std::size_t most, int firstMid) {
    std::vector<std::string> handed;
    for (int mid = firstMid; handed.size() < most; ++mid) {
        OutboundMessage* next = queue.nextToHand();
        if (next == nullptr) break;
        handed.push_back(next->payload);
        queue.markHanded(next, mid);
    }
    return handed;
}

}  // namespace

TEST(OutboundQueue, HandsMessagesOnceInOrderAndLetsThemGoOnTheirAcknowledgement) {
    OutboundQueue queue(10);
    for (const char* payload : {"a", "b", "c"}) queue.push("t", payload);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), payloadsHanded(queue, 2, 1));
    EXPECT_EQ(2u, queue.handedCount());
    // A reconnect hands on from where it was: the library resends a and b.
    EXPECT_EQ((std::vector<std::string>{"c"}), payloadsHanded(queue, 5, 3));
    EXPECT_EQ(nullptr, queue.nextToHand());
    EXPECT_TRUE(queue.acknowledge(2));
    EXPECT_FALSE(queue.acknowledge(2)) << "an acknowledgement that came twice";
    EXPECT_FALSE(queue.acknowledge(99));
    EXPECT_TRUE(queue.acknowledge(1));
    EXPECT_TRUE(queue.acknowledge(3));
    EXPECT_EQ(0u, queue.size());
    EXPECT_EQ(0u, queue.handedCount());
}

TEST(OutboundQueue, FullQueueDropsTheOldestNotHandedAndCountsThem) {
    OutboundQueue queue(3);
    for (const char* payload : {"1", "2", "3"}) queue.push("t", payload);
    payloadsHanded(queue, 1, 1);  // "1" is with the library now
    queue.push("t", "4");
    queue.push("t", "5");
    EXPECT_EQ(3u, queue.size());
    EXPECT_EQ(2u, queue.takeDropped());
    EXPECT_EQ(0u, queue.takeDropped()) << "the count starts again after each report";
    EXPECT_EQ((std::vector<std::string>{"4", "5"}), payloadsHanded(queue, 5, 2))
        << "2 and 3 went; 1 stays with the library";
    EXPECT_TRUE(queue.acknowledge(1));
}

TEST(OutboundQueue, WhenEveryMessageIsWithTheLibraryTheNewOneGoes) {
    OutboundQueue queue(2);
    queue.push("t", "1");
    queue.push("t", "2");
    payloadsHanded(queue, 2, 1);
    queue.push("t", "3");
    EXPECT_EQ(2u, queue.size());
    EXPECT_EQ(1u, queue.takeDropped());
    EXPECT_EQ(nullptr, queue.nextToHand());
}

namespace {

using Clock = ReconnectBackoff::Clock;
using std::chrono::seconds;

long waitSeconds(Clock::duration wait) { return static_cast<long>(std::chrono::duration_cast<seconds>(wait).count()); }

}  // namespace

TEST(ReconnectBackoff, FailedAttemptsWaitFromOneSecondDoublingToThirty) {
    ReconnectBackoff backoff(std::chrono::minutes(5));
    Clock::time_point now{};
    EXPECT_TRUE(backoff.due(now));
    std::vector<long> waits;
    for (int i = 0; i < 8; ++i) waits.push_back(waitSeconds(backoff.failed(now)));
    EXPECT_EQ((std::vector<long>{1, 2, 4, 8, 16, 30, 30, 30}), waits);
    EXPECT_FALSE(backoff.due(now + seconds(29)));
    EXPECT_TRUE(backoff.due(now + seconds(30)));
}

// A broker that accepts and drops: the wait keeps growing, and after three
// such connections it is the refusal's until one stays up 30 s.
TEST(ReconnectBackoff, OnlyAConnectionThatStayedUpThirtySecondsStartsTheWaitsAgain) {
    ReconnectBackoff backoff(std::chrono::minutes(5));
    Clock::time_point now{};
    std::vector<long> waits;
    for (int i = 0; i < 4; ++i) {
        backoff.connected(now);
        now += seconds(29);
        waits.push_back(waitSeconds(backoff.lost(now)));
    }
    EXPECT_EQ((std::vector<long>{1, 2, 300, 300}), waits);
    EXPECT_TRUE(backoff.flapping());
    backoff.connected(now);
    EXPECT_FALSE(backoff.confirmStable(now + seconds(29)));
    EXPECT_TRUE(backoff.confirmStable(now + seconds(30))) << "the end of the flapping is told once";
    EXPECT_FALSE(backoff.confirmStable(now + seconds(31)));
    EXPECT_FALSE(backoff.flapping());
    EXPECT_EQ(1, waitSeconds(backoff.lost(now + seconds(600))));
    EXPECT_EQ(2, waitSeconds(backoff.failed(now + seconds(601))));
}

TEST(ReconnectBackoff, ARefusalWaitsTheRetryPeriod) {
    ReconnectBackoff backoff(seconds(90));
    Clock::time_point now{};
    EXPECT_EQ(90, waitSeconds(backoff.refused(now)));
    EXPECT_FALSE(backoff.due(now + seconds(89)));
    EXPECT_TRUE(backoff.due(now + seconds(90)));
}

namespace {

std::vector<std::string> handAllDue(RetainedTopics& retained, int* nextMid) {
    std::vector<std::string> handed;
    for (const auto& [topic, payload] : retained.due()) {
        handed.push_back(topic + "=" + payload);
        retained.handed(topic, (*nextMid)++);
    }
    return handed;
}

}  // namespace

TEST(RetainedTopics, ACopyStillUnacknowledgedIsNotHandedAgainAtTheNextConnection) {
    RetainedTopics retained;
    int mid = 1;
    retained.set("status", "online");
    retained.set("info", "{}");
    retained.connectionStarted();
    EXPECT_EQ((std::vector<std::string>{"info={}", "status=online"}), handAllDue(retained, &mid));
    EXPECT_TRUE(retained.acknowledge(1)) << "info";
    for (int flap = 0; flap < 3; ++flap) {
        retained.connectionStarted();
        EXPECT_EQ((std::vector<std::string>{"info={}"}), handAllDue(retained, &mid))
            << "status is still with the library, which sends it again itself";
        EXPECT_TRUE(retained.acknowledge(mid - 1));
    }
    EXPECT_FALSE(retained.settled("status"));
    EXPECT_TRUE(retained.acknowledge(2));
    EXPECT_TRUE(retained.settled("status"));
    EXPECT_FALSE(retained.acknowledge(2));
}

TEST(RetainedTopics, ANewerPayloadWaitsForTheEarlierCopysAcknowledgement) {
    RetainedTopics retained;
    int mid = 7;
    retained.set("status", "online");
    handAllDue(retained, &mid);
    retained.set("status", "device-lost");
    retained.set("status", "offline");
    EXPECT_TRUE(retained.due().empty());
    EXPECT_FALSE(retained.settled("status"));
    EXPECT_TRUE(retained.acknowledge(7));
    EXPECT_EQ((std::vector<std::string>{"status=offline"}), handAllDue(retained, &mid)) << "only the newest";
    retained.notHanded("other");
    EXPECT_TRUE(retained.due().empty());
}

TEST(ThrottledCount, TheFirstIsToldAtOnceThenAtMostOnceAMinuteWithTheCount) {
    ThrottledCount dropped(std::chrono::minutes(1));
    Clock::time_point now{};
    EXPECT_EQ(0u, dropped.take(now));
    dropped.add(1);
    EXPECT_EQ(1u, dropped.take(now));
    std::vector<uint64_t> told;
    for (int second = 1; second <= 130; ++second) {
        dropped.add(5);
        if (uint64_t count = dropped.take(now + seconds(second))) told.push_back(count);
    }
    EXPECT_EQ((std::vector<uint64_t>{300, 300}), told) << "at 60 s and 120 s";
    EXPECT_EQ(50u, dropped.takeRest());
    EXPECT_EQ(651u, dropped.total());
}

TEST(MetricsAddress, PortAloneIsLoopbacksAndAHostOrBracketedAddressIsTaken) {
    ListenAddress a;
    ASSERT_TRUE(parseListenAddress("9770", &a));
    EXPECT_EQ("127.0.0.1", a.host);
    EXPECT_EQ(9770, a.port);
    ASSERT_TRUE(parseListenAddress("0.0.0.0:80", &a));
    EXPECT_EQ("0.0.0.0", a.host);
    ASSERT_TRUE(parseListenAddress("[::1]:9770", &a));
    EXPECT_EQ("::1", a.host);
    for (const char* bad : {"", "0", "65536", ":9770", "host:", "x:9a", "[::1]", "a b:1", "99999999999"})
        EXPECT_FALSE(parseListenAddress(bad, &a)) << bad;
}

TEST(MetricsPage, LabelValuesEscapeBackslashQuoteAndLineBreak) {
    EXPECT_EQ(R"(a\\b\"c\nd)", labelValue("a\\b\"c\nd"));
}

TEST(Discovery, OnlyHomeAssistantWithAnOptionalPrefixIsTaken) {
    std::string prefix;
    ASSERT_TRUE(parseDiscovery("homeassistant", &prefix));
    EXPECT_EQ("homeassistant", prefix);
    ASSERT_TRUE(parseDiscovery("homeassistant:ha/plant", &prefix));
    EXPECT_EQ("ha/plant", prefix);
    for (const char* bad : {"", "openhab", "homeassistant:", "homeassistant:a/+", "homeassistantx", "HomeAssistant"})
        EXPECT_FALSE(parseDiscovery(bad, &prefix)) << bad;
    EXPECT_EQ("plant_hall_2_p-3__", discoveryNode({"homeassistant", "plant/hall 2/p-3ä/", "p-3ä"}));
}

// What a share's client sends reaches the device as whole frames only.
TEST(ShareClientFrames, WholeFramesPassAndOtherLinesAreLeftOut) {
    const std::vector<uint8_t> sent{0xF1, 0xE1, 0x11, 0xA1, 0x84, '\r', 'A', 'T', '\r',
                                    1,    2,    3,    4,    5,    6,    7,  '\r', 0x01, 0xD1, 0x51, 0xC1, 0xE4, '\r'};
    ClientFrames frames;
    std::vector<std::vector<uint8_t>> passed;
    for (uint8_t byte : sent) {
        uint8_t frame[FRAME_SIZE];
        if (frames.take(byte, frame)) passed.emplace_back(frame, frame + FRAME_SIZE);
    }
    ASSERT_EQ(2u, passed.size());
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 6), passed[0]);
    EXPECT_EQ(std::vector<uint8_t>(sent.end() - 6, sent.end()), passed[1]);
    EXPECT_EQ(2, frames.dropped());
    EXPECT_FALSE(frameIsParameterWrite(passed[0].data()));
    EXPECT_TRUE(frameIsParameterWrite(passed[1].data()));
}
