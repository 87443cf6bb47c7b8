#include "tests/e2e/sim_log.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

template <typename Visit>
void forEachLogLine(const std::string& path, Visit visit) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string seconds, second;
        if (fields >> seconds >> second) visit(seconds, second);
    }
}

}  // namespace

std::vector<LoggedWord> simulatorLogWords(const std::string& logPath) {
    std::vector<LoggedWord> words;
    forEachLogLine(logPath, [&](const std::string& seconds, const std::string& field) {
        if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos) return;
        unsigned long value = std::strtoul(field.c_str(), nullptr, 10);
        if (value <= 0xFFFF) words.push_back({std::strtod(seconds.c_str(), nullptr), static_cast<uint16_t>(value)});
    });
    return words;
}

std::vector<LoggedNote> simulatorLogNotes(const std::string& logPath) {
    std::vector<LoggedNote> notes;
    std::ifstream in(logPath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string seconds, first;
        if (!(fields >> seconds >> first) || first == "BAD") continue;
        if (first.find_first_not_of("0123456789") == std::string::npos) continue;  // a word
        std::string rest;
        std::getline(fields, rest);
        notes.push_back({std::strtod(seconds.c_str(), nullptr), first + rest});
    }
    return notes;
}

int simulatorLogBadFrames(const std::string& logPath) {
    int count = 0;
    forEachLogLine(logPath, [&](const std::string&, const std::string& field) { count += field == "BAD"; });
    return count;
}

}  // namespace e2e
