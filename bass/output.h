#pragma once
// Audio output: a backend is a table of functions, so the waveOut fallback
// is a second table rather than a branch in every call. The mixer thread
// that drives the chosen backend lives in output.cpp.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

struct OutputFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t periodFrames = 0; // what the device asks for per wake-up
    uint32_t bufferFrames = 0; // the real buffer size read back
    uint32_t targetFrames = 0; // how far ahead we keep it filled
    double latencyMs = 0;      // what the device adds after its buffer
    const char* api = "";
};

struct OutputBackend {
    const char* name;
    // `endpoint` empty: the default device. `waveDevice`: WAVE_MAPPER or an index.
    bool (*open)(const std::wstring& endpoint, UINT waveDevice, HANDLE stopEvent, OutputFormat* format);
    bool (*start)();
    void (*stop)();
    void (*close)();
    // Waits for the device (or the stop event, or the time-out) and returns
    // the frames to write now and, in `queued`, the frames still ahead of them.
    uint32_t (*wait)(DWORD timeoutMs, uint32_t* queued);
    bool (*write)(const float* stereo, uint32_t frames);
};

extern const OutputBackend WasapiOutput;
extern const OutputBackend WaveOutOutput;

// Opens the device (-1: default, n: the n-th wave output device) on the
// mixer thread and starts mixing into it. False when no backend opens it.
bool OutputOpen(int device);
void OutputClose();
const OutputFormat& OutputCurrentFormat();
const char* OutputBackendName();

// When the first frames of a played channel entered the device buffer:
// read by the latency benchmark.
struct StartProbe {
    std::atomic<uint32_t> seq{0};
    std::atomic<uint32_t> handle{0};
    std::atomic<int64_t> ticks{0};   // QueryPerformanceCounter after the write
    std::atomic<uint32_t> queued{0}; // frames ahead of them in the buffer
};
extern StartProbe OutputStartProbe;
