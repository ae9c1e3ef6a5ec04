#!/bin/sh
# Builds the parser and decoder fuzzers (libFuzzer, AddressSanitizer, UBSan,
# clang-14) and runs them on copies of their seed corpora.
#   tools/fuzz.sh [seconds]   total run time, 30 by default, shared as
#                             WAV 5, MP3 frames 2, FLAC 5, Ogg Vorbis 5,
#                             AIFF 3, drumkit.xml 4, SFZ 3, packed-kit tar 3
# The FLAC, Ogg and AIFF seeds are made here with flac, oggenc and sox.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TOTAL=${1:-30}
OUT=${YXYT_FUZZ_BUILD:-$ROOT/build/fuzz}
CXX=${CXX_FUZZ:-clang++-14}
FLAGS="-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT/bass -I$ROOT/tests/fuzz"
BASS=$ROOT/bass
mkdir -p "$OUT"
$CXX $FLAGS -o "$OUT/wav_fuzzer" "$ROOT/tests/fuzz/wav_fuzzer.cpp" "$BASS/wav.cpp" "$BASS/byte_source.cpp" "$BASS/decode_budget.cpp"
$CXX $FLAGS -o "$OUT/mp3_frames_fuzzer" "$ROOT/tests/fuzz/mp3_frames_fuzzer.cpp" "$BASS/mp3_frames.cpp"
$CXX $FLAGS -o "$OUT/flac_fuzzer" "$ROOT/tests/fuzz/flac_fuzzer.cpp" "$BASS/flac_decoder.cpp" "$BASS/decoded_audio.cpp" \
    "$BASS/wav.cpp" "$BASS/byte_source.cpp" "$BASS/decode_budget.cpp" -lFLAC
# stb_vorbis from the build machine's own headers (Debian's libstb-dev).
$CXX $FLAGS -fsanitize-ignorelist="$ROOT/tests/fuzz/stb_vorbis_ubsan.ignore" \
    -DYXYT_STB_VORBIS='<stb/stb_vorbis.h>' -DSTB_VORBIS_NO_STDIO -DSTB_VORBIS_NO_PUSHDATA_API \
    -o "$OUT/ogg_fuzzer" "$ROOT/tests/fuzz/ogg_fuzzer.cpp" "$BASS/ogg_decoder.cpp" "$BASS/decoded_audio.cpp" \
    "$BASS/wav.cpp" "$BASS/byte_source.cpp" "$BASS/decode_budget.cpp"
$CXX $FLAGS -o "$OUT/aiff_fuzzer" "$ROOT/tests/fuzz/aiff_fuzzer.cpp" "$BASS/aiff.cpp" "$BASS/wav.cpp" \
    "$BASS/byte_source.cpp" "$BASS/decode_budget.cpp"

# Seeds: short files of each coding the decoders take, repeatable (sox -R).
seeds() {
    dir="$OUT/$1_seeds"
    rm -rf "$dir"
    mkdir -p "$dir"
    echo "$dir"
}
tone() { # tone FILE CHANNELS BITS [sox output options]
    file=$1 channels=$2 bits=$3
    shift 3
    sox -R -n -r 8000 -c "$channels" -b "$bits" "$@" "$file" synth 0.05 sine 300 whitenoise gain -6
}
FLAC_SEEDS=$(seeds flac)
tone "$OUT/seed.raw" 1 8 -e signed -t raw
flac -s -f --force-raw-format --endian=little --sign=signed --bps=8 --channels=1 --sample-rate=8000 -b 192 \
    "$OUT/seed.raw" -o "$FLAC_SEEDS/s8_mono_b192.flac"
tone "$OUT/seed.raw" 2 16 -e signed -t raw
flac -s -f --force-raw-format --endian=little --sign=signed --bps=16 --channels=2 --sample-rate=8000 -m -b 64 \
    "$OUT/seed.raw" -o "$FLAC_SEEDS/s16_stereo_mid_side.flac"
tone "$OUT/seed.raw" 3 24 -e signed -t raw
flac -s -f --force-raw-format --endian=little --sign=signed --bps=24 --channels=3 --sample-rate=8000 \
    "$OUT/seed.raw" -o "$FLAC_SEEDS/s24_3ch.flac"
OGG_SEEDS=$(seeds ogg)
tone "$OUT/seed.wav" 1 16
oggenc -Q -q 0 "$OUT/seed.wav" -o "$OGG_SEEDS/mono.ogg"
tone "$OUT/seed.wav" 2 16
oggenc -Q -q 4 "$OUT/seed.wav" -o "$OGG_SEEDS/stereo.ogg"
AIFF_SEEDS=$(seeds aiff)
tone "$AIFF_SEEDS/s8_mono.aiff" 1 8
tone "$AIFF_SEEDS/s16_stereo.aiff" 2 16
tone "$AIFF_SEEDS/s24_3ch.aiff" 3 24
tone "$AIFF_SEEDS/fl32_stereo.aifc" 2 32 -e floating-point -t aifc
rm -f "$OUT/seed.raw" "$OUT/seed.wav"

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
share() { echo $((SECONDS_TOTAL * $1 / 30 > 0 ? SECONDS_TOTAL * $1 / 30 : 1)); }
run wav_fuzzer "$(share 5)" "$ROOT/tests/fuzz/wav_corpus"
run mp3_frames_fuzzer "$(share 2)" "$ROOT/tests/fuzz/mp3_corpus"
run flac_fuzzer "$(share 5)" "$FLAC_SEEDS"
run ogg_fuzzer "$(share 5)" "$OGG_SEEDS"
run aiff_fuzzer "$(share 3)" "$AIFF_SEEDS"
run drumkit_xml_fuzzer "$(share 4)" "$ROOT/tests/fuzz/drumkit_corpus"
run sfz_fuzzer "$(share 3)" "$ROOT/tests/fuzz/sfz_corpus"
run tar_fuzzer "$(share 3)" "$ROOT/tests/fuzz/tar_corpus"
