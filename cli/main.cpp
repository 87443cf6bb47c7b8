// elq770ctl: reads, saves, loads, sets and monitors an ELQ770 from scripts,
// over the same link, parser, parameter record and file format as the
// window program. Each subcommand is one function that returns the exit code.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/device_session.h"
#include "cli/exit_codes.h"
#include "cli/monitor.h"
#include "cli/parameter_text.h"
#include "cli/platform.h"
#include "elq_version.h"
#include "link/command_frames.h"
#include "link/serial_link.h"
#include "params/parameter_file.h"
#include "params/parameter_sheet.h"
#include "params/parameter_values.h"
#include "params/result_codes.h"
#include "params/settings.h"

namespace {

constexpr const char* EXIT_CODES_TEXT =
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage: unknown subcommand, option or value\n"
    "  2  port not opened\n"
    "  3  no answer from the device\n"
    "  4  download not confirmed: the device reports other values\n"
    "  5  file unreadable or refused";

struct Arguments {
    std::string port;
    std::string file;
    std::string language = "en";
    std::string csvPath;
    double duration = 0;
    bool json = false;
    bool scan = false;
    std::vector<std::string> assignments;
    std::vector<std::string> ports;
};

void fail(const std::string& subject, const std::string& text) {
    std::fprintf(stderr, "elq770ctl: %s: %s\n", subject.c_str(), text.c_str());
}

void printRecord(const ParameterSet& record, const Arguments& a) {
    if (a.json)
        std::printf("%s\n", parameterJson(record).dump(2).c_str());
    else
        std::fputs(parameterTable(record, languageOffsetOf(a.language)).c_str(), stdout);
}

// Opens the port and reads the device's parameters; 0 or an exit code.
int readDevice(const std::string& port) {
    if (!openDevicePort(port)) return EXIT_PORT_NOT_OPENED;
    if (requestParameters()) return EXIT_DONE;
    closeLink();
    fail(port, "no answer from the device");
    return EXIT_NO_ANSWER;
}

// The device's record, read with the link closed again afterwards.
int readDeviceRecord(const std::string& port, ParameterSet* device) {
    int result = readDevice(port);
    if (result != EXIT_DONE) return result;
    *device = snapshotParameters(deviceParameters);
    closeLink();
    return EXIT_DONE;
}

// Reads a parameter file as the window program checks it; 0 or exit 5 with
// the reason on stderr.
int readCheckedFile(const std::string& path, ParameterSet* record) {
    ParameterSet asRead{};
    int result = readParameterFile(path.c_str(), record, PARAMETER_FILE_OPEN_EXISTING, &asRead);
    if (result == 0) return EXIT_DONE;
    if (result == ERR_SHORT_TRANSFER) {
        fail(path, "not a parameter file: shorter than 76 bytes");
    } else if (result == ERR_NOT_PARAMETER_FILE) {
        const ParameterRange* range = firstValueOutsideRange(asRead);
        fail(path, std::string("not a parameter file: ") + range->name + " is " +
                       std::to_string(asRead.*range->field) + ", outside its range (" +
                       std::to_string(range->minimum) + " to " + std::to_string(range->maximum) + ")");
    } else {
        fail(path, "cannot read file: " + systemErrorText(result));
    }
    return EXIT_FILE_REFUSED;
}

// Sends the queued words, confirms them and reports; the link is closed.
int downloadAndReport(const std::string& port) {
    DownloadResult result = downloadQueuedWords();
    ParameterSet device = snapshotParameters(deviceParameters);
    closeLink();
    if (result == DOWNLOAD_NO_ANSWER) {
        fail(port, "download not confirmed: no answer from the device");
        return EXIT_NO_ANSWER;
    }
    if (result == DOWNLOAD_MISMATCH) {
        for (const ParameterRange& p : PARAMETER_RANGES)
            if (editedParameters.*p.field != device.*p.field)
                fail(port, std::string("download not confirmed: ") + p.name + " sent " +
                               std::to_string(editedParameters.*p.field) + ", device reports " +
                               std::to_string(device.*p.field));
        return EXIT_NOT_CONFIRMED;
    }
    return EXIT_DONE;
}

int ports(const Arguments& a) {
    std::vector<std::string> names = a.ports.empty() ? listSerialPorts() : a.ports;
    if (names.empty()) std::fprintf(stderr, "elq770ctl: no serial ports found\n");
    for (const std::string& name : names) {
        if (!a.scan) {
            std::printf("%s\n", name.c_str());
            continue;
        }
        forgetDevice();
        if (!openLinkByName(name.c_str(), BAUD_RATE)) {
            std::printf("%-16s (cannot open: %s)\n", name.c_str(), systemErrorText(lastSystemError()).c_str());
            continue;
        }
        bool answered = requestParameters() != 0;
        ParameterSet device = snapshotParameters(deviceParameters);
        closeLink();
        std::printf("%-16s %s\n", name.c_str(),
                    answered ? utf8FromCp1252(device.deviceText, sizeof device.deviceText).c_str() : "-");
        std::fflush(stdout);  // two seconds a port: show each as it is done
    }
    return EXIT_DONE;
}

int info(const Arguments& a) {
    ParameterSet device{};
    int result = readDeviceRecord(a.port, &device);
    if (result != EXIT_DONE) return result;
    printRecord(device, a);
    return EXIT_DONE;
}

int save(const Arguments& a) {
    ParameterSet device{};
    int result = readDeviceRecord(a.port, &device);
    if (result != EXIT_DONE) return result;
    result = writeParameterFile(a.file.c_str(), device);
    if (result != 0) {
        fail(a.file, "cannot write file: " +
                         (result == ERR_SHORT_TRANSFER ? std::string("short write") : systemErrorText(result)));
        return EXIT_FILE_REFUSED;
    }
    std::printf("saved the parameters of %s to %s\n",
                utf8FromCp1252(device.deviceText, sizeof device.deviceText).c_str(), a.file.c_str());
    return EXIT_DONE;
}

// As the window program loads a file: its sixteen values are the expected
// values, and they go out in code order from the file's own record. The
// device's copy is left to the device, so only its read-back confirms.
int load(const Arguments& a) {
    ParameterSet record{};
    int result = readCheckedFile(a.file, &record);
    if (result != EXIT_DONE) return result;
    if (!openDevicePort(a.port)) return EXIT_PORT_NOT_OPENED;
    queueLoadedRecord(record);
    result = downloadAndReport(a.port);
    if (result != EXIT_DONE) return result;
    std::printf("confirmed: the device holds the %d parameters of %s\n", PARAMETER_COUNT, a.file.c_str());
    for (const ParameterRange& p : PARAMETER_RANGES)
        std::printf("  %-19s %s\n", p.name, valueText(p.field, editedParameters.*p.field).c_str());
    return EXIT_DONE;
}

int set(const Arguments& a) {
    ParameterSet check{};
    for (const std::string& assignment : a.assignments) {
        std::string refused = applyAssignment(assignment, &check);
        if (!refused.empty()) {
            std::fprintf(stderr, "elq770ctl: %s; nothing sent\n", refused.c_str());
            return EXIT_USAGE;
        }
    }
    int result = readDevice(a.port);
    if (result != EXIT_DONE) return result;
    copyDeviceToEdited();
    for (const std::string& assignment : a.assignments) applyAssignment(assignment, &editedParameters);
    ParameterSet before = snapshotParameters(deviceParameters);
    ParameterWords changed{};
    if (changedParameters(&changed) == 0) {
        closeLink();
        std::printf("nothing to send: the device already holds these values\n");
        return EXIT_DONE;
    }
    queueParameterWords(changed);
    result = downloadAndReport(a.port);
    if (result != EXIT_DONE) return result;
    for (const ParameterRange& range : PARAMETER_RANGES)
        if (editedParameters.*range.field != before.*range.field)
            std::printf("confirmed: %s %s -> %s\n", range.name,
                        valueText(range.field, before.*range.field).c_str(),
                        valueText(range.field, editedParameters.*range.field).c_str());
    return EXIT_DONE;
}

int show(const Arguments& a) {
    ParameterSet record{};
    int result = readCheckedFile(a.file, &record);
    if (result != EXIT_DONE) return result;
    printRecord(record, a);
    return EXIT_DONE;
}

// Only monitor takes Ctrl-C (and on Windows Ctrl-Break and the console's
// close) as its normal end; elsewhere it ends the tool at once, as it would
// any console program.
int monitor(const Arguments& a) {
    catchStopRequests(&monitorStopRequested);
    return runMonitor(MonitorOptions{a.port, a.csvPath, a.duration});
}

CLI::App* addPort(CLI::App* command, Arguments& a) {
    command->add_option("--port,-p", a.port, "serial port: /dev/ttyUSB0, COM3, ...")->required();
    return command;
}

void addLanguage(CLI::App* command, Arguments& a) {
    command->add_option("--lang", a.language, "language of the labels: en, de or da")
        ->check(CLI::IsMember({"en", "de", "da"}));
}

// Parses the command line and runs its subcommand; the exit code.
int runTool(int argc, char** argv) {
    setSettingsDefaults(&appSettings);
    Arguments a;
    int exitCode = EXIT_DONE;
    CLI::App app{"elq770ctl: read, save, load, set and monitor an ELQ770 over its serial port"};
    app.footer(EXIT_CODES_TEXT);
    app.set_version_flag("--version", std::string("elq770ctl ") + ELQ_VERSION_TEXT, "print the version and exit");
    app.require_subcommand(1);

    CLI::App* portsCommand = app.add_subcommand("ports", "list the serial ports, or scan them for devices");
    portsCommand->add_flag("--scan", a.scan, "ask each port for a device's identification (2 s each)");
    portsCommand->add_option("PORT", a.ports, "the ports to list or scan instead of every port found");
    portsCommand->callback([&] { exitCode = ports(a); });

    CLI::App* infoCommand = addPort(app.add_subcommand("info", "show the device's text, active limit and parameters"), a);
    infoCommand->add_flag("--json", a.json, "print JSON (the record's names and numbers)");
    addLanguage(infoCommand, a);
    infoCommand->callback([&] { exitCode = info(a); });

    CLI::App* saveCommand = addPort(app.add_subcommand("save", "read the parameters into a 76-byte parameter file"), a);
    saveCommand->add_option("FILE", a.file, "parameter file to write")->required();
    saveCommand->callback([&] { exitCode = save(a); });

    CLI::App* loadCommand = addPort(app.add_subcommand("load", "download a parameter file and confirm it"), a);
    loadCommand->add_option("FILE", a.file, "parameter file to download")->required();
    loadCommand->callback([&] { exitCode = load(a); });

    CLI::App* setCommand = addPort(app.add_subcommand("set", "change named parameters and confirm them"), a);
    setCommand->add_option("NAME=VALUE", a.assignments,
                           "limit1Type limit1Setpoint limit1Tr limit1Ts limit1CurrentRange limit2... "
                           "nominalVoltage polarity analogueOutput outputs p1Max autoShutDown; "
                           "Tr and Ts in seconds (12.5 or 12,5)")
        ->required();
    setCommand->callback([&] { exitCode = set(a); });

    CLI::App* showCommand = app.add_subcommand("show", "decode a parameter file without a device");
    showCommand->add_option("FILE", a.file, "parameter file to read")->required();
    showCommand->add_flag("--json", a.json, "print JSON (the record's names and numbers)");
    addLanguage(showCommand, a);
    showCommand->callback([&] { exitCode = show(a); });

    CLI::App* monitorCommand = addPort(app.add_subcommand("monitor", "log every measurement until Ctrl-C"), a);
    monitorCommand->add_option("--csv", a.csvPath, "also write the rows to this CSV file");
    monitorCommand->add_option("--duration", a.duration, "stop after this many seconds")
        ->check(CLI::NonNegativeNumber);
    monitorCommand->callback([&] { exitCode = monitor(a); });

    for (CLI::App* command : {portsCommand, infoCommand, saveCommand, loadCommand, setCommand, showCommand,
                              monitorCommand})
        command->footer(EXIT_CODES_TEXT);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int code = app.exit(error);
        return code == 0 ? EXIT_DONE : EXIT_USAGE;
    }
    return exitCode;
}

}  // namespace

// Every way out of runTool comes back here, so the console gets its code
// page back before a close event lets Windows end the process.
int main(int argc, char** argv) {
    prepareConsole();
    std::vector<std::string> arguments;
    int exitCode = EXIT_USAGE;
    if (commandLineArguments(argc, argv, &arguments)) {
        std::vector<char*> utf8Argv;
        for (std::string& argument : arguments) utf8Argv.push_back(argument.data());
        utf8Argv.push_back(nullptr);
        exitCode = runTool(static_cast<int>(arguments.size()), utf8Argv.data());
    } else {
        std::fprintf(stderr, "elq770ctl: the command line is not valid Unicode\n");
    }
    restoreConsole();
    stopRequestsHandled();
    return exitCode;
}
