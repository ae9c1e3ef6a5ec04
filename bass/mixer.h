#pragma once
// The mixing arithmetic of the library, on interleaved stereo float frames.
// No platform code: it is tested natively and runs on the mixer thread.
#include <cstddef>
#include <cstdint>

void MixClear(float* out, size_t frames);
// out += in * gain, with the common gains 0 and 1 taken without multiplying.
void MixAdd(float* out, const float* in, size_t frames, float gain);

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
void ToPcm16(int16_t* out, const float* in, size_t samples);
