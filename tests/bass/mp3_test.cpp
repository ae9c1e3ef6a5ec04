// MP3 decoding through the system's ACM codec, compared with lame's own
// decode of the same files (made by tools/make_mp3_fixtures.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "byte_source.h"
#include "decoder.h"
#include "wav.h"
#include "tests/support/process_memory.h"

namespace {

std::string Fixture(const char* name)
{
    return std::string(MP3_FIXTURES) + "/" + name;
}

std::vector<float> ReadAll(Decoder& d)
{
    std::vector<float> all(d.LengthFrames() * 2 + 2 * 4096);
    size_t n = d.Read(all.data(), all.size() / 2);
    all.resize(n * 2);
    return all;
}

// Normalised cross-correlation of the left channels of `a` at `at` and `b`
// at `at + lag` over `frames` frames.
double Correlation(const std::vector<float>& a, const std::vector<float>& b, size_t at, long lag, size_t frames)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < frames; ++i) {
        long j = static_cast<long>(at + i) + lag;
        if (at + i >= a.size() / 2 || j < 0 || static_cast<size_t>(j) >= b.size() / 2)
            continue;
        double x = a[2 * (at + i)], y = b[2 * j];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

struct Peak {
    long lag;
    double value;
};
Peak BestLag(const std::vector<float>& a, const std::vector<float>& b, size_t at, size_t frames, long range)
{
    Peak best{0, -2};
    for (long lag = -range; lag <= range; ++lag) {
        double c = Correlation(a, b, at, lag, frames);
        if (c > best.value)
            best = {lag, c};
    }
    return best;
}

class Mp3Decode : public ::testing::TestWithParam<const char*> {};

TEST_P(Mp3Decode, MatchesLameDecode)
{
    const std::string name = GetParam();
    auto mp3 = OpenDecoder(Fixture((name + ".mp3").c_str()).c_str());
    ASSERT_TRUE(mp3);
    auto ref = OpenWav(OpenFileSource(Fixture((name + ".ref.wav").c_str()).c_str()));
    ASSERT_TRUE(ref);
    EXPECT_EQ(mp3->SampleRate(), ref->SampleRate());
    EXPECT_EQ(mp3->FileChannels(), ref->FileChannels());
    // Both trim the encoder delay and padding of the LAME tag.
    EXPECT_NEAR(static_cast<double>(mp3->LengthFrames()), static_cast<double>(ref->LengthFrames()), 1.0);
    auto a = ReadAll(*mp3), b = ReadAll(*ref);
    EXPECT_EQ(a.size() / 2, mp3->LengthFrames());
    const size_t frames = a.size() / 2;
    for (size_t at : {frames / 10, frames / 2, frames * 8 / 10}) {
        Peak p = BestLag(a, b, at, 4096, 1200);
        EXPECT_EQ(p.lag, 0) << name << " at " << at;
        EXPECT_GT(p.value, 0.99) << name << " at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Mp3Decode, ::testing::Values("cbr", "vbr", "mpeg2", "mpeg25", "id3"));

TEST(Mp3Seek, LandsOnTheFrameAskedFor)
{
    auto mp3 = OpenDecoder(Fixture("vbr.mp3").c_str());
    auto ref = OpenWav(OpenFileSource(Fixture("vbr.ref.wav").c_str()));
    ASSERT_TRUE(mp3 && ref);
    auto b = ReadAll(*ref);
    for (uint64_t target : {uint64_t(0), uint64_t(1000), uint64_t(57331), uint64_t(100000), uint64_t(44100 * 2 + 7)}) {
        ASSERT_TRUE(mp3->Seek(target));
        std::vector<float> a(2 * 4096);
        ASSERT_EQ(mp3->Read(a.data(), 4096), 4096u);
        // Compare against the reference from the same target.
        std::vector<float> shifted(b.begin() + 2 * target, b.begin() + 2 * (target + 4096));
        Peak p = BestLag(a, shifted, 0, 4096, 600);
        EXPECT_EQ(p.lag, 0) << "target " << target;
        EXPECT_GT(p.value, 0.99) << "target " << target;
    }
}

TEST(Mp3Seek, AtOrPastTheEndIsRefusedAndChangesNothing)
{
    auto mp3 = OpenDecoder(Fixture("cbr.mp3").c_str());
    ASSERT_TRUE(mp3);
    auto whole = ReadAll(*mp3);
    ASSERT_TRUE(mp3->Seek(44100));
    std::vector<float> a(2 * 1000), b(2 * 1000);
    ASSERT_EQ(mp3->Read(a.data(), 500), 500u);
    EXPECT_FALSE(mp3->Seek(mp3->LengthFrames()));
    EXPECT_FALSE(mp3->Seek(mp3->LengthFrames() + 12345));
    ASSERT_EQ(mp3->Read(a.data() + 1000, 500), 500u);
    // A restarted codec rounds a few samples differently: one or two 16-bit steps.
    for (size_t i = 0; i < 2000; ++i)
        EXPECT_NEAR(a[i], whole[2 * 44100 + i], 2.0 / 32768) << i;
}

TEST(Mp3File, ChineseNamesOpen)
{
    // The literal reaches Win32 as GBK; under code page 936 it names the
    // UTF-8 file on disk.
    EXPECT_TRUE(OpenDecoder(Fixture("音乐.mp3").c_str()));
    auto wav = OpenDecoder(Fixture("鼓声.wav").c_str());
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->SampleRate(), 22050u);
}

TEST(Mp3File, UnopenableFilesGiveNull)
{
    EXPECT_FALSE(OpenDecoder(Fixture("missing.mp3").c_str()));
    EXPECT_FALSE(OpenDecoder(MP3_FIXTURES));
    EXPECT_FALSE(OpenDecoder(""));
    EXPECT_FALSE(OpenDecoder(nullptr));
    // Another holder without sharing: the open fails instead of reading a
    // file that is being written.
    const std::string path = Fixture("cbr.mp3");
    HANDLE locked = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(OpenDecoder(path.c_str()));
    CloseHandle(locked);
    EXPECT_TRUE(OpenDecoder(path.c_str()));
}

TEST(Mp3File, OtherFilesAreNotTakenForMp3)
{
    // A large file of another kind is refused from its first megabyte.
    const std::string text = std::string(MP3_FIXTURES) + "/not_audio.mp3";
    FILE* f = fopen(text.c_str(), "wb");
    ASSERT_TRUE(f);
    for (int i = 0; i < 100000; ++i)
        fputs("Not audio at all, only a text named like music.\r\n", f);
    fclose(f);
    EXPECT_FALSE(OpenDecoder(text.c_str()));
    // A WAV holding MP3 data is not a WAV we play, nor a bare MP3 stream.
    ASSERT_TRUE(OpenFileSource(Fixture("mp3_in_wav.wav").c_str()));
    EXPECT_FALSE(OpenDecoder(Fixture("mp3_in_wav.wav").c_str()));
}

TEST(Mp3Long, TenMinutesAreNotDecodedWhole)
{
    const std::string path = Fixture("long.mp3");
    auto file = OpenFileSource(path.c_str());
    ASSERT_TRUE(file);
    const size_t fileBytes = static_cast<size_t>(file->Size());
    file.reset();
    const size_t before = PrivateBytes();
    auto mp3 = OpenDecoder(path.c_str());
    ASSERT_TRUE(mp3);
    EXPECT_NEAR(static_cast<double>(mp3->LengthFrames()), 600.0 * 44100, 1.0);
    std::vector<float> a(2 * 44100);
    for (int second : {0, 299, 598}) {
        ASSERT_TRUE(mp3->Seek(uint64_t(second) * 44100));
        ASSERT_EQ(mp3->Read(a.data(), 44100), 44100u);
    }
    const size_t grown = PrivateBytes() - before;
    // The whole decode would be 600 s * 176,400 bytes = 106 MB.
    EXPECT_LT(grown, fileBytes + (4u << 20)) << "grew by " << grown << " bytes for a " << fileBytes << "-byte file";
}

} // namespace
