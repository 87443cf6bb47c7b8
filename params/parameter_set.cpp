// Window thread: copyDeviceToEdited and editedMatchesDevice read
// deviceParameters field by field while the reader thread may be storing into
// it, so each field is loaded whole.
#include "params/parameter_set.h"

ParameterSet deviceParameters{};
ParameterSet editedParameters{};
std::atomic<int32_t> deviceParametersFilled{0};

const ParameterBand PARAMETER_BANDS[PARAMETER_COUNT] = {
    {CODE_LIMIT1_TYPE, &ParameterSet::limit1Type},
    {CODE_LIMIT2_TYPE, &ParameterSet::limit2Type},
    {CODE_LIMIT1_CURRENT_RANGE, &ParameterSet::limit1CurrentRange},
    {CODE_LIMIT2_CURRENT_RANGE, &ParameterSet::limit2CurrentRange},
    {CODE_NOMINAL_VOLTAGE, &ParameterSet::nominalVoltage},
    {CODE_ANALOGUE_OUTPUT, &ParameterSet::analogueOutput},
    {CODE_POLARITY, &ParameterSet::polarity},
    {CODE_AUTO_SHUT_DOWN, &ParameterSet::autoShutDown},
    {CODE_OUTPUTS, &ParameterSet::outputs},
    {CODE_LIMIT1_SETPOINT, &ParameterSet::limit1Setpoint},
    {CODE_LIMIT2_SETPOINT, &ParameterSet::limit2Setpoint},
    {CODE_LIMIT1_TR, &ParameterSet::limit1Tr},
    {CODE_LIMIT2_TR, &ParameterSet::limit2Tr},
    {CODE_LIMIT1_TS, &ParameterSet::limit1Ts},
    {CODE_LIMIT2_TS, &ParameterSet::limit2Ts},
    {CODE_P1_MAX, &ParameterSet::p1Max},
};

const ParameterBand* findParameterBand(uint16_t word) {
    if (word < CODE_LIMIT1_TYPE || word >= PARAMETER_BAND_END) return nullptr;
    const ParameterBand* found = &PARAMETER_BANDS[0];
    for (const ParameterBand& band : PARAMETER_BANDS) {
        if (band.code > word) break;
        found = &band;
    }
    return found;
}

void copyDeviceToEdited() {
    for (const ParameterBand& band : PARAMETER_BANDS)
        editedParameters.*band.field = loadField(deviceParameters.*band.field);
}

int editedMatchesDevice() {
    for (const ParameterBand& band : PARAMETER_BANDS)
        if (editedParameters.*band.field != loadField(deviceParameters.*band.field)) return 0;
    return 1;
}
