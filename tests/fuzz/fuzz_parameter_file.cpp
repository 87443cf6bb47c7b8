// libFuzzer target for the parameter-file check: any file content is either
// taken whole, with every value one that travels back to its own parameter,
// or refused with the record left as it was.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "params/parameter_file.h"
#include "params/result_codes.h"
#include "tests/fuzz/scratch_directory.h"

namespace {

using fuzz::check;

constexpr const char* FILE_NAME = "unit.770";

// The word a value is sent as must decode to the same field and value.
bool travelsBack(const ParameterBand& band, uint16_t value) {
    uint32_t word = band.code + value;
    if (word >= PARAMETER_BAND_END) return false;
    const ParameterBand* decoded = findParameterBand(static_cast<uint16_t>(word));
    return decoded == &band;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256) return 0;
    fuzz::enterScratchDirectory(FILE_NAME);
    FILE* file = std::fopen(FILE_NAME, "wb");
    check(file != nullptr);
    check(std::fwrite(data, 1, size, file) == size);
    check(std::fclose(file) == 0);

    ParameterSet record;
    std::memset(&record, 0x5A, sizeof record);
    ParameterSet before = record;
    int result = readParameterFile(FILE_NAME, &record, PARAMETER_FILE_OPEN_EXISTING);
    if (result != 0) {
        check(result == (size < sizeof record ? ERR_SHORT_TRANSFER : ERR_NOT_PARAMETER_FILE));
        check(std::memcmp(&record, &before, sizeof record) == 0);
        return 0;
    }
    check(size >= sizeof record);
    check(std::memcmp(&record, data, sizeof record) == 0);
    for (const ParameterBand& band : PARAMETER_BANDS) check(travelsBack(band, record.*band.field));
    return 0;
}
