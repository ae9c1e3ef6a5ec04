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
    void Process(const float* in, size_t inFrames, size_t* inUsed,
                 float* out, size_t outFrames, size_t* outMade);
private:
    uint32_t inRate_ = 44100, outRate_ = 44100;
    uint64_t step_ = 0;      // input frames per output frame, 32.32 fixed point
    uint64_t phase_ = 0;     // fractional position, 32.32 fixed point
    float hist_[4][2] = {};  // last four input frames
    int primed_ = 0;
};
