// elq770ctl decode: a recording of the serial line as text, one line per
// packet, with what the program makes of each reply line and command frame.
// Each direction's bytes are cut into lines at CR as the receive parser does
// it (assembleLineByte), across packets: a torn line that the next packet
// ends is understood there, as the program would have understood it.
#include "cli/commands/command_table.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/console/exit_codes.h"
#include "cli/recording/recording_reader.h"
#include "link/line_recording.h"
#include "link/receive_parser.h"
#include "link/word_meaning.h"

namespace {

struct DecodeOptions {
    std::string path;
    bool json = false;
};

// What the command line gave; a run of the tool runs one subcommand once.
DecodeOptions parsed;

constexpr uint8_t CR = 13;

std::string hexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%s%02x", i == 0 ? "" : " ", bytes[i]);
        text += two;
    }
    return text;
}

std::string characterText(int32_t character) {
    if (character == CR) return "end of text";
    if (character >= 0x20 && character < 0x7f) return std::string("'") + static_cast<char>(character) + "'";
    return "character " + std::to_string(character);
}

// One reply line or command frame: its check, word and meaning.
nlohmann::json describeLine(const uint8_t* line, RecordingDirection direction) {
    nlohmann::json item;
    bool ok = lineChecksumOk(line) != 0;
    item["checksum_ok"] = ok;
    if (lineLength(line) == 0) {
        item["meaning"] = "empty line";
        return item;
    }
    uint16_t word = decodeLineValue(line);
    item["word"] = word;
    std::string text;
    if (direction == TO_DEVICE) {
        CommandMeaning command = describeCommandWord(word);
        item["command"] = command.kindName;
        text = command.kindName;
        if (command.kind == COMMAND_SET_PARAMETER) {
            item["field"] = command.field;
            item["value"] = command.value;
            text += std::string(" ") + command.field + " = " + std::to_string(command.value);
        }
    } else {
        WordMeaning meaning = describeReplyWord(word);
        item["band"] = meaning.bandName;
        switch (meaning.band) {
        case BAND_MEASUREMENT:
            item["percent"] = meaning.value;
            item["active_limit"] = meaning.limit;
            text = "measurement " + std::to_string(meaning.value) + " %, limit " + std::to_string(meaning.limit) +
                   " active";
            break;
        case BAND_MIN_PEAK:
        case BAND_MAX_PEAK:
            item["peak"] = meaning.value;
            text = std::string(meaning.bandName) + " " + std::to_string(meaning.value) + " %";
            break;
        case BAND_PARAMETER:
            item["field"] = meaning.field;
            item["value"] = meaning.value;
            text = std::string("parameter ") + meaning.field + " = " + std::to_string(meaning.value);
            break;
        case BAND_ALARM:
            item["limit"] = meaning.limit;
            text = "alarm word of limit " + std::to_string(meaning.limit);
            break;
        case BAND_TEXT:
            item["character"] = meaning.value;
            text = "text " + characterText(meaning.value);
            break;
        case BAND_UNUSED:
            text = "unused word";
            break;
        }
    }
    if (!ok) text = "checksum bad, ignored (" + text + ")";
    item["meaning"] = text;
    return item;
}

std::string lineText(const nlohmann::json& item) {
    std::string text = item.value("checksum_ok", false) ? "ok" : "BAD";
    if (item.contains("word")) text += " word " + std::to_string(item["word"].get<int>());
    return text + ": " + item["meaning"].get<std::string>();
}

void setupDecode(CLI::App* command) {
    command->add_option("file", parsed.path, "the recording (a pcap file)")->required();
    command->add_flag("--json", parsed.json, "print one JSON object per packet");
}

int runDecode(const DecodeOptions& options) {
    RecordingFileReader file;
    int result = file.open(options.path);
    if (result != EXIT_DONE) return result;
    LineAssembly lines[2]{};  // one per direction
    int64_t unfinished[2] = {0, 0};  // bytes since the direction's last CR
    bool started = false;
    int64_t startUs = 0;
    return file.forEachPacket([&](const RecordedPacket& packet) {
        if (!started) startUs = packet.timeUs;
        started = true;
        nlohmann::json entry;
        double seconds = static_cast<double>(packet.timeUs - startUs) / 1e6;
        entry["time"] = seconds;
        entry["direction"] = packet.direction == FROM_DEVICE ? "from device" : "to device";
        entry["bytes"] = hexText(packet.bytes);
        nlohmann::json items = nlohmann::json::array();
        LineAssembly& line = lines[packet.direction];
        int64_t& waiting = unfinished[packet.direction];
        for (uint8_t byte : packet.bytes) {
            ++waiting;
            if (!assembleLineByte(&line, byte)) continue;
            items.push_back(describeLine(line.bytes, packet.direction));
            waiting = 0;
        }
        entry["lines"] = items;
        entry["unfinished"] = waiting;  // bytes carried into the next line
        if (options.json) {
            std::printf("%s\n", entry.dump().c_str());
            return;
        }
        std::string text;
        for (const nlohmann::json& item : items) text += (text.empty() ? "" : "; ") + lineText(item);
        if (waiting > 0) text += (text.empty() ? "" : "; ") + std::to_string(waiting) + " bytes without CR so far";
        std::printf("%12.6f  %-11s  %s  %s\n", seconds, entry["direction"].get<std::string>().c_str(),
                    entry["bytes"].get<std::string>().c_str(), text.c_str());
    });
}

}  // namespace

const Command DECODE_COMMAND{"decode", "show a recording of the line, packet by packet",
                             setupDecode, [] { return runDecode(parsed); }};
