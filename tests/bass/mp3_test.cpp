// MP3 decoding through the system's ACM codec, compared with lame's own
// decode of the same files (made by tools/make_codec_fixtures.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "byte_source.h"
#include "decoder.h"
#include "mp3_frames.h"
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
    // 10422 lies in a run of small frames that borrow a nearly full reservoir.
    for (uint64_t target :
         {uint64_t(0), uint64_t(1000), uint64_t(10422), uint64_t(57331), uint64_t(100000), uint64_t(44100 * 2 + 7)}) {
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

// A seek to the first sample of every frame gives what the decode from the
// start gives there. In the VBR file runs of small frames borrow a nearly
// full bit reservoir, so what a frame needs starts many frames before it;
// MPEG 2 frames hold one granule, so the overlap spans two of them.
TEST(Mp3Seek, EveryFrameComesOutAsInTheDecodeFromTheStart)
{
    struct File {
        const char* name;
        uint64_t reach; // the furthest a seek in the file must start before its target, in frames
    };
    for (const File& f : {File{"vbr", 7}, File{"cbr", 3}, File{"mpeg2", 4}}) {
        SCOPED_TRACE(f.name);
        const std::string path = Fixture((std::string(f.name) + ".mp3").c_str());
        auto mp3 = OpenDecoder(path.c_str());
        ASSERT_TRUE(mp3);
        const auto whole = ReadAll(*mp3);
        auto file = OpenFileSource(path.c_str());
        ASSERT_TRUE(file);
        const auto bytes = LoadIntoMemory(*file, 0, file->Size());
        Mp3Index index;
        ASSERT_TRUE(IndexMp3(bytes->Data(), static_cast<size_t>(bytes->Size()), &index));
        const uint32_t spf = index.first.samplesPerFrame;
        const uint64_t skip = index.encoderDelay + 529; // the synthesis filter's delay
        std::vector<float> a(2 * 2 * spf);
        int worst = 0;
        uint64_t worstAt = 0, reach = 0;
        for (uint64_t frame = skip / spf + 1; frame * spf - skip < mp3->LengthFrames(); ++frame) {
            reach = std::max(reach, frame - FirstFrameToFeed(index, frame));
            const uint64_t target = frame * spf - skip;
            ASSERT_TRUE(mp3->Seek(target));
            const size_t n = mp3->Read(a.data(), 2 * spf);
            ASSERT_EQ(n, std::min<uint64_t>(2 * spf, mp3->LengthFrames() - target));
            for (size_t i = 0; i < 2 * n; ++i) {
                const int steps = static_cast<int>(std::lround(std::fabs(a[i] - whole[2 * target + i]) * 32768));
                if (steps > worst) {
                    worst = steps;
                    worstAt = target;
                }
            }
        }
        // A codec started anywhere but the first frame rounds a few samples
        // differently, by up to three 16-bit steps however early it starts;
        // a frame decoded without its reservoir or overlap is off by thousands.
        EXPECT_LE(worst, 3) << "worst at target " << worstAt;
        // The file still has the frame layout this is about.
        EXPECT_GE(reach, f.reach);
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
