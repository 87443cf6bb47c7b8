#include "link/link_config.h"

LinkConfig linkConfig;

void configureLink(int decimation, bool alarmHold) {
    linkConfig.decimation.store(decimation < 1 ? 1 : decimation, std::memory_order_relaxed);
    linkConfig.alarmHold.store(alarmHold ? 1 : 0, std::memory_order_relaxed);
}
