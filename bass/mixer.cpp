#include "bass/mixer.h"

#include <cmath>
#include <cstring>

void MixClear(float* out, size_t frames)
{
    std::memset(out, 0, frames * 2 * sizeof(float));
}

void MixAdd(float* out, const float* in, size_t frames, float gain)
{
    size_t n = frames * 2;
    if (gain == 0.0f)
        return;
    if (gain == 1.0f) {
        for (size_t i = 0; i < n; i++)
            out[i] += in[i];
        return;
    }
    for (size_t i = 0; i < n; i++)
        out[i] += in[i] * gain;
}

void MixAddRamp(float* out, const float* in, size_t frames, float gain, float step)
{
    for (size_t i = 0; i < frames; i++) {
        const float g = gain - step * (float)i;
        out[2 * i] += in[2 * i] * g;
        out[2 * i + 1] += in[2 * i + 1] * g;
    }
}

void LimiterSetup(Limiter& limiter, uint32_t sampleRate, float releaseMs)
{
    // The reduction falls to 1/e of itself per release time.
    float frames = releaseMs * 0.001f * (sampleRate ? sampleRate : 44100);
    limiter.keep = std::exp(-1.0f / frames);
    limiter.reduction = 0.0f;
}

void LimiterProcess(Limiter& limiter, float* buffer, size_t frames)
{
    const size_t n = frames * 2;
    const float ceiling = limiter.ceiling;
    float blockPeak = 0.0f;
    bool nan = false;
    for (size_t i = 0; i < n; i++) {
        float a = std::fabs(buffer[i]);
        nan |= a != a;
        blockPeak = a > blockPeak ? a : blockPeak;
    }
    // A NaN from a broken source becomes silence rather than a full-scale spike.
    if (nan)
        for (size_t i = 0; i < n; i++)
            buffer[i] = buffer[i] == buffer[i] ? buffer[i] : 0.0f;
    float reduction = limiter.reduction;
    if (reduction == 0.0f && blockPeak <= ceiling)
        return;
    for (size_t i = 0; i < frames; i++) {
        float* f = buffer + 2 * i;
        if (reduction > 0.0f) {
            reduction *= limiter.keep;
            // Below this the gain rounds to 1 anyway: be bit-exact again.
            if (reduction < 1e-6f)
                reduction = 0.0f;
        }
        float l = std::fabs(f[0]), r = std::fabs(f[1]);
        float peak = l > r ? l : r;
        if (peak * (1.0f - reduction) > ceiling)
            reduction = 1.0f - ceiling / peak;
        float gain = 1.0f - reduction;
        // Rounding of the product may still land a hair above the ceiling.
        for (int c = 0; c < 2; c++) {
            float v = f[c] * gain;
            f[c] = v > ceiling ? ceiling : v < -ceiling ? -ceiling : v;
        }
    }
    limiter.reduction = reduction;
}

void ToPcm16(int16_t* out, const float* in, size_t samples)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Eight at a time, exactly as Pcm16: NaN to 0, saturate, round to even.
    const __m128 scale = _mm_set1_ps(32767.0f), low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
    for (; i + 8 <= samples; i += 8) {
        __m128 a = _mm_mul_ps(_mm_loadu_ps(in + i), scale);
        __m128 b = _mm_mul_ps(_mm_loadu_ps(in + i + 4), scale);
        a = _mm_min_ps(_mm_max_ps(_mm_and_ps(a, _mm_cmpord_ps(a, a)), low), high);
        b = _mm_min_ps(_mm_max_ps(_mm_and_ps(b, _mm_cmpord_ps(b, b)), low), high);
        __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < samples; i++)
        out[i] = Pcm16(in[i]);
}
