#pragma once
// Ogg Vorbis decoding through stb_vorbis, which ogg_decoder.cpp compiles.
// Pure (no windows.h): compared with oggdec and fuzzed on the build machine.
#include "byte_source.h"
#include "decoder.h"

// A decoder of the first Vorbis stream of the Ogg file in `source`, its
// channels down-mixed as a WAV file's of the same speakers are. Audio
// stated to last at most kDecodeWholeSeconds is decoded into memory at
// once. Null when it holds no Vorbis audio we play.
std::unique_ptr<Decoder> OpenOgg(std::unique_ptr<ByteSource> source);
