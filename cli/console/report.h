// The tool's one way to tell of a failure: one line on stderr,
// "elq770ctl: SUBJECT: REASON" (a port, a file, an option), or
// "elq770ctl: REASON" where there is no subject. Inside the tool "did it
// work" is a bool or an exit code handed up; only the command's run turns
// it into the process's exit code. Main thread.
#pragma once

#include <string>

void report(const std::string& subject, const std::string& reason);
void report(const std::string& reason);
