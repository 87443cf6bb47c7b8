// The port chosen through Communication -> "Other port…": any port name the
// link takes (COM12, rfc2217://HOST:PORT, socket://HOST:PORT). The settings
// file's comPort then holds OTHER_PORT (0), which no COM port has, and the
// name is kept in its own file "Vantor.port" beside the settings file, so
// that the 280-byte settings file stays as it has always been: byte for byte
// the same whenever COM1 to COM8 is chosen, and to a build that knows no
// other port, a port number it can never open.
//
// The side file holds the name's UTF-8 bytes and nothing else (a line break
// at its end, from an editor, is ignored). It is written when a name is
// chosen and left in place when a COM port is chosen after it, so that the
// menu keeps offering the name.
//
// Threads: the window thread alone.
#pragma once

#include <cstdint>

// The settings' comPort for the other port; OTHER_PORT + PORT_NOT_OPEN (10)
// while it is not open, in memory only: a record is always written with 0.
constexpr uint16_t OTHER_PORT = 0;

// Room for a name of up to 255 bytes and its NUL.
constexpr int OTHER_PORT_NAME_SIZE = 256;

// The remembered name; empty when none.
extern char otherPortName[OTHER_PORT_NAME_SIZE];

// Reads the side file into otherPortName (empty when there is none). 0, or
// the system's error code of a file that is there and does not read.
int readOtherPortName();

// Keeps name in otherPortName and writes it to the side file. 0, or the
// system's error code (or ERR_SHORT_TRANSFER); otherPortName is set either
// way, for this run.
int writeOtherPortName(const char* name);

// The side file's full path, beside the settings file.
const char* otherPortFilePath();
