#include "decoder.h"

#include <cstring>

#include "byte_source.h"
#include "wav.h"
#ifdef _WIN32
#include "mf_decoder.h"
#include "mp3_decoder.h"
#endif

std::unique_ptr<Decoder> OpenDecoder(const char* path)
{
    auto source = OpenFileSource(path);
    if (!source)
        return nullptr;
    uint8_t head[12] = {};
    source->ReadAt(0, head, sizeof head);
    if (memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0)
        return OpenWav(std::move(source));
#ifdef _WIN32
    if (auto mp3 = OpenMp3(std::move(source)))
        return mp3;
    return OpenMf(path);
#else
    return nullptr;
#endif
}
