// The property sheet's rules: what a choice or an entry does to
// editedParameters, and which words OK queues, page by page.
#include <cstring>
#include <vector>

#include "params/parameter_sheet.h"
#include "params/parameter_values.h"
#include "resources/resource_ids.h"
#include "tests/unit/link/link_test_support.h"

namespace {

class ParameterSheet : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        setTransmitLinkOpen(1);
        deviceParameters.limit1Type = 2;
        deviceParameters.limit1Setpoint = 80;
        deviceParameters.limit1Tr = 120;
        deviceParameters.limit2Setpoint = 60;
        deviceParameters.outputs = 1;
        deviceParameters.p1Max = 100;
        copyDeviceToEdited();
    }

    static std::vector<int> queuedWords() {
        std::vector<int> words;
        uint8_t frame[TRANSMIT_CHUNK_SIZE];
        while (pumpCommandWord() && takeTransmitBytes(frame) == FRAME_SIZE)
            words.push_back(frame[0] >> 4 << 12 | frame[1] >> 4 << 8 | frame[2] >> 4 << 4 | frame[3] >> 4);
        return words;
    }

    // The entries the boxes of a page show for the edited values.
    static std::vector<uint32_t> shownEntries(const SheetPage& page) {
        std::vector<uint32_t> entries;
        for (int i = 0; i < page.bindingCount; ++i)
            entries.push_back(editedParameters.*page.bindings[i].field);
        return entries;
    }

    // OK on a page, its words queued as the front end queues them.
    static int apply(const SheetPage& page, const uint32_t* entries) {
        ParameterWords words{};
        int added = applyPage(page, entries, &words);
        queueParameterWords(words);
        return added;
    }

    static const ControlBinding& binding(const SheetPage& page, int id) { return *findBinding(page, id); }
    static int indexOf(const SheetPage& page, int id) { return static_cast<int>(findBinding(page, id) - page.bindings); }

    const SheetPage& limit1 = SHEET_PAGES[0];
    const SheetPage& limit2 = SHEET_PAGES[1];
    const SheetPage& setup = SHEET_PAGES[2];
};

TEST_F(ParameterSheet, OkWithoutChangesQueuesNothing) {
    for (const SheetPage& page : SHEET_PAGES) EXPECT_EQ(0, apply(page, shownEntries(page).data()));
    EXPECT_TRUE(queuedWords().empty());
}

TEST_F(ParameterSheet, ChangedFieldsQueueTheirWordsInPageOrder) {
    std::vector<uint32_t> entries = shownEntries(limit2);
    entries[1] = 45;
    EXPECT_EQ(1, apply(limit2, entries.data()));
    EXPECT_EQ(std::vector<int>{3245}, queuedWords());

    takeListPosition(binding(limit1, IDC_LIMIT_TYPE), 0);  // "Min."
    entries = shownEntries(limit1);
    entries[2] = parseTenths("12,5", 4);
    apply(limit1, entries.data());
    EXPECT_EQ((std::vector<int>{3001, 3425}), queuedWords());

    // Every field of a page changed: the words follow the page's fixed order.
    takeListPosition(binding(limit1, IDC_LIMIT_TYPE), 1);
    takeListPosition(binding(limit1, IDC_CURRENT_RANGE), 9);
    entries = {0, 7, 31, 42, 0};
    EXPECT_EQ(4, apply(limit1, entries.data()));  // type back to the device's "Max."
    EXPECT_EQ((std::vector<int>{3107, 3331, 3942, 3029}), queuedWords());

    takeListPosition(binding(setup, IDC_OUTPUTS), 1);              // "2"
    takeListPosition(binding(setup, IDC_NOMINAL_VOLTAGE), 6);      // 575 V
    takeListPosition(binding(setup, IDC_ANALOGUE_OUTPUT), 1);
    takeListPosition(binding(setup, IDC_POLARITY), 1);
    takeListPosition(binding(setup, IDC_AUTO_SHUT_DOWN), 1);       // "On"
    entries = shownEntries(setup);
    entries[4] = 40;
    apply(setup, entries.data());
    EXPECT_EQ((std::vector<int>{3046, 3051, 3061, 3072, 4540, 3066}), queuedWords());
}

// A loaded file is queued from its own record, whatever the reader thread
// has meanwhile stored in deviceParameters.
TEST_F(ParameterSheet, RecordIsQueuedFromItsOwnValues) {
    ParameterSet loaded = deviceParameters;
    loaded.limit1Setpoint = 50;
    deviceParameters.limit1Setpoint = 70;
    ASSERT_EQ(1, queueParameterRecord(loaded));
    std::vector<int> words = queuedWords();
    ASSERT_EQ(16u, words.size());
    EXPECT_EQ(3150, words[9]);
}

TEST_F(ParameterSheet, EntriesOutsideTheirRangeAreRefused) {
    const ControlBinding& setpoint = binding(limit1, IDC_SETPOINT);
    EXPECT_EQ(0, takeEntry(setpoint, 100));
    EXPECT_EQ(0, takeEntry(setpoint, 4));
    EXPECT_EQ(0, takeEntry(setpoint, 65541));  // not cut to 16 bits first
    EXPECT_EQ(80, editedParameters.limit1Setpoint);
    EXPECT_EQ(1, takeEntry(setpoint, 99));
    EXPECT_EQ(0, takeEntry(binding(setup, IDC_P1_MAX), 30));
    EXPECT_EQ(1, takeEntry(binding(setup, IDC_P1_MAX), 100));
    EXPECT_EQ(0, takeEntry(binding(limit1, IDC_TR), parseTenths("25.1", 4)));
    EXPECT_EQ(120, editedParameters.limit1Tr);
}

