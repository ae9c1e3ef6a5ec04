#!/bin/sh
# Builds the parser fuzzers (libFuzzer, AddressSanitizer, UBSan, clang-14)
# and runs them on copies of their seed corpora.
#   tools/fuzz.sh [seconds]   total run time, 30 by default; a third goes
#                             to the WAV fuzzer, the rest in equal parts to
#                             the MP3 frames, drumkit.xml, SFZ and tar readers
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TOTAL=${1:-30}
OUT=${YXYT_FUZZ_BUILD:-$ROOT/build/fuzz}
CXX=${CXX_FUZZ:-clang++-14}
FLAGS="-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT/bass"
mkdir -p "$OUT"
$CXX $FLAGS -o "$OUT/wav_fuzzer" "$ROOT/tests/fuzz/wav_fuzzer.cpp" \
    "$ROOT/bass/wav.cpp" "$ROOT/bass/byte_source.cpp"
$CXX $FLAGS -o "$OUT/mp3_frames_fuzzer" "$ROOT/tests/fuzz/mp3_frames_fuzzer.cpp" "$ROOT/bass/mp3_frames.cpp"
KIT="$ROOT/drumpad/kit_model.cpp $ROOT/drumpad/play_table.cpp $ROOT/drumpad/key_map_rules.cpp $ROOT/drumpad/kit_rules.cpp"
$CXX $FLAGS -I"$ROOT" -o "$OUT/drumkit_xml_fuzzer" "$ROOT/tests/fuzz/drumkit_xml_fuzzer.cpp" \
    "$ROOT/drumpad/hydrogen_xml.cpp" "$ROOT/drumpad/hydrogen_kit.cpp" $KIT -lpugixml
$CXX $FLAGS -I"$ROOT" -o "$OUT/sfz_fuzzer" "$ROOT/tests/fuzz/sfz_fuzzer.cpp" "$ROOT/drumpad/sfz_kit.cpp" $KIT
$CXX $FLAGS -I"$ROOT" -o "$OUT/tar_fuzzer" "$ROOT/tests/fuzz/tar_fuzzer.cpp" "$ROOT/drumpad/tar_reader.cpp" \
    "$ROOT/drumpad/packed_kit.cpp" "$ROOT/drumpad/kit_model.cpp" -lz

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
PART=$((SECONDS_TOTAL * 2 / 3 / 4))
[ "$PART" -ge 1 ] || PART=1
run wav_fuzzer $((SECONDS_TOTAL - 4 * PART > 0 ? SECONDS_TOTAL - 4 * PART : 1)) "$ROOT/tests/fuzz/wav_corpus"
run mp3_frames_fuzzer $PART "$ROOT/tests/fuzz/mp3_corpus"
run drumkit_xml_fuzzer $PART "$ROOT/tests/fuzz/drumkit_corpus"
run sfz_fuzzer $PART "$ROOT/tests/fuzz/sfz_corpus"
run tar_fuzzer $PART "$ROOT/tests/fuzz/tar_corpus"
