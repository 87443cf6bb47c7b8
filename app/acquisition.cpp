#include "app/acquisition.h"
#include "app/acquisition_testing.h"

#include "display/display_state.h"
#include "lang/text_ids.h"
#include "link/command_frames.h"
#include "link/link_config.h"
#include "link/live_state.h"
#include "params/parameter_set.h"
#include "params/settings.h"

const int32_t HOLD_TICKS[3] = {40, 120, 240};

int downloadPending = 0;

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

int32_t lastShownMeasurement = 0;  // the readout last painted
int linkRecovering = 0;  // a lost link awaits its reopen
uint32_t lastReopenMs = 0;

void resetReadoutsAfterLinkLoss() {
    liveState.measurement.store(NO_VALUE, relaxed);
    liveState.maxPeak.store(NO_VALUE, relaxed);
    liveState.minPeak.store(NO_VALUE, relaxed);
    storeTextByte(deviceParameters.deviceText[0], '\0');
    redrawHeader = 1;
}

}  // namespace

void resetAcquisition() {
    downloadPending = 0;
    lastShownMeasurement = 0;
    linkRecovering = 0;
    lastReopenMs = 0;
}

void configureLinkFromSettings() {
    configureLink(TREND_DECIMATION[rollIndexNow()], loadField(appSettings.stopAtAlarm) != 0);
}

int alarmHoldTick() {
    uint8_t count = liveState.alarmHoldCount.load(relaxed);
    if (count == 0) return 0;
    ++count;
    if (count < HOLD_TICKS[rollIndexNow()]) {
        liveState.alarmHoldCount.store(count, relaxed);
        return 0;
    }
    liveState.alarmHoldCount.store(0, relaxed);
    graphFrozen = 1;
    redrawAll = 1;
    return 1;
}

PumpStep pumpTick() {
    if (pumpCommandWord()) return PUMP_SENT_WORD;
    if (downloadPending) {
        downloadPending = 0;
        sendRequest();
        return PUMP_CONFIRM;
    }
    uint8_t watchdog = liveState.linkWatchdog.load(relaxed);
    if (watchdog != 0) {
        liveState.linkWatchdog.store(static_cast<uint8_t>(watchdog - 1), relaxed);
        return PUMP_WATCHDOG;
    }
    if (liveState.measurement.load(relaxed) == NO_VALUE) return PUMP_WATCHDOG;
    resetReadoutsAfterLinkLoss();
    return PUMP_LINK_LOST;
}

int confirmationMessage(int answered) {
    if (!answered) return TXT_CONFIRMATION_TIMEOUT;
    return editedMatchesDevice() ? 0 : TXT_PARAMETERS_NOT_TRANSFERRED;
}

int readoutsTick() {
    int32_t measurement = liveState.measurement.load(relaxed);
    if (measurement == lastShownMeasurement && liveState.readoutsChanged.load(relaxed) == 0)
        return 0;
    if (measurement < 100 && lastShownMeasurement >= 100) redrawHeader = 1;
    liveState.readoutsChanged.store(0, relaxed);
    lastShownMeasurement = measurement;
    return 1;
}

int identificationTick() {
    if (liveState.linkWatchdog.load(relaxed) == 0 || deviceTextPresent()) return 0;
    sendRequest();
    return 1;
}

RecoveryStep linkRecoveryTick(int linkOpen, int deviceGone, uint32_t nowMs) {
    // The user's choice of port has the last word: a port marked not open
    // (or one just picked and opened) ends any recovery.
    if (appSettings.comPort >= PORT_NOT_OPEN || (linkOpen && !deviceGone)) {
        linkRecovering = 0;
        return RECOVERY_NONE;
    }
    if (linkOpen) {
        if (liveState.linkWatchdog.load(relaxed) != 0) return RECOVERY_NONE;
        linkRecovering = 1;
        lastReopenMs = nowMs;
        return RECOVERY_CLOSE_AND_REOPEN;
    }
    if (!linkRecovering || nowMs - lastReopenMs < REOPEN_INTERVAL_MS) return RECOVERY_NONE;
    lastReopenMs = nowMs;
    return RECOVERY_REOPEN;
}

int linkCarriesData(int linkOpen, int deviceGone) {
    return linkOpen && !deviceGone && liveState.linkWatchdog.load(relaxed) != 0 ? 1 : 0;
}

void linkReopened(int opened) {
    if (!opened) return;
    linkRecovering = 0;
    liveState.linkWatchdog.store(LINK_WATCHDOG_AT_START, relaxed);
}
