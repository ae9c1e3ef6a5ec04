#pragma once
// WAV files of other codings (IMA and MS ADPCM, µ-law, A-law ...) decoded
// whole at open through the system's ACM codecs (Windows only).
#include "byte_source.h"
#include "decoder.h"
#include "wav.h"

// A decoder of the audio of `source`, whose `format` ParseWav found to be
// WavCoded; null when no codec of the system turns it into PCM.
std::unique_ptr<Decoder> OpenAcmWav(ByteSource& source, const WavFormat& format);
