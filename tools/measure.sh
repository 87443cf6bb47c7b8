#!/usr/bin/env bash
# Prints the performance figures of the program and its core:
#   tools/measure.sh [--only FILTER] [NATIVE_BUILD_DIR]   (default build/native)
#   tools/measure.sh bench [BENCH_BUILD_DIR]              (default build/bench)
#   tools/measure.sh relay [BUILD_DIR [ROUNDS]]           (default build/bench)
#   tools/measure.sh record [BUILD_DIR [SECONDS]]         (default build/bench, 30 s)
#   tools/measure.sh publish [BUILD_DIR [SECONDS [COUNT]]] (default build/bench, 60, 16)
#   tools/measure.sh flapping [BUILD_DIR [SECONDS [HOLD_S [ack]]]] (default build/bench, 3600, 2)
#   tools/measure.sh decode [BUILD_DIR [MEGABYTES]]    (default build/bench, 40 MB)
#   tools/measure.sh ser2net [ROUNDS]                  (default 1000; tools/measure/ser2net_latency.py)
#   tools/measure.sh share [BUILD_DIR [ROUNDS]]        (default build/bench, 1000; tools/measure/share_latency.py)
#
# The first form builds nothing (run tools/build.sh first). It runs the
# measuring tools of tools/measure under Wine through the end-to-end harness,
# about four minutes: Performance.* (start-up to first paint, CPU share while
# a device streams, GDI cost of the trend graph), LinkMeasure.* (CPU of the
# link threads, line-to-parser latency) and Measure.* (a parameter-file load
# to its confirmation). --only takes a GoogleTest filter, for example
# 'Performance.TrendGdiCost' or 'LinkMeasure.*'. It prints their figure lines:
# "figure: ..." (and "note: ..." context: pids, load, CPU per thread) and
# "[ figures  ] ...". The whole log stays in NATIVE_BUILD_DIR/measure.log.
#
# The second form configures a release build without sanitizers, builds the
# Google Benchmarks of the portable core (tools/measure/bench) and runs them.
#
# The third form builds elq770ctl in that release tree (or uses the one in
# BUILD_DIR) and times a request frame to the first answer byte through
# `elq770ctl record --relay` against the same round without it, on
# pseudo-terminals (tools/measure/relay_latency.py; Linux, no Wine).
#
# The fourth form builds elq770ctl and elq770-sim there (or uses those in
# BUILD_DIR) and takes the CPU share of `elq770ctl record` while the
# simulator streams, and the packets per second it records
# (tools/measure/record_cpu.py; Linux, no Wine).
#
# The fifth form builds the same two there (or uses those in BUILD_DIR) and
# runs COUNT `elq770ctl publish` gateways against as many simulators into one
# Mosquitto broker of its own on 127.0.0.1 for SECONDS: the measurement
# messages received against those expected, and the CPU share of each
# gateway and of the broker (tools/measure/publish_scale.sh; Linux, no Wine;
# needs the Debian packages mosquitto and mosquitto-clients). ELQ_METRICS=1
# turns on --metrics and --discovery in every gateway and scrapes each
# /metrics once a second (curl), adding the scrapes' latency.
#
# The sixth form builds the same two there (or uses those in BUILD_DIR) and
# runs one gateway for SECONDS (an hour by default) against the script's own
# broker that accepts each connection and drops it HOLD_S seconds later:
# the gateway's resident memory (start, peak, end), the lines it logged, the
# connections and the waits between them, and retained messages received
# twice on one connection (tools/measure/publish_flapping.py; Linux, no
# Wine, no broker needed).
#
# The seventh form builds elq770ctl there (or uses the one in BUILD_DIR) and
# takes the peak memory of `decode`, `decode --json` and `monitor --from` on
# a recording of MEGABYTES MB that it writes (tools/measure/decode_memory.py,
# /usr/bin/time -v; Linux, no Wine).
#
# The figures depend on the machine and on what else runs on it; the load
# average is printed with them. Nothing here fails because the machine is
# slow: a non-zero exit means a figure could not be taken at all.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# release_build BUILD TARGET...: a release tree without sanitizers; exit 2
# when it does not build.
release_build() {
  local build=$1
  shift
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DELQ_SANITIZE=OFF >/dev/null || exit 2
  cmake --build "$build" -j"$(nproc)" --target "$@" >/dev/null || exit 2
}

if [ "${1:-}" = bench ]; then
  build=${2:-$root/build/bench}
  release_build "$build" parser_bench trend_bench
  echo "machine: $(nproc) cores, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  rc=0
  "$build/tools/measure/bench/parser_bench" || rc=$?
  "$build/tools/measure/bench/trend_bench" || rc=$?
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit "$rc"
fi

if [ "${1:-}" = relay ]; then
  build=${2:-$root/build/bench}
  [ -z "${2:-}" ] && release_build "$build" elq770ctl
  exec python3 "$root/tools/measure/relay_latency.py" "$build/elq770ctl" "${3:-1000}"
fi

if [ "${1:-}" = ser2net ]; then
  exec python3 "$root/tools/measure/ser2net_latency.py" "${2:-1000}"
fi

if [ "${1:-}" = share ]; then
  build=${2:-$root/build/bench}
  [ -z "${2:-}" ] && release_build "$build" elq770ctl
  exec python3 "$root/tools/measure/share_latency.py" "$build/elq770ctl" "${3:-1000}"
fi

if [ "${1:-}" = record ]; then
  build=${2:-$root/build/bench}
  [ -z "${2:-}" ] && release_build "$build" elq770ctl elq770-sim
  exec python3 "$root/tools/measure/record_cpu.py" "$build/elq770ctl" "$build/tools/elq770-sim" "${3:-30}"
fi

if [ "${1:-}" = publish ]; then
  build=${2:-$root/build/bench}
  [ -z "${2:-}" ] && release_build "$build" elq770ctl elq770-sim
  exec bash "$root/tools/measure/publish_scale.sh" "$build/elq770ctl" "$build/tools/elq770-sim" "${3:-60}" "${4:-16}"
fi

if [ "${1:-}" = flapping ]; then
  build=${2:-$root/build/bench}
  [ -z "${2:-}" ] && release_build "$build" elq770ctl elq770-sim
  exec python3 "$root/tools/measure/publish_flapping.py" "$build/elq770ctl" "$build/tools/elq770-sim" "${3:-3600}" \
    "${4:-2}" ${5:+"$5"}
fi

if [ "${1:-}" = decode ]; then
  build=${2:-$root/build/bench}
  [ -z "${2:-}" ] && release_build "$build" elq770ctl
  exec python3 "$root/tools/measure/decode_memory.py" "$build/elq770ctl" "${3:-40}"
fi

filter='*'
if [ "${1:-}" = --only ]; then
  filter=${2:?"measure.sh: --only needs a GoogleTest filter"}
  shift 2
fi
build=${1:-$root/build/native}
measure=$build/tools/measure/wine_measure
if [ ! -x "$measure" ]; then
  echo "measure.sh: no $measure (run tools/build.sh first)" >&2
  exit 2
fi
log=$build/measure.log

echo "machine: $(nproc) cores, $(wine --version 2>/dev/null || echo 'wine ?'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$measure" --gtest_filter="$filter" >"$log" 2>&1
rc=$?
grep -E '^(figure:|note:|\[ figures +\])' "$log"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$rc" -ne 0 ]; then
  echo "measure.sh: some measurement could not be taken (exit $rc), see $log" >&2
  grep -E '^\[  FAILED  \]' "$log" >&2
fi
exit "$rc"
