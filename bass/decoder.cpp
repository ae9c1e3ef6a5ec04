#include "decoder.h"

#include <cstring>

#include "aiff.h"
#include "byte_source.h"
#include "flac_decoder.h"
#include "mp3_frames.h"
#include "ogg_decoder.h"
#include "wav.h"
#ifdef _WIN32
#include "acm_wav.h"
#include "mf_decoder.h"
#include "mp3_decoder.h"
#endif

namespace {

std::unique_ptr<Decoder> OpenSource(std::unique_ptr<ByteSource> source, const char* path)
{
    uint8_t head[12] = {};
    source->ReadAt(0, head, sizeof head);
    if (memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0) {
        WavFormat f;
        if (!ParseWav(*source, &f))
            return nullptr;
#ifdef _WIN32
        if (f.encoding == WavCoded)
            return OpenAcmWav(*source, f);
#endif
        return OpenWav(std::move(source));
    }
    if (memcmp(head, "FORM", 4) == 0 && (memcmp(head + 8, "AIFF", 4) == 0 || memcmp(head + 8, "AIFC", 4) == 0))
        return OpenAiff(std::move(source));
    if (memcmp(head, "OggS", 4) == 0)
        return OpenOgg(std::move(source));
    // A FLAC stream, like an MP3 one, may follow an ID3v2 tag.
    uint8_t marker[4] = {};
    source->ReadAt(Id3v2Size(head, sizeof head), marker, sizeof marker);
    if (memcmp(marker, "fLaC", 4) == 0)
        return OpenFlac(std::move(source));
#ifdef _WIN32
    if (auto mp3 = OpenMp3(std::move(source)))
        return mp3;
    return OpenMf(path);
#else
    (void)path;
    return nullptr;
#endif
}

} // namespace

std::unique_ptr<Decoder> OpenDecoder(const char* path, DecodeFailure* why)
{
    auto source = OpenFileSource(path);
    const bool opened = source != nullptr;
    std::unique_ptr<Decoder> decoder = opened ? OpenSource(std::move(source), path) : nullptr;
    if (why)
        *why = decoder ? DecodeFailure::None : opened ? DecodeFailure::NotDecodable : DecodeFailure::CannotOpen;
    return decoder;
}
