// WAV files through the Windows C library: a large file read in chunks as
// it plays, with seeks, equals the same file read into memory; and the
// old codings, decoded by the system's ACM codecs, sound like the PCM
// files sox coded them from.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cmath>
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

std::vector<float> Decoded(Decoder& d)
{
    std::vector<float> all(2 * (d.LengthFrames() + 1));
    all.resize(2 * d.Read(all.data(), d.LengthFrames() + 1));
    return all;
}

struct Coded {
    const char* file;
    const char* source;
};

class WavCoding : public ::testing::TestWithParam<Coded> {};

// The codecs decode without delay: sample for sample, the source with the
// coding's noise.
TEST_P(WavCoding, DecodesLikeItsSource)
{
    const Coded c = GetParam();
    DecodeFailure why = DecodeFailure::CannotOpen;
    auto coded = OpenDecoder((std::string(MP3_FIXTURES) + "/" + c.file).c_str(), &why);
    ASSERT_TRUE(coded) << c.file;
    EXPECT_EQ(why, DecodeFailure::None);
    auto source = OpenDecoder((std::string(MP3_FIXTURES) + "/" + c.source).c_str());
    ASSERT_TRUE(source);
    EXPECT_EQ(coded->SampleRate(), source->SampleRate());
    EXPECT_EQ(coded->FileChannels(), source->FileChannels());
    EXPECT_TRUE(coded->InMemory());
    // ADPCM fills its last block up: at most a block of frames more.
    EXPECT_GE(coded->LengthFrames(), source->LengthFrames());
    EXPECT_LE(coded->LengthFrames(), source->LengthFrames() + 2048);
    const std::vector<float> a = Decoded(*coded), b = Decoded(*source);
    ASSERT_EQ(a.size() / 2, coded->LengthFrames());
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    EXPECT_GT(ab / std::sqrt(aa * bb), 0.8) << c.file;
    // Seeks land on the same frames as a read from the start.
    ASSERT_TRUE(coded->Seek(12345));
    std::vector<float> part(2 * 100);
    ASSERT_EQ(coded->Read(part.data(), 100), 100u);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), a.begin() + 2 * 12345));
}

INSTANTIATE_TEST_SUITE_P(Acm, WavCoding,
                         ::testing::Values(Coded{"ima_adpcm.wav", "source.wav"}, Coded{"ms_adpcm.wav", "source.wav"},
                                           Coded{"mulaw.wav", "source22.wav"}, Coded{"alaw.wav", "source22.wav"},
                                           Coded{"ima_adpcm_extensible.wav", "source.wav"},
                                           Coded{"ms_adpcm_extensible.wav", "source.wav"},
                                           Coded{"mulaw_extensible.wav", "source22.wav"}),
                         [](const ::testing::TestParamInfo<Coded>& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

// Kit files come from strangers: a coded file whose header lies about
// its blocks, channels or codec data is refused or decoded to what is
// there, never read past by the codec.
TEST(WavCoding, LyingHeadersAreRefusedOrDecodedSafely)
{
    struct Lie {
        size_t at; // in the fmt chunk's body
        uint16_t value;
    } lies[] = {{2, 3},  {2, 8},  {12, 7},      {12, 1}, {12, 0xFFFF}, {14, 0}, {14, 16},
                {18, 0}, {18, 1}, {18, 0xFFFF}, {20, 0}, {20, 0xFFFF}, {16, 0}, {4, 1000}};
    for (const char* name : {"ms_adpcm.wav", "ima_adpcm.wav"}) {
        auto file = OpenFileSource((std::string(MP3_FIXTURES) + "/" + name).c_str());
        ASSERT_TRUE(file);
        std::vector<uint8_t> bytes(static_cast<size_t>(file->Size()));
        ASSERT_EQ(file->ReadAt(0, bytes.data(), bytes.size()), bytes.size());
        WavFormat f;
        ASSERT_TRUE(ParseWav(*MemorySource(bytes), &f));
        const std::string lying = std::string(MP3_FIXTURES) + "/lying_" + name;
        for (const Lie& lie : lies) {
            SCOPED_TRACE(std::string(name) + " field " + std::to_string(lie.at) + " = " + std::to_string(lie.value));
            std::vector<uint8_t> changed = bytes;
            changed[f.fmtOffset + lie.at] = static_cast<uint8_t>(lie.value);
            changed[f.fmtOffset + lie.at + 1] = static_cast<uint8_t>(lie.value >> 8);
            FILE* out = fopen(lying.c_str(), "wb");
            ASSERT_TRUE(out);
            fwrite(changed.data(), 1, changed.size(), out);
            fclose(out);
            auto d = OpenDecoder(lying.c_str());
            if (!d)
                continue;
            const std::vector<float> all = Decoded(*d);
            EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](float x) { return std::fabs(x) <= 1.0f; }));
        }
    }
}

TEST(WavCoding, ACodingNoCodecKnowsIsRefusedAsNotDecodable)
{
    DecodeFailure why = DecodeFailure::None;
    EXPECT_FALSE(OpenDecoder((std::string(MP3_FIXTURES) + "/unknown_coding.wav").c_str(), &why));
    EXPECT_EQ(why, DecodeFailure::NotDecodable);
    EXPECT_FALSE(OpenDecoder((std::string(MP3_FIXTURES) + "/no_such_file.wav").c_str(), &why));
    EXPECT_EQ(why, DecodeFailure::CannotOpen);
}

// MPEG layer 3 in a WAV has a codec on this system, which decodes the
// header below; the program refuses the coding all the same, so that no
// codec but the four old ones parses a stranger's file in this process.
TEST(WavCoding, ACodingOutsideTheFourIsRefusedThoughTheSystemHasItsCodec)
{
    const std::string path = std::string(MP3_FIXTURES) + "/mpeg_layer3.wav";
    auto file = OpenFileSource(path.c_str());
    ASSERT_TRUE(file);
    std::vector<uint8_t> fmt(30);
    ASSERT_EQ(file->ReadAt(20, fmt.data(), fmt.size()), fmt.size());
    WAVEFORMATEX pcm = {};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, reinterpret_cast<WAVEFORMATEX*>(fmt.data()), &pcm, sizeof pcm,
                               ACM_FORMATSUGGESTF_WFORMATTAG),
              0u);
    DecodeFailure why = DecodeFailure::None;
    EXPECT_FALSE(OpenDecoder(path.c_str(), &why));
    EXPECT_EQ(why, DecodeFailure::NotDecodable);
}

} // namespace
