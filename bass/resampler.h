#pragma once
// Streaming sample-rate converter for interleaved stereo float, better
// than linear interpolation. Keeps its history between calls, so a stream
// converted in chunks of any size equals the stream converted at once.
#include <cstddef>
#include <cstdint>

class Resampler {
public:
    void Configure(uint32_t inRate, uint32_t outRate);
    void Reset();
    // Input frames needed to produce `outFrames` frames from the current state.
    size_t InputFramesFor(size_t outFrames) const;
    // Converts: reads at most `inFrames`, writes at most `outFrames`;
    // reports how many of each it used.
    void Process(const float* in, size_t inFrames, size_t* inUsed, float* out, size_t outFrames, size_t* outMade);
    // After the last input: writes the frames still owed for it (the input
    // edge is held), up to `outFrames`; *outMade is 0 once all are out.
    // In all, N input frames give exactly ceil(N * outRate / inRate) frames.
    void Drain(float* out, size_t outFrames, size_t* outMade);

private:
    void Push(const float* frame);
    void Advance();
    void Emit(float* out) const;

    uint32_t inRate_ = 44100, outRate_ = 44100;
    // Position of the next output frame in input frames: whole_ + frac_ / outRate_,
    // kept exact so long streams do not drift.
    uint64_t whole_ = 0;
    uint32_t frac_ = 0;
    uint64_t consumed_ = 0;   // input frames taken so far
    float window_[4][2] = {}; // input frames whole_-1 .. whole_+2
    int filled_ = 0;          // frames of window_ present; negative: frames still to skip
};
