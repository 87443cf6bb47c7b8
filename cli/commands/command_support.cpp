#include "cli/commands/command_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/device/device_session.h"
#include "cli/device/parameter_text.h"
#include "link/port_name.h"
#include "link/serial_link.h"
#include "params/parameter_file.h"
#include "params/parameter_values.h"
#include "params/result_codes.h"

namespace {

// "0.05", "3600", "1e+06": as short as the number allows.
std::string numberText(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", number);
    return text;
}

}  // namespace

CLI::Validator finiteRange(double minimum, double maximum) {
    std::string range = numberText(minimum) + " to " + numberText(maximum);
    return CLI::Validator(
        [minimum, maximum, range](std::string& text) -> std::string {
            char* end = nullptr;
            double number = std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(number))
                return "not a finite number: " + text;
            if (number < minimum || number > maximum) return text + " is outside " + range;
            return "";
        },
        "NUMBER in [" + numberText(minimum) + " - " + numberText(maximum) + "]");
}

CLI::Validator portNameCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            PortName port;
            std::string problem;
            return parsePortName(text, &port, &problem) ? "" : text + ": " + problem;
        },
        "PORT");
}

void addPortOption(CLI::App* command, std::string* port) {
    command
        ->add_option("--port,-p", *port,
                     "serial port (/dev/ttyUSB0, COM3, COM12) or network port (rfc2217://HOST:PORT, "
                     "socket://HOST:PORT)")
        ->required()
        ->check(portNameCheck());
}

void addLanguageOption(CLI::App* command, std::string* language) {
    command->add_option("--lang", *language, "language of the labels: en, de or da")
        ->check(CLI::IsMember({"en", "de", "da"}));
}

void printRecord(const ParameterSet& record, bool json, int languageOffset) {
    if (json)
        std::printf("%s\n", parameterJsonText(record).c_str());
    else
        std::fputs(parameterTable(record, languageOffset).c_str(), stdout);
}

int readDevice(const std::string& port) {
    if (!openDevicePort(port)) return EXIT_PORT_NOT_OPENED;
    if (requestParameters()) return EXIT_DONE;
    closeLink();
    report(port, "no answer from the device");
    return EXIT_NO_ANSWER;
}

int readDeviceRecord(const std::string& port, ParameterSet* device) {
    int result = readDevice(port);
    if (result != EXIT_DONE) return result;
    *device = snapshotParameters(deviceParameters);
    closeLink();
    return EXIT_DONE;
}

int readCheckedFile(const std::string& path, ParameterSet* record) {
    ParameterSet asRead{};
    int result = readParameterFile(path.c_str(), record, PARAMETER_FILE_OPEN_EXISTING, &asRead);
    if (result == 0) return EXIT_DONE;
    if (result == ERR_SHORT_TRANSFER) {
        report(path, "not a parameter file: shorter than 76 bytes");
    } else if (result == ERR_NOT_PARAMETER_FILE) {
        const ParameterRange* range = firstValueOutsideRange(asRead);
        report(path, std::string("not a parameter file: ") + range->name + " is " +
                       std::to_string(asRead.*range->field) + ", outside its range (" +
                       std::to_string(range->minimum) + " to " + std::to_string(range->maximum) + ")");
    } else {
        report(path, "cannot read file: " + systemErrorText(result));
    }
    return EXIT_FILE_REFUSED;
}

namespace {

void reportMismatches(const std::string& port, const ParameterSet& device) {
    for (const ParameterRange& p : PARAMETER_RANGES)
        if (editedParameters.*p.field != device.*p.field)
            report(port, std::string("download not confirmed: ") + p.name + " sent " +
                             std::to_string(editedParameters.*p.field) + ", device reports " +
                             std::to_string(device.*p.field));
}

}  // namespace

int downloadAndReport(const std::string& port) {
    DownloadResult result = downloadQueuedWords();
    ParameterSet device = snapshotParameters(deviceParameters);
    closeLink();
    if (result == DOWNLOAD_NO_ANSWER) {
        report(port, "download not confirmed: no answer from the device");
        return EXIT_NO_ANSWER;
    }
    if (result == DOWNLOAD_MISMATCH) {
        reportMismatches(port, device);
        return EXIT_NOT_CONFIRMED;
    }
    return EXIT_DONE;
}
