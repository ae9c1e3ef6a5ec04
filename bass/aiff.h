#pragma once
// AIFF and AIFF-C decoding. Pure (no windows.h): compared with sox and
// fuzzed on the build machine.
#include "byte_source.h"
#include "decoder.h"
#include "wav.h"

// A decoder of the audio of an AIFF or AIFF-C file: big-endian PCM of 1 to
// 32 bits (AIFF-C "NONE", "twos", "in24", "in32"), little-endian PCM
// ("sowt") and big-endian float ("fl32", "fl64"): the samples are brought
// into a WAV file's layout and played as WAV audio is, the channels in the
// WAV order and down-mixed alike. The frame count is what the file
// states or what its sound data holds, whichever is less. Audio of up to
// `memoryBytes` is read into memory at open. Null when it holds no audio
// we play.
std::unique_ptr<Decoder> OpenAiff(std::unique_ptr<ByteSource> source, uint64_t memoryBytes = kWavMemoryBytes);
