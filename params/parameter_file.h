// The parameter file: the 76-byte image of a ParameterSet, 16-bit
// little-endian fields at fixed offsets, no header. Portable: the window
// program adds its file dialogs around these, the command-line tool its
// arguments.
#pragma once

#include "params/parameter_set.h"

enum ParameterFileOpen {
    PARAMETER_FILE_OPEN_ALWAYS,   // a missing file is created empty (the load dialog's create prompt)
    PARAMETER_FILE_OPEN_EXISTING, // a missing file is an error
};

// Reads the first 76 bytes of path into record. The record is replaced only
// when all 76 bytes arrived and every parameter is inside the range
// the sheet allows (firstValueOutsideRange); otherwise it
// is left as it was. Returns 0, ERR_SHORT_TRANSFER, ERR_NOT_PARAMETER_FILE
// or the operating system's error code of the open or read. A longer file is
// accepted; only its first 76 bytes count. When all 76 bytes arrived,
// *asRead (if given) receives them even if the file is then refused, so that
// a caller can say which value is outside its range.
int readParameterFile(const char* path, ParameterSet* record, ParameterFileOpen how,
                      ParameterSet* asRead = nullptr);

// Creates or replaces path with the record's 76 bytes. Returns 0,
// ERR_SHORT_TRANSFER when fewer bytes were written, or the operating system's
// error code.
int writeParameterFile(const char* path, const ParameterSet& record);

// Whole-field copies between deviceParameters, which the reader thread writes
// field by field, and a plain record of the window thread.
ParameterSet snapshotParameters(const ParameterSet& shared);
void replaceParameters(ParameterSet* shared, const ParameterSet& record);
