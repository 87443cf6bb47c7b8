// Measures a parameter-file load end to end: the real elq770.exe under Wine
// against the simulator. From OK in the open dialog to the first parameter
// word on the line, through the sixteen words, to the device's answer to the
// confirmation request, set against the protocol's bound of sixteen 47 ms
// pump ticks plus the answer. Prints "figure:" lines; tools/measure.sh runs
// it. It measures and never fails on a slow machine.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/sim_log.h"

namespace {

const char* MAIN_CLASS = "BRISCA";
constexpr int RUNS = 5;

double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

struct LogEntry {
    double ms;         // on CLOCK_MONOTONIC
    std::string what;  // the word, or a note
    bool note;
};

// Words and notes in the order logged, set against the simulator's START
// note so that they share the measuring clock.
std::vector<LogEntry> readLog(const std::string& path) {
    std::vector<LogEntry> entries;
    double start = 0;
    for (const e2e::LoggedNote& note : e2e::simulatorLogNotes(path)) {
        if (note.text.rfind("START ", 0) == 0) start = std::strtod(note.text.c_str() + 6, nullptr);
        entries.push_back({note.seconds * 1000.0, note.text, true});
    }
    for (const e2e::LoggedWord& word : e2e::simulatorLogWords(path))
        entries.push_back({word.seconds * 1000.0, std::to_string(word.word), false});
    // A note in the same millisecond as a word follows it: the simulator
    // answers only after it has taken the word.
    std::stable_sort(entries.begin(), entries.end(), [](const LogEntry& a, const LogEntry& b) {
        return a.ms < b.ms || (a.ms == b.ms && !a.note && b.note);
    });
    for (LogEntry& entry : entries) entry.ms += start;
    return entries;
}

bool isParameterWord(const std::string& what) {
    if (what.empty() || !std::isdigit(static_cast<unsigned char>(what[0]))) return false;
    long word = std::stol(what);
    return word >= 3000 && word < 65000;
}

void answerDialog(const std::string& title, const std::string& path, double* okAt) {
    e2e::waitWindow("title=" + title, 10000);
    e2e::probe({"set-text", "title=" + title, "1148", e2e::winPath(path)});
    *okAt = monotonicMs();
    e2e::probe({"post", "title=" + title, ".", "273", "1", "0"});
}

void figure(const char* name, std::vector<double> values, const char* note) {
    std::sort(values.begin(), values.end());
    std::printf("figure: %s median %.0f ms, range %.0f-%.0f ms (%zu runs) %s\n", name,
                values[values.size() / 2], values.front(), values.back(), values.size(), note);
}

TEST(Measure, ParameterFileLoadToConfirmation) {
    e2e::WineEnv::shared().unlinkAllComPorts();
    std::string dir = e2e::makeWorkDir("Measure.ParameterFileLoad");
    e2e::Simulator sim(1);
    e2e::WineProcess app(e2e::windowsExe("elq770.exe"), {}, dir);
    ASSERT_TRUE(e2e::waitWindow(MAIN_CLASS, 20000).found);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::string file = dir + "/unit.770";
    double ignored = 0;
    e2e::probe({"post-command", MAIN_CLASS, "2009"});
    answerDialog("Save As", file, &ignored);
    ASSERT_TRUE(e2e::waitForFile(file, 5000));

    std::vector<double> toFirst, sixteen, toAnswer, total;
    for (int run = 0; run < RUNS; ++run) {
        size_t seen = readLog(sim.logPath()).size();
        double okAt = 0;
        e2e::probe({"post-command", MAIN_CLASS, "2010"});
        answerDialog("Open", file, &okAt);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        std::vector<LogEntry> log = readLog(sim.logPath());
        log.erase(log.begin(), log.begin() + static_cast<long>(seen));
        auto first = std::find_if(log.begin(), log.end(), [](const LogEntry& e) { return isParameterWord(e.what); });
        ASSERT_NE(first, log.end()) << "no parameter word arrived";
        auto request = std::find_if(first, log.end(), [](const LogEntry& e) { return e.what == "65050"; });
        auto answer = std::find_if(request, log.end(), [](const LogEntry& e) { return e.what == "ANSWERED"; });
        ASSERT_NE(answer, log.end()) << "no confirmation answer";
        toFirst.push_back(first->ms - okAt);
        sixteen.push_back(request->ms - first->ms);
        toAnswer.push_back(answer->ms - request->ms);
        total.push_back(answer->ms - okAt);
    }
    figure("load_ok_to_first_word", toFirst, "(includes the posted OK and the dialog closing)");
    figure("load_first_word_to_request", sixteen, "(16 pump ticks: bound 16 x 47 = 752 ms)");
    figure("load_request_to_answer", toAnswer, "(the device's answer, ended by its code-3000 word)");
    figure("load_ok_to_confirmation_answer", total, "(bound: 752 ms + the answer time)");
    e2e::probe({"close", MAIN_CLASS});
    app.wait(10000);
}

}  // namespace
