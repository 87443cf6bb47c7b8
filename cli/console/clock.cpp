#include "cli/console/clock.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "cli/console/platform.h"

std::string isoTimestamp(int64_t epochMs) {
    std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
    std::tm local{};
    int offset = localTimeAndOffset(seconds, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(epochMs % 1000), offset < 0 ? '-' : '+', std::abs(offset) / 60,
                  std::abs(offset) % 60);
    return text;
}
