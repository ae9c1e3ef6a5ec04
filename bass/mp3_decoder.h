#pragma once
// MP3 decoding through the system's ACM layer III codec (Windows only).
#include "byte_source.h"
#include "decoder.h"

// A decoder of the MP3 audio in `source`; null when it holds no MPEG layer
// III frames or the system has no codec for them.
std::unique_ptr<Decoder> OpenMp3(std::unique_ptr<ByteSource> source);
