#include "resampler.h"

#include <cstring>

void Resampler::Configure(uint32_t inRate, uint32_t outRate)
{
    inRate_ = inRate ? inRate : 1;
    outRate_ = outRate ? outRate : 1;
    Reset();
}

void Resampler::Reset()
{
    whole_ = 0;
    frac_ = 0;
    consumed_ = 0;
    filled_ = 0;
    memset(window_, 0, sizeof window_);
}

size_t Resampler::InputFramesFor(size_t outFrames) const
{
    if (outFrames == 0 || inRate_ == outRate_)
        return outFrames;
    // The last of the frames sits at whole_ + floor((frac_ + (n-1) * in) / out)
    // and needs the input up to two frames past it.
    const uint64_t last = whole_ + (frac_ + static_cast<uint64_t>(outFrames - 1) * inRate_) / outRate_;
    const uint64_t needed = last + 3;
    return needed > consumed_ ? static_cast<size_t>(needed - consumed_) : 0;
}

void Resampler::Push(const float* frame)
{
    ++consumed_;
    if (filled_ < 0) {
        ++filled_;
        return;
    }
    // The first frame also stands for the one before the stream, so the
    // start is held rather than faded in from silence.
    if (consumed_ == 1) {
        window_[0][0] = frame[0];
        window_[0][1] = frame[1];
        filled_ = 1;
    }
    window_[filled_][0] = frame[0];
    window_[filled_][1] = frame[1];
    ++filled_;
}

void Resampler::Advance()
{
    frac_ += inRate_;
    while (frac_ >= outRate_) {
        frac_ -= outRate_;
        ++whole_;
        if (filled_ > 0)
            memmove(window_[0], window_[1], sizeof window_[0] * 3);
        --filled_;
    }
}

void Resampler::Emit(float* out) const
{
    // 4-point, 3rd-order Hermite (Catmull-Rom) between window_[1] and window_[2].
    const float t = static_cast<float>(frac_) / static_cast<float>(outRate_);
    for (int c = 0; c < 2; ++c) {
        const float xm1 = window_[0][c], x0 = window_[1][c], x1 = window_[2][c], x2 = window_[3][c];
        const float c1 = 0.5f * (x1 - xm1);
        const float c2 = xm1 - 2.5f * x0 + 2.0f * x1 - 0.5f * x2;
        const float c3 = 0.5f * (x2 - xm1) + 1.5f * (x0 - x1);
        out[c] = ((c3 * t + c2) * t + c1) * t + x0;
    }
}

void Resampler::Process(const float* in, size_t inFrames, size_t* inUsed, float* out, size_t outFrames, size_t* outMade)
{
    // Same rate: the kernel at phase 0 is the input itself, so copy it and
    // keep no look-ahead.
    if (inRate_ == outRate_) {
        const size_t n = inFrames < outFrames ? inFrames : outFrames;
        memcpy(out, in, n * 2 * sizeof(float));
        *inUsed = *outMade = n;
        return;
    }
    size_t used = 0, made = 0;
    for (;;) {
        while (filled_ < 4 && used < inFrames)
            Push(in + 2 * used++);
        if (filled_ < 4 || made == outFrames)
            break;
        Emit(out + 2 * made++);
        Advance();
    }
    *inUsed = used;
    *outMade = made;
}

void Resampler::Drain(float* out, size_t outFrames, size_t* outMade)
{
    size_t made = 0;
    if (inRate_ == outRate_)
        outFrames = 0;
    // Frames are owed while their position lies inside the input.
    while (made < outFrames && consumed_ > 0 && whole_ < consumed_) {
        while (filled_ < 4) {
            // Past the end the last input frame is held.
            const float* last = window_[filled_ - 1];
            window_[filled_][0] = last[0];
            window_[filled_][1] = last[1];
            ++filled_;
        }
        Emit(out + 2 * made++);
        Advance();
    }
    *outMade = made;
}
