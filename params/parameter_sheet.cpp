#include "params/parameter_sheet.h"

#include "lang/text_ids.h"
#include "params/parameter_values.h"
#include "resources/resource_ids.h"

namespace {

template <typename T, int N>
constexpr int countOf(const T (&)[N]) { return N; }

constexpr const char* LIMIT_TYPES[] = {"Min.", "Max."};
constexpr const char* CURRENT_RANGES[] = {"1", "5", "10", "20", "30", "40", "50", "60", "70", "80"};
constexpr const char* NOMINAL_VOLTAGES[] = {"230", "380", "400", "440", "460", "500", "575"};
constexpr const char* OUTPUT_COUNTS[] = {"1", "2"};

constexpr ControlBinding LIMIT1_BINDINGS[] = {
    {IDC_LIMIT_TYPE, &ParameterSet::limit1Type, BIND_POSITION_PLUS_ONE},
    {IDC_SETPOINT, &ParameterSet::limit1Setpoint, BIND_NUMBER},
    {IDC_TR, &ParameterSet::limit1Tr, BIND_TENTHS},
    {IDC_TS, &ParameterSet::limit1Ts, BIND_TENTHS},
    {IDC_CURRENT_RANGE, &ParameterSet::limit1CurrentRange, BIND_POSITION},
};

constexpr ControlBinding LIMIT2_BINDINGS[] = {
    {IDC_LIMIT_TYPE, &ParameterSet::limit2Type, BIND_POSITION_PLUS_ONE},
    {IDC_SETPOINT, &ParameterSet::limit2Setpoint, BIND_NUMBER},
    {IDC_TR, &ParameterSet::limit2Tr, BIND_TENTHS},
    {IDC_TS, &ParameterSet::limit2Ts, BIND_TENTHS},
    {IDC_CURRENT_RANGE, &ParameterSet::limit2CurrentRange, BIND_POSITION},
};

constexpr ControlBinding SETUP_BINDINGS[] = {
    {IDC_NOMINAL_VOLTAGE, &ParameterSet::nominalVoltage, BIND_POSITION},
    {IDC_ANALOGUE_OUTPUT, &ParameterSet::analogueOutput, BIND_POSITION},
    {IDC_POLARITY, &ParameterSet::polarity, BIND_POSITION},
    {IDC_OUTPUTS, &ParameterSet::outputs, BIND_POSITION_PLUS_ONE},
    {IDC_P1_MAX, &ParameterSet::p1Max, BIND_NUMBER},
    {IDC_AUTO_SHUT_DOWN, &ParameterSet::autoShutDown, BIND_POSITION},
};

constexpr LabelText LIMIT_LABELS[] = {
    {IDC_LABEL_LIMIT, TXT_LIMIT},
    {IDC_LABEL_SETPOINT, TXT_SETPOINT},
    {IDC_LABEL_CURRENT_RANGE, TXT_CURRENT_RANGE},
};

constexpr LabelText SETUP_LABELS[] = {
    {IDC_LABEL_NOMINAL_VOLTAGE, TXT_NOMINAL_VOLTAGE},
    {IDC_LABEL_IOUT, TXT_IOUT},
    {IDC_GROUP_NOMINAL_VOLTAGE, TXT_NOMINAL_VOLTAGE},
    {IDC_GROUP_ANALOGUE_OUTPUT, TXT_ANALOGUE_OUTPUT},
    {IDC_GROUP_ZOOM, TXT_ZOOM},
    {IDC_GROUP_OUTPUTS, TXT_OUTPUTS},
    {IDC_LABEL_POLARITY, TXT_POLARITY},
    {IDC_GROUP_CONTROL_FUNCTIONS, TXT_CONTROL_FUNCTIONS},
    {IDC_LABEL_AUTO_SHUT_DOWN, TXT_AUTO_SHUT_DOWN},
    {IDC_LABEL_OUTPUTS, TXT_OUTPUTS},
};

constexpr ComboList LIMIT_LISTS[] = {
    {IDC_LIMIT_TYPE, LIMIT_TYPES, countOf(LIMIT_TYPES), -1},
    {IDC_CURRENT_RANGE, CURRENT_RANGES, countOf(CURRENT_RANGES), -1},
};

constexpr ComboList SETUP_LISTS[] = {
    {IDC_NOMINAL_VOLTAGE, NOMINAL_VOLTAGES, countOf(NOMINAL_VOLTAGES), -1},
    {IDC_ANALOGUE_OUTPUT, ANALOGUE_OUTPUT_TEXTS, countOf(ANALOGUE_OUTPUT_TEXTS), -1},
    {IDC_OUTPUTS, OUTPUT_COUNTS, countOf(OUTPUT_COUNTS), -1},
    {IDC_POLARITY, POLARITY_TEXTS, countOf(POLARITY_TEXTS), -1},
    {IDC_AUTO_SHUT_DOWN, nullptr, 2, TXT_OFF},  // "Off", then "On"
};

uint16_t& editedField(const ControlBinding& binding) { return editedParameters.*binding.field; }

// Adds the field's word when the edited value differs from the device's;
// 1 when added. A field is on one page only, so sixteen places suffice.
int addIfChanged(uint16_t ParameterSet::*field, ParameterWords* words) {
    uint16_t value = editedParameters.*field;
    if (value == loadField(deviceParameters.*field) || words->count >= PARAMETER_COUNT) return 0;
    words->codes[words->count] = parameterRangeOf(field)->code;
    words->values[words->count] = value;
    ++words->count;
    return 1;
}

}  // namespace