// A Tr or Ts text that is no number is refused, not read as 0.0 s as atoi
// would have it.
TEST_F(ParameterSheet, TenthsTextsThatAreNoNumberAreRefused) {
    const struct { const char* text; uint32_t entry; } cases[] = {
        {"12,5", 125}, {" 7", 70}, {"0", 0}, {".5", 5}, {"25.", 250},
        {"", ENTRY_NOT_A_NUMBER}, {"abc", ENTRY_NOT_A_NUMBER}, {"1a", ENTRY_NOT_A_NUMBER},
        {"-1", ENTRY_NOT_A_NUMBER}, {".", ENTRY_NOT_A_NUMBER}, {"1.2.", ENTRY_NOT_A_NUMBER},
        {"1 2", ENTRY_NOT_A_NUMBER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.entry, tenthsEntry(c.text, static_cast<int>(std::strlen(c.text)))) << '"' << c.text << '"';
    EXPECT_EQ(0, takeEntry(binding(limit1, IDC_TS), tenthsEntry("x", 1)));
}

// A value outside the range that already stands (a silent device's zeros)
// is no refused entry: the sheet can still be closed with OK.
TEST_F(ParameterSheet, OnlyAnEntryOtherThanTheStandingValueIsRefused) {
    const ControlBinding& setpoint = binding(limit1, IDC_SETPOINT);
    EXPECT_EQ(1, entryRefused(setpoint, 100));
    EXPECT_EQ(0, entryRefused(setpoint, 50));
    editedParameters.limit1Setpoint = 0;
    EXPECT_EQ(0, entryRefused(setpoint, 0));
    EXPECT_EQ(1, entryRefused(setpoint, ENTRY_NOT_A_NUMBER));
}

// An earlier accepted value that differs from the device's stays unsent
// when the box holds a refused entry at OK.
TEST_F(ParameterSheet, RefusedBoxAtOkQueuesNothingForItsField) {
    takeEntry(binding(limit1, IDC_SETPOINT), 50);
    std::vector<uint32_t> entries = shownEntries(limit1);
    entries[1] = 100;
    EXPECT_EQ(0, apply(limit1, entries.data()));
    EXPECT_TRUE(queuedWords().empty());
}

// A refused entry holds the page on its box once, whether the focus left
// the box first (a click on OK or a tab: the box already shows its standing
// value) or the entry is still in it (Enter); nothing is taken from it.
TEST_F(ParameterSheet, ARefusalSinceThePageBecameActiveHoldsItOnce) {
    const int setpoint = indexOf(limit1, IDC_SETPOINT), tr = indexOf(limit1, IDC_TR);
    std::vector<uint32_t> shown = shownEntries(limit1);
    RefusedBoxes refused;
    EXPECT_EQ(1, leaveEditBox(limit1, setpoint, 100, &refused)) << "focus moved to OK";
    EXPECT_EQ(80, editedParameters.limit1Setpoint);
    PageHold hold = holdPage(limit1, shown.data(), &refused);
    EXPECT_EQ(setpoint, hold.index);
    EXPECT_EQ(0, hold.refusedNow) << "warned when the box was left";
    EXPECT_EQ(-1, holdPage(limit1, shown.data(), &refused).index) << "the next OK closes";

    std::vector<uint32_t> typed = shown;
    typed[tr] = tenthsEntry("abc", 3);
    hold = holdPage(limit1, typed.data(), &refused);
    EXPECT_EQ(tr, hold.index) << "Enter with the entry still in its box";
    EXPECT_EQ(1, hold.refusedNow);

    EXPECT_EQ(1, leaveEditBox(limit1, tr, 251, &refused));
    EXPECT_EQ(1, leaveEditBox(limit1, setpoint, 100, &refused));
    hold = holdPage(limit1, typed.data(), &refused);
    EXPECT_EQ(setpoint, hold.index) << "the first box in the page's order";
}

// A box left again with an entry it takes, or with its standing value, has
// been dealt with: the earlier refusal no longer holds the page.
TEST_F(ParameterSheet, ABoxLeftAgainWithoutRefusalReleasesThePage) {
    const int setpoint = indexOf(limit1, IDC_SETPOINT), p1Max = indexOf(setup, IDC_P1_MAX);
    RefusedBoxes refused;
    leaveEditBox(limit1, setpoint, 100, &refused);
    EXPECT_EQ(0, leaveEditBox(limit1, setpoint, 70, &refused));
    EXPECT_EQ(70, editedParameters.limit1Setpoint);
    std::vector<uint32_t> shown = shownEntries(limit1);
    EXPECT_EQ(-1, holdPage(limit1, shown.data(), &refused).index);

    editedParameters.p1Max = 0;  // a silent device's zeros stand in the box
    leaveEditBox(setup, p1Max, 30, &refused);
    EXPECT_EQ(0, leaveEditBox(setup, p1Max, 0, &refused));
    shown = shownEntries(setup);
    EXPECT_EQ(-1, holdPage(setup, shown.data(), &refused).index);
}

TEST_F(ParameterSheet, ZeroTypeOrOutputsSelectsNothing) {
    EXPECT_EQ(-1, listPositionOf(binding(limit1, IDC_LIMIT_TYPE), 0));
    EXPECT_EQ(1, listPositionOf(binding(setup, IDC_OUTPUTS), 2));
    EXPECT_EQ(3, listPositionOf(binding(limit1, IDC_CURRENT_RANGE), 3));
}

}  // namespace
