#include "cli/console/report.h"

#include <cstdio>

void report(const std::string& subject, const std::string& reason) {
    std::fprintf(stderr, "elq770ctl: %s: %s\n", subject.c_str(), reason.c_str());
}

void report(const std::string& reason) { std::fprintf(stderr, "elq770ctl: %s\n", reason.c_str()); }
