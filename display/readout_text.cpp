#include "display/readout_text.h"

#include <cstdio>

#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "link/live_state.h"
#include "params/parameter_set.h"

namespace {

constexpr uint16_t LIMIT_TYPE_MIN = 1;

}  // namespace

int copyDeviceText(char* destination) {
    int length = 0;
    while (length < DEVICE_TEXT_SIZE) {
        char byte = loadTextByte(deviceParameters.deviceText[length]);
        if (byte == '\0') break;
        destination[length++] = byte;
    }
    destination[length] = '\0';
    return length;
}

void formatMeasurement(char* destination, std::size_t size, int32_t measurement) {
    if (measurement == NO_VALUE)
        std::snprintf(destination, size, "--");
    else if (measurement >= 100)
        std::snprintf(destination, size, "%3d", static_cast<int>(measurement));
    else
        std::snprintf(destination, size, "%02d", static_cast<int>(measurement));
}

void formatPeak(char* destination, std::size_t size, int32_t peak) {
    if (peak == NO_VALUE)
        std::snprintf(destination, size, "--");
    else
        std::snprintf(destination, size, "  %02d", static_cast<int>(peak));
}

void headerLine(char* destination, std::size_t size, const char* deviceText, int32_t measurement) {
    if (deviceText[0] != '\0' && measurement != NO_VALUE)
        std::snprintf(destination, size, "%s%s                         ", MAKER_PREFIX, deviceText);
    else
        std::snprintf(destination, size, "%s- - -                           ", MAKER_PREFIX);
}

void headerLineNow(char* destination, std::size_t size) {
    char text[DEVICE_TEXT_SIZE + 1];
    copyDeviceText(text);
    headerLine(destination, size, text, liveState.measurement.load(std::memory_order_relaxed));
}

void activeLimitText(char* destination, std::size_t size, int languageOffset, int devicePresent,
                     uint16_t activeLimit, uint16_t limit1Type, uint16_t limit2Type) {
    if (!devicePresent) {
        std::snprintf(destination, size, "- - -                    ");
        return;
    }
    char name[LANGUAGE_TEXT_SIZE];
    langTextIn(name, languageOffset, activeLimit == 0 ? TXT_LIMIT1 : TXT_LIMIT2);
    uint16_t type = activeLimit == 0 ? limit1Type : limit2Type;
    std::snprintf(destination, size, "%s%s", name, type == LIMIT_TYPE_MIN ? " (Min)  " : " (Max)  ");
}

void activeLimitTextNow(char* destination, std::size_t size) {
    activeLimitText(destination, size, currentLanguage(), deviceTextPresent(), loadField(deviceParameters.activeLimit),
                    loadField(deviceParameters.limit1Type), loadField(deviceParameters.limit2Type));
}
