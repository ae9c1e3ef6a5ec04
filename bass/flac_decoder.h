#pragma once
// FLAC decoding through libFLAC. Pure (no windows.h): compared with
// `flac -d` and fuzzed on the build machine.
#include "byte_source.h"
#include "decoder.h"

// A decoder of the FLAC stream in `source` (which may begin with an ID3v2
// tag): 4 to 32 bits, 1 to 8 channels in the WAV order, down-mixed as WAV
// files are. Audio stated to last at most kDecodeWholeSeconds is decoded
// into memory at once. Null when it holds no audio we play.
std::unique_ptr<Decoder> OpenFlac(std::unique_ptr<ByteSource> source);
