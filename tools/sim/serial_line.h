// The simulator's end of the serial line: a pseudo-terminal (optionally
// published through a symlink) or a real serial device, raw at 9600 8N1.
//
// In pseudo-terminal mode the simulator holds the master and also one slave
// descriptor of its own, so the line stays valid while the program closes
// and reopens its port. Because that descriptor also keeps the slave's input
// queue alive when no program reads it, writes first discard input that has
// waited too long: a program that opens the port finds fresh lines, not
// seconds of old ones.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class SerialLine {
public:
    SerialLine() = default;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine();

    // Return 1 on success, else 0 with error filled.
    int openPseudoTerminal(const std::string& linkPath, std::string& error);
    int openDevice(const std::string& path, std::string& error);

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

    // Bytes read (0 when none are waiting, or when no program holds the
    // pseudo-terminal open), -1 on a lasting error.
    int readSome(uint8_t* buffer, int capacity);
    // Writes what the line takes now; the rest is dropped as the device would
    // not wait for a reader either.
    void writeAll(const uint8_t* bytes, int count);

    // Closes everything and removes the symlink (if it still points here).
    void hangUp();

private:
    void discardStaleInput();

    int fd_ = -1;
    int slaveFd_ = -1;
    std::string name_;
    std::string linkPath_;
};

}  // namespace sim