const SheetPage SHEET_PAGES[SHEET_PAGE_COUNT] = {
    {IDD_PAGE_LIMIT1, TXT_LIMIT1, LIMIT1_BINDINGS, countOf(LIMIT1_BINDINGS), LIMIT_LABELS,
     countOf(LIMIT_LABELS), LIMIT_LISTS, countOf(LIMIT_LISTS)},
    {IDD_PAGE_LIMIT2, TXT_LIMIT2, LIMIT2_BINDINGS, countOf(LIMIT2_BINDINGS), LIMIT_LABELS,
     countOf(LIMIT_LABELS), LIMIT_LISTS, countOf(LIMIT_LISTS)},
    {IDD_PAGE_SETUP, TXT_SETUP, SETUP_BINDINGS, countOf(SETUP_BINDINGS), SETUP_LABELS,
     countOf(SETUP_LABELS), SETUP_LISTS, countOf(SETUP_LISTS)},
};

int isEditBinding(const ControlBinding& binding) {
    return binding.kind == BIND_NUMBER || binding.kind == BIND_TENTHS ? 1 : 0;
}

const ControlBinding* findBinding(const SheetPage& page, int controlId) {
    for (int i = 0; i < page.bindingCount; ++i)
        if (page.bindings[i].controlId == controlId) return &page.bindings[i];
    return nullptr;
}

int listPositionOf(const ControlBinding& binding, uint16_t value) {
    return binding.kind == BIND_POSITION_PLUS_ONE ? value - 1 : value;
}

void takeListPosition(const ControlBinding& binding, int position) {
    int value = binding.kind == BIND_POSITION_PLUS_ONE ? position + 1 : position;
    editedField(binding) = static_cast<uint16_t>(value);
}

uint32_t tenthsEntry(const char* text, int length) {
    int i = 0;
    while (i < length && text[i] == ' ') ++i;
    int digits = 0;
    int separators = 0;
    for (; i < length; ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            ++digits;
        else if ((text[i] == '.' || text[i] == ',') && ++separators == 1)
            continue;
        else
            return ENTRY_NOT_A_NUMBER;
    }
    return digits > 0 ? parseTenths(text, length) : ENTRY_NOT_A_NUMBER;
}

int takeEntry(const ControlBinding& binding, uint32_t entered) {
    if (!valueInRange(*parameterRangeOf(binding.field), entered)) return 0;
    editedField(binding) = static_cast<uint16_t>(entered);
    return 1;
}

int entryRefused(const ControlBinding& binding, uint32_t entered) {
    return !valueInRange(*parameterRangeOf(binding.field), entered) && entered != editedField(binding) ? 1 : 0;
}

int leaveEditBox(const SheetPage& page, int index, uint32_t entered, RefusedBoxes* refused) {
    const ControlBinding& binding = page.bindings[index];
    uint32_t mark = 1u << index;
    if (entryRefused(binding, entered)) {
        refused->marks |= mark;
        return 1;
    }
    takeEntry(binding, entered);
    refused->marks &= ~mark;
    return 0;
}

PageHold holdPage(const SheetPage& page, const uint32_t* entries, RefusedBoxes* refused) {
    PageHold hold{-1, 0};
    for (int i = 0; i < page.bindingCount && hold.index < 0; ++i) {
        if (!isEditBinding(page.bindings[i])) continue;
        int refusedNow = entryRefused(page.bindings[i], entries[i]);
        if (refusedNow || (refused->marks & 1u << i) != 0) hold = PageHold{i, refusedNow};
    }
    refused->marks = 0;
    return hold;
}

int applyPage(const SheetPage& page, const uint32_t* entries, ParameterWords* words) {
    int added = 0;
    for (int i = 0; i < page.bindingCount; ++i) {
        const ControlBinding& binding = page.bindings[i];
        // A refused entry queues nothing, even when an earlier accepted
        // value of the box differs from the device's.
        if (isEditBinding(binding) && !takeEntry(binding, entries[i])) continue;
        added += addIfChanged(binding.field, words);
    }
    return added;
}

int changedParameters(ParameterWords* words) {
    words->count = 0;
    for (const ParameterRange& range : PARAMETER_RANGES) addIfChanged(range.field, words);
    return words->count;
}
