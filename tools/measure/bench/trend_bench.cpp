// Cost of the graph's two paths on the recording surface: one scrollTrend
// step (one sample: erase column, marker, blit, segment) and one full
// redrawTrend (500 points). Figures only; never fails.
#include <benchmark/benchmark.h>

#include <cstring>

#include "tests/support/recording_surface.h"
#include "display/trend_graph.h"
#include "display/trend_graph_testing.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "params/parameter_set.h"

namespace {

void prepare() {
    resetLiveState();
    resetTrendHistory();
    deviceParameters = {};
    std::memcpy(deviceParameters.deviceText, "ELQ770", 7);
    deviceParameters.limit1Setpoint = 60;
    RecordingSurface start;
    for (int i = 0; i < TREND_SIZE; ++i) {
        liveState.measurement = i % 120;
        appendTrendSample();
        scrollTrend(start);
    }
}

void scrollOneSample(benchmark::State& state) {
    prepare();
    RecordingSurface surface;
    surface.setRasterise(state.range(0) != 0);
    int value = 0;
    for (auto _ : state) {
        liveState.measurement = value++ % 120;
        appendTrendSample();
        scrollTrend(surface);
        surface.clear();
    }
}

void redrawWholeCurve(benchmark::State& state) {
    prepare();
    RecordingSurface surface;
    surface.setRasterise(state.range(0) != 0);
    for (auto _ : state) {
        redrawTrend(surface);
        surface.clear();
    }
}

}  // namespace

BENCHMARK(scrollOneSample)->Arg(0)->Arg(1);
BENCHMARK(redrawWholeCurve)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
