// The gateway's broker password, from a --password-file or the variable
// ELQ770_MQTT_PASSWORD (never the command line). It lives in one buffer that
// is never copied and is wiped as soon as libmosquitto holds its own copy,
// so that a core dump or a look at the process's memory later finds it only
// in the library. Linux only, like the gateway: password.cpp.
// Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class Password {
public:
    // An MQTT string's length is two bytes.
    static constexpr std::size_t MOST_BYTES = 65535;

    Password();
    ~Password() { wipe(); }
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    // The whole first line of the file, without its line end; an exit code,
    // the reason reported on stderr (EXIT_FILE_REFUSED for a file that does
    // not read, a line longer than MOST_BYTES or one holding a NUL byte).
    // A file that users other than the gateway's own may read is used with a
    // warning on stderr.
    int readFile(const std::string& path);
    // The variable's value, if set; the variable is then wiped and removed
    // from the environment (also from /proc/PID/environ). An exit code.
    int takeVariable(const char* name);

    bool given() const { return given_; }
    const char* text() const { return bytes_.get(); }
    void wipe();

private:
    int refuse(const std::string& path, const std::string& reason);

    std::unique_ptr<char[]> bytes_;
    bool given_ = false;
};

// One line on stderr when a secret file (a password, a TLS key) may be read
// by others than the gateway's user: by all, or through a group that is not
// the gateway's own (root:elq770 with mode 0640 is how the service's files
// are meant to be).
void warnWhenOthersMayRead(const std::string& path, int fd);
