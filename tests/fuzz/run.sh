#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer (ASan, UBSan) and runs each
# for the given number of seconds. Exits non-zero on the first finding.
#   tests/fuzz/run.sh [seconds] [output folder]
set -eu

SECONDS_EACH=${1:-30}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${2:-$ROOT/build/fuzz}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CXX=${CXX:-clang++}

FLAGS="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I$ROOT"
CORE="$ROOT/link/receive_parser.cpp $ROOT/link/live_state.cpp $ROOT/link/command_frames.cpp
      $ROOT/params/parameter_set.cpp $ROOT/params/settings.cpp $ROOT/params/file_access_posix.cpp
      $ROOT/params/parameter_values.cpp $ROOT/params/parameter_file.cpp
      $ROOT/lang/lang_text.cpp $ROOT/lang/language_table.cpp
      $ROOT/link/line_recording.cpp $ROOT/tools/sim/replay_file.cpp $ROOT/link/rfc2217.cpp
      $ROOT/link/link_config.cpp"
TARGETS="fuzz_parser fuzz_settings fuzz_parameter_file fuzz_recording fuzz_telnet"

for target in $TARGETS; do
    echo "building $target"
    # shellcheck disable=SC2086
    $CXX $FLAGS "$ROOT/tests/fuzz/$target.cpp" $CORE -o "$OUT/$target"
done

# Seeds: the first byte chooses the roll period and stop-at-alarm, the second
# the read sizes; then a stream of reply lines the device really sends.
seed_parser() {
    dir=$OUT/corpus_parser
    mkdir -p "$dir"
    printf '\005\001\061\221\302\015\261\221\102\015' > "$dir/measurements"
    printf '\001\002\001\041\101\261\024\015\001\021\121\221\364\015' > "$dir/peaks"
    printf '\004\003\001\261\261\221\364\015\361\341\361\021\324\015\361\341\261\321\124\015' > "$dir/answer_and_text"
    printf '\004\004\361\321\361\101\364\015\001\121\321\301\344\015\061\221\303\015' > "$dir/alarm_ignored_badsum"
    printf '\000\005\001\261\261\221\364\021\021\021\021\015\015' > "$dir/long_line"
}

seed_settings() {
    dir=$OUT/corpus_settings
    mkdir -p "$dir"
    head -c 280 /dev/zero > "$dir/zeros"
    { printf '\005\000'; head -c 258 /dev/zero; printf '\002\000\001\000\310\000'; head -c 14 /dev/zero; } > "$dir/valid"
    { printf '\023\000'; head -c 258 /dev/zero; printf '\003\000\002\000\062\000'; head -c 20 /dev/zero; } > "$dir/out_of_range_long"
    head -c 100 /dev/zero > "$dir/short"
}

seed_parameter_file() {
    dir=$OUT/corpus_parameter_file
    mkdir -p "$dir"
    head -c 76 /dev/zero > "$dir/zeros"
    { printf '\002\000\062\000\170\000'; head -c 70 /dev/zero; } > "$dir/saved"
    { printf '\001\000\226\000'; head -c 72 /dev/zero; } > "$dir/setpoint_150"
    head -c 10 /dev/zero > "$dir/short"
}

# A recording's header, and packets of 16 bytes of header (seconds,
# microseconds, two lengths) with a direction byte first in their data.
seed_recording() {
    dir=$OUT/corpus_recording
    mkdir -p "$dir"
    header='\324\303\262\241\002\000\004\000\000\000\000\000\000\000\000\000\377\377\000\000\223\000\000\000'
    request='\001\000\000\000\000\000\000\000\007\000\000\000\007\000\000\000\001\361\341\021\241\204\015'
    line='\001\000\000\000\040\116\000\000\005\000\000\000\005\000\000\000\000\041\321\362\015'
    printf "$header" > "$dir/header_only"
    printf "$header$request$line$line" > "$dir/request_and_lines"
    printf "$header$line\001\000" > "$dir/cut_last_packet"
    printf "$header$request" > "$dir/only_sent"
    printf '\241\262\303\324\000\002\000\004' > "$dir/big_endian"
}

# A server's opening, its answers to the settings, data with a doubled 0xFF.
seed_telnet() {
    dir=$OUT/corpus_telnet
    mkdir -p "$dir"
    printf '\001\377\373\003\377\373\001\377\375\054\377\375\000' > "$dir/opening"
    printf '\002\377\372\054\145\000\000\045\200\377\360\041\377\377\015' > "$dir/answer_and_data"
    printf '\003\377\372\054\001\377\361\377\366\377\021' > "$dir/open_subnegotiation"
}

seed_parser
seed_telnet
seed_settings
seed_parameter_file
seed_recording

status=0
for target in $TARGETS; do
    corpus=$OUT/corpus_${target#fuzz_}
    mkdir -p "$OUT/artifacts"
    echo "running $target for ${SECONDS_EACH}s"
    if ! "$OUT/$target" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        -artifact_prefix="$OUT/artifacts/$target-" "$corpus" > "$OUT/$target.log" 2>&1; then
        echo "$target: finding, see $OUT/$target.log and $OUT/artifacts" >&2
        tail -n 30 "$OUT/$target.log" >&2
        status=1
    else
        grep -E 'stat::number_of_executed_units|stat::new_units_added' "$OUT/$target.log" || true
    fi
done
exit $status
