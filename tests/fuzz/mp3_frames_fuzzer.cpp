// libFuzzer entry for the MP3 frame parser: the index it builds must stay
// inside the input and follow the frame lengths of the headers, and a seek
// to any of its frames must stay inside it.
#include <cstdint>
#include <cstdlib>

#include "mp3_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Mp3Index index;
    if (!IndexMp3(data, size, &index))
        return 0;
    if (index.Frames() == 0 || index.offsets.size() != index.sizes.size() || index.dataBegin.size() != index.Frames() ||
        index.dataBytes.size() != index.Frames())
        abort();
    for (size_t i = 0; i < index.Frames(); ++i) {
        Mp3Header h;
        if (index.offsets[i] + index.sizes[i] > size)
            abort();
        if (i > 0 && index.offsets[i] < index.offsets[i - 1] + index.sizes[i - 1])
            abort();
        if (!ParseMp3Header(data + index.offsets[i], &h) || h.frameBytes != index.sizes[i])
            abort();
        if (h.sampleRate != index.first.sampleRate || h.channels != index.first.channels)
            abort();
        // A seek is fed from the target frame or one before it.
        if (FirstFrameToFeed(index, i) > i)
            abort();
    }
    return 0;
}
