// The printed page: its logical grid, where the graph and the parameter list
// stand on it, and the text and place of every printed line. Portable; the
// Win32 side (print_win32.cpp) only creates the fonts and puts the lines and
// the graph on a printer DC.
//
// Texts are UTF-16, ready for the W functions: the labels come from the
// language table (code page 1252) and the date and time from the system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "params/parameter_set.h"

// The page is a fixed grid stretched over the printable area, portrait or
// landscape as the printer DC is; a square area counts as landscape.
struct PrintLayout {
    int windowWidth;
    int windowHeight;
    int graphX;  // left end of the graph's time axis
    int graphY;
    int listX;   // origin of the parameter list
    int listY;
};
PrintLayout printLayoutFor(int horzRes, int vertRes);

// Heights in the page's logical units; weights as LOGFONT has them.
enum class PrintFont { TITLE, HEADING, BODY };
struct PrintFontHeightWeight {
    int height;
    int weight;
};
PrintFontHeightWeight printFontHeightWeight(PrintFont font);

constexpr int PRINT_LINE_SIZE = 160;  // UTF-16 units with the NUL

struct PrintLine {
    int x;
    int y;
    PrintFont font;
    char16_t text[PRINT_LINE_SIZE];
};

// The three header lines (left and top aligned): the maker and device text,
// the date and time of printing, the peaks. date and time are the system's
// own texts; a peak of -1 (no value) prints as -1.
constexpr int HEADER_LINE_COUNT = 3;
void headerLines(PrintLine lines[HEADER_LINE_COUNT], const char* deviceText, const char16_t* date,
                 const char16_t* time, int32_t maxPeak, int32_t minPeak);

// The parameter list at (a, b), left and bottom aligned, in the language in
// force: headings, then each label followed by its value.
constexpr int PARAMETER_LINE_COUNT = 23;
void parameterListLines(PrintLine lines[PARAMETER_LINE_COUNT], const ParameterSet& record, int a, int b);

// The list's rows in reading order, between its title and the active limit:
// a heading (no field) or a label followed by its field's value, in column 0
// or 1, dy below the list's origin. The command-line tool's table follows
// the same rows.
struct ParameterListRow {
    int column;
    int dy;
    int textIndex;
    uint16_t ParameterSet::*field;
};
constexpr int PARAMETER_LIST_ROW_COUNT = 21;
extern const ParameterListRow PARAMETER_LIST_ROWS[PARAMETER_LIST_ROW_COUNT];

// A value as the list writes it: "Max.", "45%", "2.5s", "10A", "400V",
// "4-20mA", "inv", the "On" of the language languageOffset; codes beyond the
// value texts as their number.
void parameterValueText(char* text, std::size_t size, int languageOffset, uint16_t ParameterSet::*field,
                        uint16_t value);

// Length of a line's text in UTF-16 units.
int printTextLength(const char16_t* text);
