// The fuzz targets that touch files run inside a fresh directory of their
// own, so that no real file is ever touched; it is removed at exit.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

inline void check(bool ok) {
    if (!ok) std::abort();
}

inline char* scratchDirectory() {
    static char path[] = "/tmp/fuzz_scratch_XXXXXX";
    return path;
}

inline std::string& scratchFile() {
    static std::string name;
    return name;
}

inline void leaveScratchDirectory() {
    std::remove(scratchFile().c_str());
    if (chdir("/") == 0) rmdir(scratchDirectory());
}

// Enters the directory on the first call; fileName is removed at exit.
inline void enterScratchDirectory(const char* fileName) {
    static bool entered = false;
    if (entered) return;
    scratchFile() = fileName;
    check(mkdtemp(scratchDirectory()) != nullptr);
    check(chdir(scratchDirectory()) == 0);
    std::atexit(leaveScratchDirectory);
    entered = true;
}

}  // namespace fuzz
