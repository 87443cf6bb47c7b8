// The tool's exit codes: one table of code and meaning, from which --help
// writes its list, so the two cannot drift. The README lists them too.
#pragma once

#include <string>

constexpr int EXIT_DONE = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_PORT_NOT_OPENED = 2;
constexpr int EXIT_NO_ANSWER = 3;
constexpr int EXIT_NOT_CONFIRMED = 4;
constexpr int EXIT_FILE_REFUSED = 5;
constexpr int EXIT_BROKER_REFUSED = 6;

struct ExitCodeMeaning {
    int code;
    const char* meaning;
};

constexpr ExitCodeMeaning EXIT_CODE_MEANINGS[] = {
    {EXIT_DONE, "done"},
    {EXIT_USAGE, "usage: unknown subcommand, option or value"},
    {EXIT_PORT_NOT_OPENED, "port not opened"},
    {EXIT_NO_ANSWER, "no answer from the device"},
    {EXIT_NOT_CONFIRMED, "download not confirmed: the device reports other values"},
    {EXIT_FILE_REFUSED, "file unreadable or refused"},
    {EXIT_BROKER_REFUSED,
     "MQTT broker refused the first connection: credentials, client certificate, or its certificate did not verify"},
};

// "Exit codes:" and one indented line per code, for the foot of --help.
std::string exitCodesText();
