// The periodic work of the window thread, kept free of Win32 so that its
// decisions can be tested natively: the alarm hold, the command pump with its
// download confirmation and link watchdog, the readout repaint rule and the
// identification request. The Win32 timer handlers call these and carry out
// what they return (invalidations, the confirmation wait, message boxes).
//
// Threads: window thread only. The live state it reads and writes is shared
// with the reader thread through its atomics (see link/live_state.h).
#pragma once

#include <cstdint>

extern const int32_t HOLD_TICKS[3];

extern int downloadPending;  // queued parameter words await confirmation

// Hands the roll period's decimation and the stop-at-alarm choice of
// appSettings to the link; called whenever either is set.
void configureLinkFromSettings();

// Timer 20: counts the alarm hold; returns 1 when the graph has just frozen.
int alarmHoldTick();

enum PumpStep {
    PUMP_SENT_WORD,      // a queued word went out
    PUMP_CONFIRM,        // the download has drained: confirm it now
    PUMP_WATCHDOG,       // the watchdog counted down, or stays run down
    PUMP_LINK_LOST,      // the watchdog has just run out: readouts cleared
};

// Timer 50: one branch per tick. PUMP_CONFIRM has already cleared
// downloadPending and sent the request; the caller waits for the answer and
// passes the outcome to confirmationMessage.
PumpStep pumpTick();

// The message to show after the confirmation wait: 0 (none),
// TXT_PARAMETERS_NOT_TRANSFERRED or TXT_CONFIRMATION_TIMEOUT.
int confirmationMessage(int answered);

// Timer 300: returns 1 when the readouts must be repainted (and sets
// redrawHeader when the readout shrinks from three digits).
int readoutsTick();

// Timer 1000: asks the device for its data while its text is missing and the
// link is alive. Returns 1 when a request was sent.
int identificationTick();

// A pulled adapter leaves a dead handle that keeps its port's name from
// coming back. Once the link's device is gone and the watchdog has run out,
// the window thread closes the link and opens the same port again, quietly,
// at most once every REOPEN_INTERVAL_MS until it opens. A merely silent
// device on a live port changes nothing.
constexpr uint32_t REOPEN_INTERVAL_MS = 2000;

enum RecoveryStep {
    RECOVERY_NONE,
    RECOVERY_CLOSE_AND_REOPEN,  // close the dead link, then try the port
    RECOVERY_REOPEN,            // the link is closed: try the port again
};

// Timer 50, after the pump: linkOpen and deviceGone as the link reports
// them, nowMs a millisecond tick count (it may wrap).
RecoveryStep linkRecoveryTick(int linkOpen, int deviceGone, uint32_t nowMs);

// A link that carries the device's data: open, its device not gone, and a
// valid line heard within the watchdog's period (a driver may lose its
// device without ever failing a read). Choosing the checked port again
// leaves such a link alone and opens any other afresh.
int linkCarriesData(int linkOpen, int deviceGone);

// The outcome of a reopen the step asked for. An open link starts as at
// program start: the watchdog full, so the identification requests resume.
void linkReopened(int opened);
