// The program's run-time texts. Each language is a list of {index, text} in
// ascending index order; buildTable() turns the three lists into the
// 300 x 64-byte table while compiling, so the table is constant data with no
// start-up code and no initialisation-order hazard.
//
// Texts are code page 1252 bytes. Non-ASCII characters are written as hex
// escapes; a literal is split where the next character is a hex digit
// ("\xDC" "ber"), since the escape would otherwise swallow it. "\n" is the
// single line-feed byte that a message box shows as a line break.
//
// Labels 50 to 62 are fixed-width: the name padded with blanks to 11
// characters (German 12, for "Strombereich" whole), then ": ", so that the
// values behind them line up in the fixed-pitch printout, where a column
// has room for 23 characters; 57 is longer in every language.
#include "lang/language_table.h"

#include <cstddef>

namespace {

struct Entry {
    int index;
    const char* text;
};

constexpr Entry ENGLISH[] = {
    {0, "About"},
    {1, "Yes "},
    {2, "No  "},
    {3, "Off"},
    {4, "On"},
    {5, "Communication"},
    {6, "Limit"},
    {7, "Setpoint"},
    {8, "Current range"},
    {9, "Nominal Voltage"},
    {10, "Timer Range"},
    {11, "Analogue output"},
    {12, "Iout"},
    {13, "Polarity"},
    {14, "Filter"},
    {15, "Zoom"},
    {16, "Outputs"},
    {17, "Control functions"},
    {18, "Auto Shut Down"},
    {19, "None"},
    {20, "Limit 1"},
    {21, "Limit 2"},
    {22, "dP/dt"},
    {23, "Setup"},
    {24, "ELQ770 Parameters"},
    {25, "Max Peak [%]:"},
    {26, "Min Peak [%]:"},
    {27, "Measmnt. [%]:"},
    {28, "dU/dt"},
    {29, "dP/dt Peak [%]:"},
    {30, "Date"},
    {31, "Peak values"},
    {32, "Parameters"},
    {33, "Error!"},
    {34, "ELQ770 Configuration tool"},
    {35, "Screen Dump"},
    {36, "Other port"},
    {37, "Serial ports present:"},
    {38, "Port:"},
    {39, "Cancel"},
    {50, "Auto ShutDn: "},
    {51, "Current rng: "},
    {52, "Voltage    : "},
    {53, "Outputs    : "},
    {54, "Iout       : "},
    {55, "Limit      : "},
    {56, "P1Max      : "},
    {57, "Active Limit: "},
    {58, "Polarity   : "},
    {59, "Setpoint   : "},
    {60, "dUdt       : "},
    {61, "Tr         : "},
    {62, "Ts         : "},
    {70, "Unit not connected. Parameters can not be send.\nContinue?"},
    {71, "No connection to unit."},
    {72, "Not a port name:"},
    {80, "Error creating an Event!"},
    {81, "Parameters not transferred correctly!"},
    {82, "Timeout on confirmation of parameters.\nPlease check!"},
    {83, "Error opening configuration file"},
    {84, "Not an ELQ770-file,\nreading of parameters aborted!"},
    {85, "Comm Port occupied or non-existing"},
    {86, "Unable to open printer"},
    {87, "Parameters could not be read."},
    {88, "Parameters could not be saved."},
    {89, "Error printing"},
    {90, "Property sheet could not be created"},
    {91, "Monitor resolution too small\nContinue anyway?"},
    {92, "ELQ770 not found on any COM-port!"},
    {93, "Error allocating memory for bitmap"},
    {94, "Error retrieving BMP-color format"},
    {95, "Error retrieving color table information"},
    {96, "Error closing file..."},
    {97, "Error creating the BMP-file"},
    {98, "Error Writing file to disc"},
};

// \xC4 A-umlaut, \xD6 O-umlaut, \xDC U-umlaut, \xE4 a-umlaut, \xF6 o-umlaut,
// \xFC u-umlaut, \xDF sharp s.
constexpr Entry GERMAN[] = {
    {0, "\xDC" "ber"},
    {1, "Ja  "},
    {2, "Nein"},
    {3, "Aus"},
    {4, "Ein"},
    {5, "Kommunikation"},
    {6, "Grenze"},
    {7, "Grenzwert"},
    {8, "Strombereich"},
    {9, "Nennspannung"},
    {10, "Zeitbereich"},
    {11, "Analogausgang"},
    {12, "Iout"},
    {13, "Polarit\xE4t"},
    {14, "Filter"},
    {15, "Zoom"},
    {16, "Ausg\xE4nge"},
    {17, "Steuerfunktionen"},
    {18, "Auto-Abschaltung"},
    {19, "Keine"},
    {20, "Grenze 1"},
    {21, "Grenze 2"},
    {22, "dP/dt"},
    {23, "Einstellungen"},
    {24, "ELQ770 Parameter"},
    {25, "Maximalwert [%]:"},
    {26, "Minimalwert [%]:"},
    {27, "Messwert [%]:"},
    {28, "dU/dt"},
    {29, "dP/dt-Spitze [%]:"},
    {30, "Datum"},
    {31, "Spitzenwerte"},
    {32, "Parameter"},
    {33, "Fehler!"},
    {34, "ELQ770 Konfiguration"},
    {35, "Bildschirmkopie"},
    {36, "Anderer Anschluss"},
    {37, "Vorhandene serielle Anschl\xFC" "sse:"},
    {38, "Anschluss:"},
    {39, "Abbrechen"},
    {50, "Auto-Absch. : "},
    {51, "Strombereich: "},
    {52, "Spannung    : "},
    {53, "Ausg\xE4nge    : "},
    {54, "Iout        : "},
    {55, "Grenze      : "},
    {56, "P1Max       : "},
    {57, "Aktive Grenze: "},
    {58, "Polarit\xE4t   : "},
    {59, "Grenzwert   : "},
    {60, "dUdt        : "},
    {61, "Tr          : "},
    {62, "Ts          : "},
    {70, "Ger\xE4t nicht verbunden. Senden nicht m\xF6glich.\nFortfahren?"},
    {71, "Keine Verbindung zum Ger\xE4t."},
    {72, "Kein Anschlussname:"},
    {80, "Einrichten des Vorgangs nicht m\xF6glich!"},
    {81, "Parameter nicht korrekt \xFC" "bertragen!"},
    {82, "Zeit\xFC" "berschreitung bei der Parameterbest\xE4tigung.\nBitte pr\xFC" "fen!"},
    {83, "Fehler beim \xD6" "ffnen der Konfigurationsdatei"},
    {84, "Keine ELQ770-Datei,\nLesen der Parameter abgebrochen!"},
    {85, "Schnittstelle besetzt oder nicht vorhanden"},
    {86, "Drucker kann nicht ge\xF6" "ffnet werden"},
    {87, "Parameter konnten nicht gelesen werden."},
    {88, "Parameter konnten nicht gespeichert werden."},
    {89, "Fehler beim Drucken"},
    {90, "Eigenschaftsfenster konnte nicht erstellt werden"},
    {91, "Bildschirmaufl\xF6sung zu gering\nTrotzdem fortfahren?"},
    {92, "ELQ770 nicht gefunden"},
    {93, "Fehler beim Anfordern von Speicher f\xFCr die Bitmap"},
    {94, "Fehler beim Ermitteln des BMP-Farbformats"},
    {95, "Fehler beim Ermitteln der Farbtabelle"},
    {96, "Fehler beim Schlie\xDF" "en der Datei..."},
    {97, "Fehler beim Erstellen der BMP-Datei"},
    {98, "Fehler beim Schreiben der Datei auf den Datentr\xE4ger"},
};

// \xE5 a-ring, \xE6 ae, \xF8 o-slash. Danish keeps the English "Off" and "On".
constexpr Entry DANISH[] = {
    {0, "Omkring"},
    {1, "Ja  "},
    {2, "Nej "},
    {3, "Off"},
    {4, "On"},
    {5, "Kommunikation"},
    {6, "Gr\xE6nse"},
    {7, "Gr\xE6nsev\xE6rdi"},
    {8, "Str\xF8momr\xE5" "de"},
    {9, "Nominel sp\xE6nding"},
    {10, "Timeromr\xE5" "de"},
    {11, "Analog udgang"},
    {12, "Iout"},
    {13, "Polaritet"},
    {14, "Filter"},
    {15, "Zoom"},
    {16, "Udgange"},
    {17, "Styrefunktioner"},
    {18, "Automatisk stop"},
    {19, "Ingen"},
    {20, "Gr\xE6nse 1"},
    {21, "Gr\xE6nse 2"},
    {22, "dP/dt"},
    {23, "Ops\xE6tning"},
    {24, "ELQ770 Parametre"},
    {25, "Maksimum [%]:"},
    {26, "Minimum [%]:"},
    {27, "M\xE5ling [%]:"},
    {28, "dU/dt"},
    {29, "dP/dt spids [%]:"},
    {30, "Dato"},
    {31, "Spidsv\xE6rdier"},
    {32, "Parametre"},
    {33, "Fejl!"},
    {34, "ELQ770 Konfigurationsv\xE6rkt\xF8j"},
    {35, "Sk\xE6rmdump"},
    {36, "Anden port"},
    {37, "Serielle porte til stede:"},
    {38, "Port:"},
    {39, "Annuller"},
    {50, "Autostop   : "},
    {51, "Str\xF8momr\xE5" "de: "},
    {52, "Sp\xE6nding   : "},
    {53, "Udgange    : "},
    {54, "Iout       : "},
    {55, "Gr\xE6nse     : "},
    {56, "P1Max      : "},
    {57, "Aktive gr\xE6nse: "},
    {58, "Polaritet  : "},
    {59, "Gr\xE6nsev\xE6rdi: "},
    {60, "dUdt       : "},
    {61, "Tr         : "},
    {62, "Ts         : "},
    {70, "Enhed ikke tilsluttet. Parametre kan ikke sendes.\nForts\xE6t?"},
    {71, "Ingen forbindelse til enheden."},
    {72, "Ikke et portnavn:"},
    {80, "Oprettelse af Event fejlet!"},
    {81, "Parametre ikke overf\xF8rt korrekt!"},
    {82, "Timeout ved bekr\xE6" "ftelse af parametre.\nKontroller venligst!"},
    {83, "Fejl ved \xE5" "bning af konfigurationsfil"},
    {84, "Ikke en ELQ770-fil,\nindl\xE6sning af parametre afbrudt!"},
    {85, "CommPort optaget eller ikke-eksisterende"},
    {86, "Kan ikke \xE5" "bne printeren"},
    {87, "Parametrene kunne ikke l\xE6ses."},
    {88, "Parametrene kunne ikke gemmes."},
    {89, "Fejl ved udskrivning"},
    {90, "Egenskabsarket kunne ikke oprettes"},
    {91, "Sk\xE6rmopl\xF8sning for lav\nForts\xE6t alligevel?"},
    {92, "ELQ770 ikke fundet p\xE5 nogen COM-port!"},
    {93, "Fejl ved allokering af hukommelse til bitmap"},
    {94, "Fejl ved hentning af BMP-farveformat"},
    {95, "Fejl ved hentning af farvetabeloplysninger"},
    {96, "Fejl ved lukning af fil..."},
    {97, "Fejl ved oprettelse af BMP-filen"},
    {98, "Fejl ved skrivning af fil til disk"},
};

constexpr int textLength(const char* text) {
    int length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

// Indexes strictly ascending inside one block (so none is given twice) and
// every text non-empty and short enough to keep its NUL inside the slot.
template <std::size_t N>
constexpr bool entriesFitBlock(const Entry (&entries)[N]) {
    int previous = -1;
    for (const Entry& entry : entries) {
        if (entry.index <= previous || entry.index >= LANGUAGE_BLOCK) return false;
        int length = textLength(entry.text);
        if (length == 0 || length >= LANGUAGE_TEXT_SIZE) return false;
        previous = entry.index;
    }
    return true;
}

// A translation fills exactly the indexes that English fills.
template <std::size_t N, std::size_t M>
constexpr bool sameIndexes(const Entry (&reference)[N], const Entry (&translation)[M]) {
    if (N != M) return false;
    for (std::size_t i = 0; i < N; ++i)
        if (reference[i].index != translation[i].index) return false;
    return true;
}

static_assert(entriesFitBlock(ENGLISH), "English entries must be ordered and fit 63 characters");
static_assert(entriesFitBlock(GERMAN), "German entries must be ordered and fit 63 characters");
static_assert(entriesFitBlock(DANISH), "Danish entries must be ordered and fit 63 characters");
static_assert(sameIndexes(ENGLISH, GERMAN), "German must fill the indexes English fills");
static_assert(sameIndexes(ENGLISH, DANISH), "Danish must fill the indexes English fills");

template <std::size_t N>
constexpr void fillBlock(LanguageTable& table, int offset, const Entry (&entries)[N]) {
    for (const Entry& entry : entries) {
        char* slot = table.slots[offset + entry.index];
        for (int i = 0; entry.text[i] != '\0'; ++i) slot[i] = entry.text[i];
    }
}

constexpr LanguageTable buildTable() {
    LanguageTable table{};  // every byte zero: empty slots, zeros behind each NUL
    fillBlock(table, 0, ENGLISH);
    fillBlock(table, LANGUAGE_BLOCK, GERMAN);
    fillBlock(table, 2 * LANGUAGE_BLOCK, DANISH);
    return table;
}

}  // namespace

constinit const LanguageTable languageTable = buildTable();
