// Mixing arithmetic against hand-computed tables, and the limiter's two
// promises: never beyond full scale, and bit-exact below it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "bass/mixer.h"

TEST(Mix, SumsVoicesWithTheirGains)
{
    const float a[] = {0.5f, -0.25f, 0.125f, 1.0f};
    const float b[] = {0.25f, 0.5f, -1.0f, -0.5f};
    float out[4] = {9, 9, 9, 9};
    MixClear(out, 2);
    MixAdd(out, a, 2, 1.0f);
    MixAdd(out, b, 2, 0.5f);
    const float expected[] = {0.625f, 0.0f, -0.375f, 0.75f};
    for (int i = 0; i < 4; i++)
        EXPECT_FLOAT_EQ(out[i], expected[i]) << i;
}

TEST(Mix, ZeroGainAddsNothingEvenFromBrokenInput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float bad[] = {nan, inf, -inf, nan};
    float out[] = {0.1f, 0.2f, 0.3f, 0.4f};
    MixAdd(out, bad, 2, 0.0f);
    EXPECT_EQ(out[0], 0.1f);
    EXPECT_EQ(out[1], 0.2f);
    EXPECT_EQ(out[2], 0.3f);
    EXPECT_EQ(out[3], 0.4f);
}

TEST(Mix, ClearZeroesOnlyTheFramesAsked)
{
    float out[6] = {1, 1, 1, 1, 1, 1};
    MixClear(out, 2);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_EQ(out[4], 1.0f);
}

static std::vector<float> Sine(size_t frames, float amplitude, float cycles)
{
    std::vector<float> v(frames * 2);
    for (size_t i = 0; i < frames; i++)
        v[2 * i] = v[2 * i + 1] = amplitude * std::sin(6.2831853f * cycles * i / frames);
    return v;
}

TEST(Limiter, NeverExceedsFullScaleWhateverIsSummed)
{
    Limiter lim;
    LimiterSetup(lim, 44100);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> out(4096 * 2);
    for (int block = 0; block < 50; block++) {
        MixClear(out.data(), 4096);
        // 32 full-scale voices: up to 32 times full scale before the limiter.
        std::vector<float> voice(4096 * 2);
        for (int v = 0; v < 32; v++) {
            for (float& s : voice)
                s = u(rng);
            MixAdd(out.data(), voice.data(), 4096, 1.0f);
        }
        LimiterProcess(lim, out.data(), 4096);
        for (float s : out)
            ASSERT_LE(std::fabs(s), 1.0f);
    }
}

TEST(Limiter, PassesQuietAudioBitExact)
{
    Limiter lim;
    LimiterSetup(lim, 44100);
    std::vector<float> in = Sine(44100, 0.95f, 440);
    std::vector<float> out = in;
    LimiterProcess(lim, out.data(), 44100);
    EXPECT_EQ(in, out);
}

TEST(Limiter, RecoversToBitExactAfterALoudBurst)
{
    Limiter lim;
    LimiterSetup(lim, 44100, 80.0f);
    std::vector<float> loud = Sine(4410, 4.0f, 44);
    LimiterProcess(lim, loud.data(), 4410);
    EXPECT_GT(lim.reduction, 0.7f);
    // Two seconds of quiet audio: within 15 release times (1.2 s) the gain
    // is back at exactly 1 and the last half second is untouched.
    std::vector<float> quiet = Sine(88200, 0.5f, 880);
    std::vector<float> out = quiet;
    LimiterProcess(lim, out.data(), 88200);
    EXPECT_EQ(lim.reduction, 0.0f);
    for (size_t i = 132300; i < 176400; i++)
        ASSERT_EQ(out[i], quiet[i]) << i;
    // Just after the burst it is attenuated, never amplified.
    for (size_t i = 0; i < 200; i++)
        ASSERT_LE(std::fabs(out[i]), std::fabs(quiet[i]));
}

TEST(Limiter, KeepsTheWaveformShapeOfAClippingSignal)
{
    // A 2x-overdriven sine comes out as a scaled sine, not a clipped square:
    // its peak-to-RMS ratio stays that of a sine (sqrt 2), not 1.
    Limiter lim;
    LimiterSetup(lim, 44100);
    std::vector<float> s = Sine(44100, 2.0f, 100);
    LimiterProcess(lim, s.data(), 44100);
    double sum = 0, peak = 0;
    for (size_t i = 22050 * 2; i < s.size(); i += 2) {
        sum += s[i] * s[i];
        peak = std::max(peak, (double)std::fabs(s[i]));
    }
    double rms = std::sqrt(sum / 22050);
    EXPECT_NEAR(peak / rms, std::sqrt(2.0), 0.05);
    EXPECT_GT(peak, 0.9);
}

TEST(Pcm16, RoundsAndSaturatesWithoutWrapAround)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float in[] = {0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 0.5f, -0.25f, 1e9f, -1e9f, nan};
    const int16_t expected[] = {0, 32767, -32767, 32767, -32768, 16384, -8192, 32767, -32768, 0};
    int16_t out[10];
    ToPcm16(out, in, 10);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(out[i], expected[i]) << "sample " << i;
}

// The block conversion (eight at a time where the processor allows) and
// the one-sample conversion give the same samples, ties to even included,
// whatever the length and the alignment.
TEST(Pcm16, BlockConversionEqualsTheSampleConversion)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> wide(-1.5f, 1.5f);
    std::vector<float> in(4096 + 3);
    for (float& v : in)
        v = wide(random);
    // Products that land on a half: 0.5 gives 16383.5.
    for (size_t i = 0; i < 64; i++)
        in[i * 37] = (2 * (int)i - 63) * 0.5f / 32767.0f * 257.0f;
    in[100] = std::numeric_limits<float>::quiet_NaN();
    in[101] = std::numeric_limits<float>::infinity();
    in[102] = -std::numeric_limits<float>::infinity();
    in[103] = 0.5f;
    in[104] = -0.5f;
    for (size_t offset : {0, 1, 3})
        for (size_t count : {size_t(0), size_t(7), size_t(8), size_t(9), in.size() - offset}) {
            std::vector<int16_t> out(count + 1, 99);
            ToPcm16(out.data(), in.data() + offset, count);
            for (size_t i = 0; i < count; i++)
                ASSERT_EQ(out[i], Pcm16(in[offset + i])) << "offset " << offset << ", sample " << i;
            EXPECT_EQ(out[count], 99) << "wrote past the end";
        }
}

TEST(Limiter, TurnsNaNIntoSilenceNotAFullScaleSpike)
{
    Limiter lim;
    LimiterSetup(lim, 44100);
    float b[] = {0.5f, std::numeric_limits<float>::quiet_NaN(), 3.0f, -3.0f};
    LimiterProcess(lim, b, 2);
    EXPECT_EQ(b[1], 0.0f);
    EXPECT_EQ(b[0], 0.5f);
    EXPECT_LE(std::fabs(b[2]), 1.0f);
    EXPECT_LE(std::fabs(b[3]), 1.0f);
}
