#include "tools/sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

const char HELP[] =
    "Usage: elq770-sim [OPTION]...\n"
    "Stands in for an ELQ770 on a serial line: streams a measurement every 20 ms,\n"
    "answers data requests, takes parameter writes. Runs until SIGTERM or SIGINT.\n"
    "\n"
    "  --link PATH             pseudo-terminal mode: make a symlink PATH to the program's side\n"
    "  --port DEVICE           use a serial device at 9600 8N1 instead of a pseudo-terminal\n"
    "  --log FILE              log each received frame as \"SECONDS WORD\" or \"SECONDS BAD HEX...\"\n"
    "  --text TEXT             identification text, 1..31 printable characters (default \"ELQ770 SIM 1.0\")\n"
    "  --level N               hold the measurement at N (0..127): no swings, noise or spikes\n"
    "  --limit2                start with Limit 2 active\n"
    "  --setpoint1 N           Limit 1 setpoint, 5..99 (default 60)\n"
    "  --setpoint2 N           Limit 2 setpoint, 5..99 (default 20)\n"
    "  --param CODE=VALUE      set the parameter of that code (3000..4500) within its range; repeatable\n"
    "  --silent                send nothing at all\n"
    "  --no-answer             never answer a data request (65050)\n"
    "  --drop PERCENT          leave out that share of reply lines (0..100)\n"
    "  --corrupt PERCENT       spoil the checksum of that share of reply lines (0..100)\n"
    "  --garbage               send short lines of garbage between reply lines\n"
    "  --hangup-after SECONDS  hang up after that many seconds: close the line, remove the link\n"
    "  --wrong-params          answer the last written parameter off by one\n"
    "  --seed N                fixed random seed (default: from the time)\n"
    "  --replay FILE           play the device's packets of a recording (pcap) with their recorded\n"
    "                          spacing instead of the model; log what arrives, answer nothing\n"
    "  --speed X               with --replay: divide the spacing by X (0.01..1000, default 1)\n"
    "  --loop                  with --replay: start again after the last packet\n"
    "  --help                  show this help and exit\n"
    "\n"
    "Exit codes: 0 stopped, 1 line or log not opened, 2 bad command line, 3 replay file refused.\n";

// Whole decimal number within [low, high]; 1 on success.
int readNumber(const char* text, long low, long high, long& value) {
    if (text == nullptr || *text == '\0') return 0;
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return 0;
    value = parsed;
    return 1;
}

int validText(const std::string& text) {
    if (text.empty() || text.size() > static_cast<size_t>(TEXT_MAX)) return 0;
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return 0;
    return 1;
}

int setParameterOption(ModelConfig& model, const char* text) {
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) return 0;
    std::string code(text, static_cast<size_t>(equals - text));
    long codeValue = 0;
    long value = 0;
    if (!readNumber(code.c_str(), 0, 65535, codeValue) || !readNumber(equals + 1, 0, 65535, value)) return 0;
    return model.setParameter(static_cast<uint16_t>(codeValue), static_cast<uint16_t>(value));
}

class OptionReader {
public:
    OptionReader(SimOptions& options, std::string& error) : options_(options), error_(error) {}

    // Applies one option; value is its argument (nullptr for flags).
    int apply(const std::string& name, const char* value);
    static bool takesValue(const std::string& name);

private:
    int number(const char* value, long low, long high, int& target);

    SimOptions& options_;
    std::string& error_;
};

bool OptionReader::takesValue(const std::string& name) {
    static const char* const withValue[] = {"link", "port", "log", "text", "level", "setpoint1",
                                            "setpoint2", "param", "drop", "corrupt", "hangup-after", "seed",
                                            "replay", "speed"};
    for (const char* candidate : withValue)
        if (name == candidate) return true;
    return false;
}

int OptionReader::number(const char* value, long low, long high, int& target) {
    long parsed = 0;
    if (!readNumber(value, low, high, parsed)) return 0;
    target = static_cast<int>(parsed);
    return 1;
}

int OptionReader::apply(const std::string& name, const char* value) {
    ModelConfig& model = options_.model;
    int number1 = 0;
    if (name == "link") { options_.linkPath = value; return !options_.linkPath.empty(); }
    if (name == "port") { options_.portPath = value; return !options_.portPath.empty(); }
    if (name == "log") { options_.logPath = value; return !options_.logPath.empty(); }
    if (name == "text") { model.text = value; return validText(model.text); }
    if (name == "level") return number(value, 0, MEASUREMENT_MAX, model.fixedLevel);
    if (name == "limit2") { model.activeLimit = 1; return 1; }
    if (name == "setpoint1") return number(value, 5, 99, number1) && model.setParameter(3100, static_cast<uint16_t>(number1));
    if (name == "setpoint2") return number(value, 5, 99, number1) && model.setParameter(3200, static_cast<uint16_t>(number1));
    if (name == "param") return setParameterOption(model, value);
    if (name == "silent") { options_.silent = true; return 1; }
    if (name == "no-answer") { model.noAnswer = true; return 1; }
    if (name == "drop") return number(value, 0, 100, options_.dropPercent);
    if (name == "corrupt") return number(value, 0, 100, options_.corruptPercent);
    if (name == "garbage") { options_.garbage = true; return 1; }
    if (name == "hangup-after") return number(value, 0, 86400, options_.hangupAfterSeconds);
    if (name == "wrong-params") { model.wrongParameters = true; return 1; }
    if (name == "replay") { options_.replayPath = value; return !options_.replayPath.empty(); }
    if (name == "speed") {
        errno = 0;
        char* end = nullptr;
        double speed = std::strtod(value, &end);
        if (errno != 0 || end == value || *end != '\0' || !(speed >= 0.01 && speed <= 1000)) return 0;
        options_.replaySpeed = speed;
        return 1;
    }
    if (name == "loop") { options_.replayLoop = true; return 1; }
    if (name == "seed") {
        long seed = 0;
        if (!readNumber(value, 0, 4294967295L, seed)) return 0;
        model.seed = static_cast<uint32_t>(seed);
        options_.seedGiven = true;
        return 1;
    }
    error_ = "unknown option --" + name;
    return 0;
}

}  // namespace

const char* helpText() { return HELP; }

ParseResult parseOptions(int argc, const char* const* argv, SimOptions& options, std::string& error) {
    OptionReader reader(options, error);
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--", 0) != 0) {
            error = "unexpected argument " + argument;
            return ParseResult::FAILED;
        }
        std::string name = argument.substr(2);
        if (name == "help") return ParseResult::HELP;
        std::string inlineValue;
        size_t equals = name.find('=');
        bool hasInline = equals != std::string::npos;
        if (hasInline) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const char* value = nullptr;
        if (OptionReader::takesValue(name)) {
            if (hasInline) {
                value = inlineValue.c_str();
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = "--" + name + " needs a value";
                return ParseResult::FAILED;
            }
        } else if (hasInline) {
            error = "--" + name + " takes no value";
            return ParseResult::FAILED;
        }
        if (!reader.apply(name, value)) {
            if (error.empty()) error = "bad value for --" + name + ": " + (value != nullptr ? value : "");
            return ParseResult::FAILED;
        }
    }
    if (!options.linkPath.empty() && !options.portPath.empty()) {
        error = "--link and --port exclude each other";
        return ParseResult::FAILED;
    }
    if (options.replayPath.empty() && (options.replayLoop || options.replaySpeed != 1)) {
        error = "--speed and --loop go with --replay";
        return ParseResult::FAILED;
    }
    return ParseResult::OK;
}

}  // namespace sim
