// The streaming resampler: exact frame counts whatever the chunking, chunked
// output identical to one-shot output, and a sine that keeps its frequency
// with less error than linear interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "resampler.h"

namespace {

const double kPi = 3.14159265358979323846;

std::vector<float> Sine(double freq, uint32_t rate, size_t frames, double phaseRight = 0.5)
{
    std::vector<float> v(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        v[2 * i] = float(0.8 * std::sin(2 * kPi * freq * i / rate));
        v[2 * i + 1] = float(0.8 * std::sin(2 * kPi * freq * i / rate + phaseRight));
    }
    return v;
}

std::vector<float> OneShot(uint32_t in, uint32_t out, const std::vector<float>& input)
{
    Resampler r;
    r.Configure(in, out);
    const size_t frames = input.size() / 2;
    std::vector<float> result(2 * (frames * uint64_t(out) / in + 8));
    size_t used = 0, made = 0, drained = 0;
    r.Process(input.data(), frames, &used, result.data(), result.size() / 2, &made);
    EXPECT_EQ(used, frames);
    r.Drain(result.data() + 2 * made, result.size() / 2 - made, &drained);
    result.resize(2 * (made + drained));
    return result;
}

// The way the mixer pulls: asks how much input a period needs, feeds it in
// pieces of a given size, drains at the end.
std::vector<float> Chunked(uint32_t in, uint32_t out, const std::vector<float>& input, size_t period, size_t piece)
{
    Resampler r;
    r.Configure(in, out);
    const size_t frames = input.size() / 2;
    std::vector<float> result;
    std::vector<float> buf(2 * std::max<size_t>(period, 3));
    size_t pos = 0;
    for (;;) {
        size_t want = r.InputFramesFor(period);
        size_t made = 0;
        while (made < period) {
            size_t n = std::min({piece, want, frames - pos});
            size_t used = 0, got = 0;
            r.Process(input.data() + 2 * pos, n, &used, buf.data() + 2 * made, period - made, &got);
            pos += used;
            want -= std::min(want, used);
            made += got;
            if (used == 0 && got == 0)
                break;
        }
        result.insert(result.end(), buf.begin(), buf.begin() + 2 * made);
        if (pos == frames && made < period)
            break;
    }
    for (size_t got = 1; got > 0;) {
        r.Drain(buf.data(), 3, &got);
        result.insert(result.end(), buf.begin(), buf.begin() + 2 * got);
    }
    return result;
}

const uint32_t kRates[] = {8000, 11025, 22050, 44100, 48000, 96000, 192000};

TEST(ResamplerCount, IsCeilOfLengthTimesRatio)
{
    for (uint32_t in : kRates)
        for (uint32_t out : kRates)
            for (size_t frames :
                 {size_t(1), size_t(2), size_t(3), size_t(5), size_t(441), size_t(4799), size_t(44101)}) {
                auto input = Sine(440, in, frames);
                const size_t expected = size_t((uint64_t(frames) * out + in - 1) / in);
                EXPECT_EQ(OneShot(in, out, input).size() / 2, expected) << in << " -> " << out << ", " << frames;
            }
}

TEST(ResamplerCount, NothingInNothingOut)
{
    Resampler r;
    r.Configure(44100, 48000);
    float out[8];
    size_t made = 1;
    r.Drain(out, 4, &made);
    EXPECT_EQ(made, 0u);
}

TEST(ResamplerChunks, AnyChunkingEqualsOneShot)
{
    const std::pair<uint32_t, uint32_t> pairs[] = {{44100, 48000},  {48000, 44100},  {44100, 192000}, {192000, 44100},
                                                   {48000, 192000}, {192000, 48000}, {22050, 44100},  {44100, 44100}};
    for (auto [in, out] : pairs) {
        auto input = Sine(1000, in, 12345);
        auto whole = OneShot(in, out, input);
        for (size_t period : {size_t(1), size_t(7), size_t(128), size_t(441), size_t(1000)})
            for (size_t piece : {size_t(1), size_t(3), size_t(64), size_t(999), size_t(100000)}) {
                auto pieces = Chunked(in, out, input, period, piece);
                ASSERT_EQ(pieces.size(), whole.size())
                    << in << " -> " << out << " period " << period << " piece " << piece;
                EXPECT_EQ(pieces, whole) << in << " -> " << out << " period " << period << " piece " << piece;
            }
    }
}

TEST(ResamplerChunks, InputFramesForIsExactlyEnough)
{
    for (auto [in, out] : {std::pair<uint32_t, uint32_t>{44100, 48000}, {192000, 44100}, {8000, 48000}}) {
        Resampler r;
        r.Configure(in, out);
        auto input = Sine(300, in, 200000);
        std::vector<float> buf(2 * 2000);
        size_t pos = 0;
        for (size_t period : {size_t(1), size_t(17), size_t(512), size_t(1999), size_t(3), size_t(480)}) {
            const size_t want = r.InputFramesFor(period);
            size_t used = 0, made = 0;
            r.Process(input.data() + 2 * pos, want, &used, buf.data(), period, &made);
            EXPECT_EQ(used, want);
            EXPECT_EQ(made, period) << in << " -> " << out;
            pos += used;
        }
    }
}

TEST(ResamplerChunks, OneFrameLessIsNotEnough)
{
    Resampler r;
    r.Configure(44100, 48000);
    auto input = Sine(300, 44100, 10000);
    std::vector<float> buf(2 * 1000);
    const size_t want = r.InputFramesFor(480);
    size_t used = 0, made = 0;
    r.Process(input.data(), want - 1, &used, buf.data(), 480, &made);
    EXPECT_EQ(made, 479u);
}

TEST(ResamplerQuality, SameRateIsTheInputItself)
{
    auto input = Sine(1234, 44100, 5000);
    EXPECT_EQ(OneShot(44100, 44100, input), input);
}

// Largest difference to the ideal sine at the output instants, ignoring
// the edges where the input is held.
double ErrorToIdeal(const std::vector<float>& out, double freq, uint32_t outRate)
{
    double worst = 0;
    for (size_t i = 8; i + 8 < out.size() / 2; ++i) {
        const double ideal = 0.8 * std::sin(2 * kPi * freq * i / outRate);
        worst = std::max(worst, std::fabs(out[2 * i] - ideal));
    }
    return worst;
}

std::vector<float> Linear(uint32_t in, uint32_t out, const std::vector<float>& input)
{
    const size_t frames = input.size() / 2;
    std::vector<float> result;
    for (size_t k = 0;; ++k) {
        const double t = double(k) * in / out;
        const size_t i = size_t(t);
        if (i + 1 >= frames)
            break;
        const double f = t - i;
        result.push_back(float(input[2 * i] * (1 - f) + input[2 * i + 2] * f));
        result.push_back(float(input[2 * i + 1] * (1 - f) + input[2 * i + 3] * f));
    }
    return result;
}

TEST(ResamplerQuality, SineIsCloserToIdealThanLinear)
{
    for (auto [in, out] :
         {std::pair<uint32_t, uint32_t>{44100, 48000}, {48000, 44100}, {44100, 192000}, {22050, 48000}}) {
        for (double freq : {440.0, 2000.0, 5000.0}) {
            // Near Nyquist every 4-point kernel fails; judge tones up to an eighth of the rate.
            if (freq > in / 8.0)
                continue;
            auto input = Sine(freq, in, in / 4);
            const double cubic = ErrorToIdeal(OneShot(in, out, input), freq, out);
            const double linear = ErrorToIdeal(Linear(in, out, input), freq, out);
            EXPECT_LT(cubic, linear / 4) << in << " -> " << out << " at " << freq << " Hz";
            // 440 Hz stays within 16-bit resolution.
            if (freq == 440.0) {
                EXPECT_LT(cubic, 1.0 / 32768) << in << " -> " << out;
            }
        }
    }
}

TEST(ResamplerQuality, SineKeepsItsFrequency)
{
    // Counts upward zero crossings of one second: the frequency in Hz.
    for (auto [in, out] :
         {std::pair<uint32_t, uint32_t>{44100, 48000}, {48000, 44100}, {192000, 44100}, {44100, 192000}}) {
        auto result = OneShot(in, out, Sine(997, in, in));
        int crossings = 0;
        for (size_t i = 1; i < result.size() / 2; ++i)
            if (result[2 * (i - 1)] < 0 && result[2 * i] >= 0)
                ++crossings;
        EXPECT_NEAR(crossings, 997, 1) << in << " -> " << out;
        EXPECT_EQ(result.size() / 2, out);
    }
}

TEST(ResamplerQuality, ChannelsStayApart)
{
    // Left and right carry different phases; each must keep its own.
    auto result = OneShot(44100, 48000, Sine(440, 44100, 4410, 1.5));
    for (size_t i = 8; i + 8 < result.size() / 2; ++i) {
        const double t = 2 * kPi * 440 * i / 48000;
        ASSERT_NEAR(result[2 * i], 0.8 * std::sin(t), 1e-4);
        ASSERT_NEAR(result[2 * i + 1], 0.8 * std::sin(t + 1.5), 1e-4);
    }
}

TEST(ResamplerState, ResetStartsAFreshStream)
{
    auto input = Sine(700, 48000, 3000);
    Resampler r;
    r.Configure(48000, 44100);
    std::vector<float> first(2 * 4000), second(2 * 4000);
    size_t used, made1, made2;
    r.Process(input.data(), 1234, &used, first.data(), 4000, &made1);
    r.Reset();
    r.Process(input.data(), 1234, &used, second.data(), 4000, &made2);
    ASSERT_EQ(made1, made2);
    first.resize(2 * made1);
    second.resize(2 * made2);
    EXPECT_EQ(first, second);
}

} // namespace
