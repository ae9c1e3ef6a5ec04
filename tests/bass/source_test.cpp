// A short file held in memory is converted to the device rate whole: the
// last frames of the file must come out too, not stay in the resampler.
#include <gtest/gtest.h>

#include "bass/source.h"
#include "tests/bass/counting_decoder.h"

namespace {

TEST(MemorySource, ConvertedSampleKeepsItsWholeLength)
{
    struct {
        uint32_t fileRate, deviceRate;
        uint64_t frames, expected;
    } table[] = {
        {44100, 44100, 1000, 1000}, {22050, 44100, 1000, 2000}, {48000, 44100, 4800, 4410},
        {44100, 48000, 441, 480},   {8000, 44100, 7, 39}, // ceil(7 * 44100 / 8000)
    };
    for (auto& row : table) {
        CountingDecoder decoder(row.fileRate, 2, row.frames);
        auto source = LoadMemorySource(decoder, row.deviceRate);
        EXPECT_EQ(source->Frames(), row.expected) << row.fileRate << " -> " << row.deviceRate;
        // The last output frame stands on the file's last frame (the edge is held).
        size_t last = (size_t)source->Frames() - 1;
        EXPECT_NEAR(source->pcm[2 * last], row.frames * Scale, Scale / 2) << row.fileRate << " -> " << row.deviceRate;
    }
}

} // namespace
