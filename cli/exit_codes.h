// The tool's exit codes; --help and the README list them.
#pragma once

constexpr int EXIT_DONE = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_PORT_NOT_OPENED = 2;
constexpr int EXIT_NO_ANSWER = 3;
constexpr int EXIT_NOT_CONFIRMED = 4;
constexpr int EXIT_FILE_REFUSED = 5;
