#!/usr/bin/env bash
# Prints the performance figures of the program under Wine:
#   tools/measure.sh [NATIVE_BUILD_DIR]        (default build/native)
# It builds nothing: run tools/build.sh first. It runs the end-to-end cases
# Performance.* (start-up to first paint, CPU share while a device streams,
# GDI cost of the trend graph) and LinkMeasure.* (CPU of the link threads,
# line-to-parser latency) and the measuring tools of tools/measure (a
# parameter-file load to its confirmation), about three minutes, and prints
# their figure lines:
# "figure: ..." (and "note: ..." context: pids, load, CPU per thread) from
# Performance, "[ figures  ] ..." from LinkMeasure. The
# whole log stays in NATIVE_BUILD_DIR/measure.log. The figures depend on the
# machine and on what else runs on it; the load average is printed with them.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
tests=$build/tests/e2e/e2e_tests
if [ ! -x "$tests" ]; then
  echo "measure.sh: no $tests (run tools/build.sh first)" >&2
  exit 2
fi
log=$build/measure.log

echo "machine: $(nproc) cores, $(wine --version 2>/dev/null || echo 'wine ?'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$tests" --gtest_filter='Performance.*:LinkMeasure.*' >"$log" 2>&1
rc=$?
# The measuring tools beside the tests (tools/measure/*.cpp).
"$build/tests/e2e/e2e_measure" >>"$log" 2>&1 || rc=$?
grep -E '^(figure:|note:|\[ figures +\])' "$log"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$rc" -ne 0 ]; then
  echo "measure.sh: some measurement could not be taken (exit $rc), see $log" >&2
  grep -E '^\[  FAILED  \]' "$log" >&2
fi
exit "$rc"
