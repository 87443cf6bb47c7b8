// elq770-sim: stands in for the device on the other end of a serial line.
// One thread: a poll loop that reads the program's frames as they come and,
// every 20 ms, sends one step of the device's reply words; or, with
// --replay, sends a recording's device packets at their recorded times.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <unistd.h>
#include <vector>

#include "tools/sim/device_model.h"
#include "tools/sim/device_wire.h"
#include "tools/sim/frame_log.h"
#include "tools/sim/line_faults.h"
#include "tools/sim/replay_file.h"
#include "tools/sim/serial_line.h"
#include "tools/sim/sim_options.h"

namespace {

constexpr uint32_t STEP_MS = 20;
constexpr uint32_t MAX_LAG_MS = 200;

std::atomic<int> stopRequested{0};

void requestStop(int) { stopRequested.store(1, std::memory_order_relaxed); }

void installSignals() {
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int64_t monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

uint32_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

struct Simulator {
    sim::SimOptions& options;
    sim::SerialLine line;
    sim::FrameLog log;
    sim::FrameDecoder decoder;
    uint32_t startMs;
    sim::DeviceModel model;
    sim::LineWriter writer;
    std::vector<uint16_t> words;
    std::vector<uint8_t> bytes;
    bool hungUp = false;
    sim::ReplayFile replay;

    Simulator(sim::SimOptions& opts, uint32_t now)
        : options(opts),
          startMs(now),
          model(opts.model, 0),
          writer(sim::LineFaults{opts.dropPercent, opts.corruptPercent, opts.garbage}, opts.model.seed) {}

    uint32_t elapsed() const { return monotonicMs() - startMs; }
    void receive();
    void sendStep(uint32_t elapsedMs);
    void maybeHangUp(uint32_t elapsedMs);
    void run();
    void runReplay();
};

void Simulator::receive() {
    uint8_t buffer[256];
    int count = line.readSome(buffer, sizeof buffer);
    for (int i = 0; i < count; ++i) {
        sim::FrameEvent events[2];
        int found = decoder.feed(buffer[i], events);
        for (int e = 0; e < found; ++e) {
            uint32_t now = elapsed();
            log.write(now, events[e]);
            if (events[e].kind == sim::FrameEvent::WORD) model.receiveWord(events[e].word, now);
        }
    }
}

void Simulator::sendStep(uint32_t elapsedMs) {
    words.clear();
    bytes.clear();
    model.step(elapsedMs, words);
    if (options.silent || hungUp) return;
    for (uint16_t word : words) writer.append(word, bytes);
    line.writeAll(bytes.data(), static_cast<int>(bytes.size()));
    // The word of code 3000 ends a parameter answer: noted for measurements.
    for (uint16_t word : words)
        if (word >= 3000 && word < 3010) log.note(elapsedMs, "ANSWERED");
}

void Simulator::maybeHangUp(uint32_t elapsedMs) {
    if (hungUp || options.hangupAfterSeconds < 0) return;
    if (elapsedMs < static_cast<uint32_t>(options.hangupAfterSeconds) * 1000u) return;
    line.hangUp();
    hungUp = true;
    log.note(elapsedMs, "HANGUP");
    std::printf("elq770-sim: hung up\n");
    std::fflush(stdout);
}

void Simulator::run() {
    uint32_t nextStep = elapsed();
    while (stopRequested.load(std::memory_order_relaxed) == 0) {
        uint32_t now = elapsed();
        int wait = static_cast<int32_t>(nextStep - now) > 0 ? static_cast<int>(nextStep - now) : 0;
        pollfd watch{line.fd(), POLLIN, 0};
        int ready = poll(&watch, line.fd() >= 0 ? 1 : 0, wait);
        if (ready > 0 && (watch.revents & POLLIN) != 0) receive();
        now = elapsed();
        maybeHangUp(now);
        if (static_cast<int32_t>(now - nextStep) < 0) continue;
        sendStep(now);
        nextStep += STEP_MS;
        // After a stall, carry on from now instead of sending a burst.
        if (static_cast<int32_t>(now - nextStep) > static_cast<int32_t>(MAX_LAG_MS)) nextStep = now + STEP_MS;
    }
}

// The packets go out at absolute times from the start (offset / speed), so
// a late packet does not delay the ones after it. A loop starts the next
// round one 20 ms step (at speed) after the last packet.
void Simulator::runReplay() {
    const std::vector<sim::ReplayPacket>& packets = replay.packets;
    double speed = options.replaySpeed;
    int64_t base = monotonicUs();
    size_t next = 0;
    auto due = [&](size_t index) { return base + static_cast<int64_t>(static_cast<double>(packets[index].offsetUs) / speed); };
    while (stopRequested.load(std::memory_order_relaxed) == 0) {
        int wait = -1;
        if (next < packets.size()) {
            int64_t ahead = due(next) - monotonicUs();
            wait = ahead > 0 ? static_cast<int>((ahead + 999) / 1000) : 0;
        }
        pollfd watch{line.fd(), POLLIN, 0};
        int ready = poll(&watch, line.fd() >= 0 ? 1 : 0, wait);
        if (ready > 0 && (watch.revents & POLLIN) != 0) receive();
        int64_t now = monotonicUs();
        while (next < packets.size() && now >= due(next)) {
            line.writeAll(packets[next].bytes.data(), static_cast<int>(packets[next].bytes.size()));
            ++next;
        }
        if (next < packets.size() || wait == -1) continue;
        log.note(elapsed(), "REPLAYED");
        if (options.replayLoop) {
            base = due(packets.size() - 1) + static_cast<int64_t>(STEP_MS * 1000 / speed);
            next = 0;
            continue;
        }
        std::printf("elq770-sim: replay done\n");
        std::fflush(stdout);
    }
}

int openLine(sim::SimOptions& options, sim::SerialLine& line) {
    std::string error;
    int opened = options.portPath.empty() ? line.openPseudoTerminal(options.linkPath, error)
                                          : line.openDevice(options.portPath, error);
    if (!opened) {
        std::fprintf(stderr, "elq770-sim: %s\n", error.c_str());
        return 0;
    }
    if (options.linkPath.empty()) {
        std::printf("elq770-sim: device on %s\n", line.name().c_str());
    } else {
        std::printf("elq770-sim: device on %s, linked as %s\n", line.name().c_str(), options.linkPath.c_str());
    }
    std::fflush(stdout);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string error;
    switch (sim::parseOptions(argc, argv, options, error)) {
    case sim::ParseResult::HELP:
        std::fputs(sim::helpText(), stdout);
        return 0;
    case sim::ParseResult::FAILED:
        std::fprintf(stderr, "elq770-sim: %s\nTry 'elq770-sim --help'.\n", error.c_str());
        return 2;
    case sim::ParseResult::OK:
        break;
    }
    if (!options.seedGiven) options.model.seed = static_cast<uint32_t>(time(nullptr)) ^ (static_cast<uint32_t>(getpid()) << 16);
    sim::ReplayFile replay;
    if (!options.replayPath.empty()) {
        if (!sim::readReplayFile(options.replayPath, replay, error)) {
            std::fprintf(stderr, "elq770-sim: %s\n", error.c_str());
            return 3;
        }
        if (!replay.warning.empty()) std::fprintf(stderr, "elq770-sim: %s: %s\n", options.replayPath.c_str(), replay.warning.c_str());
    }
    installSignals();
    Simulator simulator(options, monotonicMs());
    simulator.replay = std::move(replay);
    if (!options.logPath.empty() && !simulator.log.open(options.logPath)) {
        std::fprintf(stderr, "elq770-sim: cannot write log %s\n", options.logPath.c_str());
        return 1;
    }
    // The log's time base on CLOCK_MONOTONIC, so that a measuring tool can
    // set the logged times against its own clock.
    char start[48];
    std::snprintf(start, sizeof start, "START %lu", static_cast<unsigned long>(simulator.startMs));
    simulator.log.note(0, start);
    if (!openLine(options, simulator.line)) return 1;
    if (options.replayPath.empty())
        simulator.run();
    else
        simulator.runReplay();
    simulator.line.hangUp();
    return 0;
}
