// Window thread (or the command-line tool's main thread). The records that
// cross threads are copied field by field through loadField/storeField.
#include "params/parameter_file.h"

#include <bit>
#include <cstring>

#include "params/file_access.h"
#include "params/parameter_values.h"
#include "params/result_codes.h"

// The file is the record's memory image, whose fields are little-endian.
static_assert(std::endian::native == std::endian::little, "parameter file byte order");

namespace {

int openForRead(const char* path, ParameterFileOpen how, FileHandle* file) {
    if (how == PARAMETER_FILE_OPEN_EXISTING) return openExistingFile(path, file);
    int existed = 0;
    return openAlwaysFile(path, FILE_READ, file, &existed);
}

}  // namespace

int readParameterFile(const char* path, ParameterSet* record, ParameterFileOpen how,
                      ParameterSet* asRead) {
    FileHandle file{};
    int result = openForRead(path, how, &file);
    if (result != 0) return result;
    // A scratch record: a short or foreign file must not replace part of the
    // caller's record, which may be the device's own values.
    ParameterSet scratch{};
    uint32_t done = 0;
    result = readFile(file, &scratch, sizeof scratch, &done);
    closeFile(file);
    if (result != 0) return result;
    if (done != sizeof scratch) return ERR_SHORT_TRANSFER;
    if (asRead != nullptr) *asRead = scratch;
    if (firstValueOutsideRange(scratch) != nullptr) return ERR_NOT_PARAMETER_FILE;
    *record = scratch;
    return 0;
}

int writeParameterFile(const char* path, const ParameterSet& record) {
    FileHandle file{};
    int result = createAlwaysFile(path, &file);
    if (result != 0) return result;
    uint32_t done = 0;
    result = writeFile(file, &record, sizeof record, &done);
    closeFile(file);
    if (result == 0 && done != sizeof record) result = ERR_SHORT_TRANSFER;
    return result;
}

ParameterSet snapshotParameters(const ParameterSet& shared) {
    ParameterSet copy{};
    for (const ParameterBand& band : PARAMETER_BANDS)
        copy.*band.field = loadField(shared.*band.field);
    for (std::size_t i = 0; i < sizeof copy.deviceText; ++i)
        copy.deviceText[i] = loadTextByte(shared.deviceText[i]);
    copy.activeLimit = loadField(shared.activeLimit);
    std::memcpy(copy.reserved, shared.reserved, sizeof copy.reserved);  // never written by a thread
    return copy;
}

void replaceParameters(ParameterSet* shared, const ParameterSet& record) {
    for (const ParameterBand& band : PARAMETER_BANDS)
        storeField(shared->*band.field, record.*band.field);
    for (std::size_t i = 0; i < sizeof record.deviceText; ++i)
        storeTextByte(shared->deviceText[i], record.deviceText[i]);
    storeField(shared->activeLimit, record.activeLimit);
    std::memcpy(shared->reserved, record.reserved, sizeof record.reserved);
}
