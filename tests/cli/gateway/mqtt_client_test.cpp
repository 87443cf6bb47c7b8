// The gateway's broker connection on its own, against a Mosquitto of the
// test's own: what it promises its caller when the broker comes late and
// when a broker comes back without its store. (What a whole gateway sends
// across outages, refusals and TLS is checked end to end in publish_test.)
#include "cli/gateway/mqtt_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "cli/console/exit_codes.h"
#include "cli/gateway/messages.h"
#include "cli/gateway/password.h"
#include "tests/cli/cli_harness.h"
#include "tests/cli/mqtt_broker.h"

using namespace clitest;

namespace {

MqttSettings settingsFor(const MqttBroker& broker, const std::string& clientId) {
    MqttSettings settings;
    settings.urls = {broker.url()};
    BrokerAddress address;
    parseBrokerUrl(broker.url(), &address);
    settings.brokers = {address};
    settings.clientId = clientId;
    return settings;
}

// Serves the clients, and the watcher when there is one, until done() or
// timeoutMs has passed; done()'s last answer.
bool serveUntil(std::vector<MqttClient*> clients, MqttSubscriber* watcher, int timeoutMs,
                const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        for (MqttClient* client : clients) client->service();
        if (watcher != nullptr)
            watcher->waitFor(5, [] { return false; });
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::string> payloads(const std::vector<ReceivedMessage>& messages) {
    std::vector<std::string> found;
    for (const ReceivedMessage& message : messages) found.push_back(message.payload);
    return found;
}

}  // namespace

TEST(MqttClient, WhatWasSentBeforeTheBrokerCameArrivesOnceInOrderAndARetainedTopicAsItsLatest) {
    if (!MqttBroker::installed()) GTEST_SKIP() << "no /usr/sbin/mosquitto (Debian mosquitto): skipped";
    std::string dir = workDir();
    MqttBroker broker(dir);
    std::vector<std::string> notes;
    MqttClient client(settingsFor(broker, "late"), [&](const std::string& text) { notes.push_back(text); });
    Password none;
    ASSERT_EQ(EXIT_DONE, client.start(&none));
    client.setRetained("unit/late/info", "first");
    client.setRetained("unit/late/info", "latest");
    for (const char* value : {"1", "2", "3", "4", "5"}) client.publishQueued("unit/late/m", value);
    serveUntil({&client}, nullptr, 300, [] { return false; });
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(5u, client.queued());
    EXPECT_FALSE(client.settled());

    ASSERT_TRUE(broker.start());
    MqttSubscriber watcher(broker.port(), "watcher", "unit/#");
    ASSERT_FALSE(watcher.waitFor(500, [] { return false; }));  // subscribed before the client comes
    ASSERT_TRUE(serveUntil({&client}, &watcher, 15000, [&] {
        return client.isConnected() && client.queued() == 0 && client.settled() &&
               watcher.on("unit/late/m").size() >= 5 && !watcher.on("unit/late/info").empty();
    })) << (notes.empty() ? "" : notes.back());
    serveUntil({&client}, &watcher, 300, [] { return false; });  // nothing more follows
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4", "5"}), payloads(watcher.on("unit/late/m")));
    EXPECT_EQ(std::vector<std::string>{"latest"}, payloads(watcher.on("unit/late/info")));
    EXPECT_EQ(0u, client.reconnects());
    EXPECT_GT(client.lastPublish(), 0.0);
    EXPECT_EQ(0u, client.droppedTotal());
}

// A broker replaced or restarted without its persistence file knows
// neither the gateway's subscription nor its retained state: the client
// brings both at each connection.
TEST(MqttClient, ABrokerBackWithoutItsStoreGetsTheRetainedTopicsAndTheSubscriptionAgain) {
    if (!MqttBroker::installed()) GTEST_SKIP() << "no /usr/sbin/mosquitto (Debian mosquitto): skipped";
    std::string dir = workDir();
    MqttBroker broker(dir);
    ASSERT_TRUE(broker.start());
    MqttSettings settings = settingsFor(broker, "gateway");
    settings.subscriptions = {"unit/ha/status"};
    MqttClient client(settings, [](const std::string&) {});
    std::vector<std::string> arrived;
    client.onMessage([&](const std::string& topic, const std::string& payload) { arrived.push_back(topic + " " + payload); });
    Password none;
    ASSERT_EQ(EXIT_DONE, client.start(&none));
    client.setRetained("unit/gw/info", "held");
    ASSERT_TRUE(serveUntil({&client}, nullptr, 10000, [&] { return client.isConnected() && client.settled(); }));

    broker.stop();
    std::filesystem::remove(dir + "/mosquitto.db");
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(serveUntil({&client}, nullptr, 15000,
                           [&] { return client.reconnects() == 1 && client.isConnected() && client.settled(); }));
    MqttSubscriber watcher(broker.port(), "watcher", "unit/gw/#");
    ASSERT_TRUE(watcher.waitFor(5000, [&] { return !watcher.on("unit/gw/info").empty(); }));
    EXPECT_EQ(std::vector<std::string>{"held"}, payloads(watcher.on("unit/gw/info")));

    MqttClient home(settingsFor(broker, "home"), [](const std::string&) {});
    Password alsoNone;
    ASSERT_EQ(EXIT_DONE, home.start(&alsoNone));
    ASSERT_TRUE(serveUntil({&home}, nullptr, 10000, [&] { return home.isConnected(); }));
    home.publishQueued("unit/ha/status", "online");
    EXPECT_TRUE(serveUntil({&client, &home}, nullptr, 5000, [&] { return !arrived.empty(); }));
    EXPECT_EQ(std::vector<std::string>{"unit/ha/status online"}, arrived);
}
