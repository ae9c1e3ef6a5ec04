#pragma once
// Compressed audio (FLAC, Ogg Vorbis) stated to be short, decoded whole at
// open into stereo float frames: its length is then what the file really
// holds rather than what its header claims, and reading it does no I/O.
#include "decoder.h"

// The longest stated length decoded whole; longer audio streams, up to its
// stated length or its real end, whichever comes first.
constexpr uint32_t kDecodeWholeSeconds = 20;

// `streaming` itself when it states a longer length; otherwise its audio
// decoded into memory, or null when it holds none.
std::unique_ptr<Decoder> DecodeWholeIfShort(std::unique_ptr<Decoder> streaming);
