// WAV files through the Windows C library: a large file read in chunks as
// it plays, with seeks, equals the same file read into memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "byte_source.h"
#include "decoder.h"
#include "wav.h"

namespace {

TEST(WavFile, LargeFileStreamedEqualsReadIntoMemory)
{
    const std::string path = std::string(MP3_FIXTURES) + "/large.wav";
    auto streamed = OpenDecoder(path.c_str());
    auto memory = OpenWav(OpenFileSource(path.c_str()), UINT64_MAX);
    ASSERT_TRUE(streamed && memory);
    EXPECT_FALSE(streamed->InMemory());
    EXPECT_TRUE(memory->InMemory());
    ASSERT_EQ(streamed->LengthFrames(), 30u * 44100);
    std::vector<float> a(2 * 4801), b(2 * 4801);
    // Jumps back and forth, as a user seeking through music does.
    for (uint64_t at : {uint64_t(1234567), uint64_t(0), uint64_t(30 * 44100 - 100), uint64_t(777777)}) {
        ASSERT_TRUE(streamed->Seek(at));
        ASSERT_TRUE(memory->Seek(at));
        for (int round = 0; round < 3; ++round) {
            const size_t n = streamed->Read(a.data(), 4801);
            ASSERT_EQ(n, memory->Read(b.data(), 4801));
            ASSERT_TRUE(std::equal(a.begin(), a.begin() + 2 * n, b.begin())) << "at " << at << " round " << round;
        }
    }
}

} // namespace
