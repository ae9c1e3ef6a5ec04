// WMA through Media Foundation (under Wine: its GStreamer back end),
// compared with the audio the files were encoded from. WMA carries no
// gapless information: decoders put their priming (2048 samples under
// Wine) in front, so the comparison finds the offset and checks that it
// stays the same through the file.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "byte_source.h"
#include "decoder.h"
#include "mf_decoder.h"
#include "wav.h"

namespace {

std::string Fixture(const char* name)
{
    return std::string(MP3_FIXTURES) + "/" + name;
}

std::vector<float> ReadAll(Decoder& d, size_t chunk = 1000)
{
    std::vector<float> all, buf(2 * chunk);
    for (size_t n; (n = d.Read(buf.data(), chunk)) > 0;)
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * n);
    return all;
}

// Normalised cross-correlation of both channels of `a` from `at` against
// `b` from `at + lag`.
double Correlation(const std::vector<float>& a, const std::vector<float>& b, size_t at, long lag, size_t frames)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 2 * at; i < 2 * (at + frames) && i < a.size(); ++i) {
        const long j = long(i) + 2 * lag;
        if (j < 0 || size_t(j) >= b.size())
            continue;
        ab += double(a[i]) * b[j];
        aa += double(a[i]) * a[i];
        bb += double(b[j]) * b[j];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

long BestLag(const std::vector<float>& a, const std::vector<float>& b, size_t at, size_t frames, long range,
             double* value)
{
    long best = 0;
    *value = -2;
    for (long lag = -range; lag <= range; ++lag) {
        const double c = Correlation(a, b, at, lag, frames);
        if (c > *value) {
            *value = c;
            best = lag;
        }
    }
    return best;
}

struct WmaCase {
    const char* wma;
    const char* source;
};

class WmaDecode : public ::testing::TestWithParam<WmaCase> {};

TEST_P(WmaDecode, MatchesItsSourceAtOneOffset)
{
    const WmaCase& c = GetParam();
    auto wma = OpenDecoder(Fixture(c.wma).c_str());
    ASSERT_TRUE(wma) << "Media Foundation could not open " << c.wma;
    auto source = OpenWav(OpenFileSource(Fixture(c.source).c_str()));
    ASSERT_TRUE(source);
    EXPECT_EQ(wma->SampleRate(), source->SampleRate());
    EXPECT_EQ(wma->FileChannels(), source->FileChannels());
    auto a = ReadAll(*wma), b = ReadAll(*source);
    EXPECT_EQ(a.size() / 2, wma->LengthFrames());
    // Priming and the last block's padding at most.
    EXPECT_GE(wma->LengthFrames(), source->LengthFrames());
    EXPECT_LE(wma->LengthFrames(), source->LengthFrames() + 2 * 2048);
    long first = 0;
    for (size_t at : {a.size() / 2 / 4, a.size() / 2 / 2, a.size() / 2 * 3 / 4}) {
        double value;
        const long lag = BestLag(a, b, at, 2048, 4096, &value);
        if (at == a.size() / 2 / 4)
            first = lag;
        EXPECT_EQ(lag, first) << c.wma << " at " << at;
        EXPECT_LE(lag, 0) << "decoded audio cannot lead its source";
        EXPECT_GT(value, 0.99) << c.wma << " at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, WmaDecode,
                         ::testing::Values(WmaCase{"stereo.wma", "source.wav"}, WmaCase{"mono.wma", "source22.wav"}));

// ASF stamps its packets in milliseconds: a seek lands within 1.5 ms.
TEST(WmaSeek, LandsWhereContinuousDecodingIs)
{
    auto wma = OpenDecoder(Fixture("stereo.wma").c_str());
    ASSERT_TRUE(wma);
    auto whole = ReadAll(*wma);
    for (uint64_t target : {uint64_t(44100), uint64_t(70001), uint64_t(2048)}) {
        ASSERT_TRUE(wma->Seek(target));
        std::vector<float> a(2 * 4096);
        ASSERT_EQ(wma->Read(a.data(), 4096), 4096u);
        std::vector<float> expected(whole.begin() + 2 * target, whole.begin() + 2 * (target + 4096));
        double value;
        const long lag = BestLag(a, expected, 0, 4096, 2500, &value);
        EXPECT_LE(std::labs(lag), 64) << "target " << target;
        EXPECT_GT(value, 0.99) << "target " << target;
    }
    EXPECT_FALSE(wma->Seek(wma->LengthFrames()));
}

// Opening runs on the program's window thread, whose apartment is the
// program's: it is left without one, so the file dialog and the shell can
// still make it single-threaded; a thread that has one keeps it. The
// feeder, another thread, reads on.
TEST(WmaFile, OpeningLeavesTheCallersApartmentAsItWas)
{
    for (bool singleThreadedFirst : {false, true}) {
        std::unique_ptr<Decoder> wma;
        HRESULT before = S_OK, after = S_OK;
        std::thread window([&] {
            if (singleThreadedFirst)
                before = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            wma = OpenMf(Fixture("stereo.wma").c_str());
            after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            if (SUCCEEDED(after))
                CoUninitialize();
            if (SUCCEEDED(before))
                CoUninitialize();
        });
        window.join();
        ASSERT_TRUE(wma) << singleThreadedFirst;
        EXPECT_EQ(before, S_OK);
        // S_FALSE: already single-threaded; RPC_E_CHANGED_MODE: left in the other apartment.
        EXPECT_EQ(after, singleThreadedFirst ? S_FALSE : S_OK) << singleThreadedFirst;
        size_t read = 0;
        std::thread feeder([&] {
            std::vector<float> buf(2 * 4096);
            read = wma->Read(buf.data(), 4096);
        });
        feeder.join();
        EXPECT_EQ(read, 4096u) << singleThreadedFirst;
    }
}

TEST(WmaFile, ChineseNameOpens)
{
    EXPECT_TRUE(OpenDecoder(Fixture("歌曲.wma").c_str()));
}

TEST(WmaFile, WhatMediaFoundationCannotDecodeGivesNull)
{
    const std::string empty = Fixture("empty.wma"), text = Fixture("text.wma");
    FILE* f = fopen(empty.c_str(), "wb");
    ASSERT_TRUE(f);
    fclose(f);
    f = fopen(text.c_str(), "wb");
    ASSERT_TRUE(f);
    fputs("not a media file\r\n", f);
    fclose(f);
    EXPECT_FALSE(OpenDecoder(empty.c_str()));
    EXPECT_FALSE(OpenDecoder(text.c_str()));
    EXPECT_FALSE(OpenMf(Fixture("missing.wma").c_str()));
}

} // namespace
