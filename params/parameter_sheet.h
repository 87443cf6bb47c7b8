// The parameter property sheet's rules, free of Win32: which control shows
// which field of editedParameters, how a choice or an entry is taken, and
// which parameter words OK sends. The Win32 pages read and write the
// controls and call these; the front end queues the words.
//
// Threads: window thread only. deviceParameters is read field by field while
// the reader thread may store into it.
#pragma once

#include <cstdint>

#include "params/parameter_set.h"

enum BindingKind {
    BIND_POSITION,           // combo box: the list position is the value
    BIND_POSITION_PLUS_ONE,  // combo box: the value is the position + 1 (0 selects nothing)
    BIND_NUMBER,             // edit box: an unsigned decimal number
    BIND_TENTHS,             // edit box: seconds with one decimal, kept in tenths
};

struct ControlBinding {
    int controlId;
    uint16_t ParameterSet::*field;
    BindingKind kind;
};

struct LabelText {
    int controlId;
    int textIndex;
};

// A combo box's list in order: fixed items, or two texts of the language
// table from firstTextIndex on.
struct ComboList {
    int controlId;
    const char* const* items;
    int count;
    int firstTextIndex;
};

struct SheetPage {
    int templateId;
    int titleIndex;
    const ControlBinding* bindings;  // in the order OK applies them
    int bindingCount;
    const LabelText* labels;
    int labelCount;
    const ComboList* lists;
    int listCount;
};

constexpr int SHEET_PAGE_COUNT = 3;
extern const SheetPage SHEET_PAGES[SHEET_PAGE_COUNT];  // Limit 1, Limit 2, Setup

int isEditBinding(const ControlBinding& binding);
const ControlBinding* findBinding(const SheetPage& page, int controlId);

// The list position that shows value (-1: nothing selected).
int listPositionOf(const ControlBinding& binding, uint16_t value);

// A combo box choice: the field takes it at once.
void takeListPosition(const ControlBinding& binding, int position);

// An edit box's entry that is no number at all: an empty box, letters, a
// sign. It is outside every range, so takeEntry refuses it.
constexpr uint32_t ENTRY_NOT_A_NUMBER = 0xFFFFFFFF;

// A Tr or Ts text as an entry: parseTenths of it when it is a number (blanks
// before it, digits with at most one "." or "," among them), else
// ENTRY_NOT_A_NUMBER. length is the number of characters read from the box.
uint32_t tenthsEntry(const char* text, int length);

// An edit box's entry (GetDlgItemInt's number, or tenthsEntry of the text):
// the field takes it when it passes the field's range test. Returns 1 when
// taken. The range test sees the whole number: 65541 is refused, not taken
// as 5.
int takeEntry(const ControlBinding& binding, uint32_t entered);

// 1 when the entry would be refused and is not simply the value that stands:
// a device (or the all-zero record of a silent one) may report a value
// outside the range, which its box then shows unchanged. Such a box neither
// warns nor holds the sheet open; a refused entry does both.
int entryRefused(const ControlBinding& binding, uint32_t entered);

// The edit boxes of one page whose entry was refused since the page became
// active. A box refuses an entry when it loses the focus, and a click on OK
// or on a page tab moves the focus before the page is asked to be left: by
// then the box shows its standing value again, so the refusal is
// remembered, and the page is held on that box the next time it is to be
// left.
struct RefusedBoxes {
    uint32_t marks = 0;  // bit i: page.bindings[i]
};

// An edit box lost the focus with this entry (index into page.bindings):
// the field takes it, or the entry is refused and the box marked. 1 when
// refused: the box is to show its standing value again. A box left with an
// entry that is not refused has been seen to: its mark goes.
int leaveEditBox(const SheetPage& page, int index, uint32_t entered, RefusedBoxes* refused);

// Where the page is held when it is to be left (OK, Enter, another page).
struct PageHold {
    int index;       // the box to show its standing value, focused and selected; -1: the page may be left
    int refusedNow;  // its entry is refused now, never having left the box: warn
};

// The page is to be left; entries[i] is what bindings[i] holds now (ignored
// for combo boxes). The first box refused since the page became active, or
// refused now, holds it; the marks are used up, so each refusal holds the
// page once.
PageHold holdPage(const SheetPage& page, const uint32_t* entries, RefusedBoxes* refused);

// OK on one page: each field in the page's order, an edit box's entry first
// taken as above; every field that then differs from the device's value
// adds its word to words. entries[i] is the entry of bindings[i] (ignored
// for combo boxes). Returns the number of words added.
int applyPage(const SheetPage& page, const uint32_t* entries, ParameterWords* words);

// Every one of the sixteen fields of editedParameters that differs from the
// device's, in record order: words holds exactly their words. Returns the
// number of them.
int changedParameters(ParameterWords* words);
