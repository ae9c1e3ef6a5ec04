#!/bin/sh
# Builds the parser fuzzers (libFuzzer, AddressSanitizer, UBSan, clang-14)
# and runs them on copies of their seed corpora.
#   tools/fuzz.sh [seconds]   total run time, 30 by default; two thirds go
#                             to the WAV fuzzer, the rest to the MP3 frames
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TOTAL=${1:-30}
OUT=${YXYT_FUZZ_BUILD:-$ROOT/build/fuzz}
CXX=${CXX_FUZZ:-clang++-14}
FLAGS="-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT/bass"
mkdir -p "$OUT"
$CXX $FLAGS -o "$OUT/wav_fuzzer" "$ROOT/tests/fuzz/wav_fuzzer.cpp" \
    "$ROOT/bass/wav.cpp" "$ROOT/bass/byte_source.cpp" "$ROOT/bass/decode_budget.cpp"
$CXX $FLAGS -o "$OUT/mp3_frames_fuzzer" "$ROOT/tests/fuzz/mp3_frames_fuzzer.cpp" "$ROOT/bass/mp3_frames.cpp"

run() {
    name=$1 seconds=$2 seeds=$3
    corpus="$OUT/${name}_corpus"
    mkdir -p "$corpus"
    cp "$seeds"/* "$corpus"/
    # A found crash is written to $OUT and fails the run.
    status=0
    "$OUT/$name" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$OUT/$name-" -print_final_stats=1 "$corpus" >"$OUT/$name.log" 2>&1 || status=$?
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)|ERROR|SUMMARY' "$OUT/$name.log" || true
    if [ $status -ne 0 ]; then
        echo "$name failed ($status); see $OUT/$name.log" >&2
        exit $status
    fi
}
run wav_fuzzer $((SECONDS_TOTAL * 2 / 3)) "$ROOT/tests/fuzz/wav_corpus"
run mp3_frames_fuzzer $((SECONDS_TOTAL - SECONDS_TOTAL * 2 / 3)) "$ROOT/tests/fuzz/mp3_corpus"
