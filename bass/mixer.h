#pragma once
// The mixing arithmetic of the library, on interleaved stereo float frames.
// No platform code: it is tested natively and runs on the mixer thread.
#include <cmath>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void MixClear(float* out, size_t frames);
// out += in * gain, with the common gains 0 and 1 taken without multiplying.
void MixAdd(float* out, const float* in, size_t frames, float gain);
// out += in * a gain that starts at `gain` and falls by `step` each frame.
void MixAddRamp(float* out, const float* in, size_t frames, float gain, float step);

// Peak limiter with instant attack and smooth release: the output never
// leaves [-ceiling, ceiling], and while the input stays below the ceiling
// with the gain recovered it passes bit-exact.
struct Limiter {
    float ceiling = 1.0f;
    // 1 - gain, kept as such so the release reaches exactly 0 instead of
    // stalling one float step below a gain of 1.
    float reduction = 0.0f;
    float keep = 0.0f; // per-frame release factor, set by LimiterSetup
};
void LimiterSetup(Limiter& limiter, uint32_t sampleRate, float releaseMs = 80.0f);
void LimiterProcess(Limiter& limiter, float* buffer, size_t frames);

// Float to 16-bit PCM with rounding and saturation, never wrap-around.
inline int16_t Pcm16(float in)
{
    float v = in * 32767.0f;
    if (!(v > -32768.0f))
        v = std::isnan(v) ? 0.0f : -32768.0f;
    if (v > 32767.0f)
        v = 32767.0f;
#if defined(__SSE2__)
    // The same rounding to nearest even as lrintf, without MinGW's call.
    return (int16_t)_mm_cvtss_si32(_mm_set_ss(v));
#else
    return (int16_t)std::lrintf(v);
#endif
}
void ToPcm16(int16_t* out, const float* in, size_t samples);

// Channel `c` of a device with `channels` channels, from frame `i` of the
// stereo mix: mono devices get both sides averaged, channels past the
// second stay silent.
inline float DeviceSample(const float* stereo, size_t i, unsigned c, unsigned channels)
{
    if (channels == 1)
        return 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    return c < 2 ? stereo[2 * i + c] : 0.0f;
}
