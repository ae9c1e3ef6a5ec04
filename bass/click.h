#pragma once
// The metronome's click, made on the output's own timeline of device
// frames: each beat starts on the frame its tempo gives, counted from the
// beat where that tempo began as an exact fraction, so no rounding adds up
// over a long recording. Pure: no platform code.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bass/metronome_tempo.h"

constexpr uint32_t kClickMinMilliBpm = BASS_METRONOME_TEMPO_MIN * 1000u;
constexpr uint32_t kClickMaxMilliBpm = BASS_METRONOME_TEMPO_MAX * 1000u;
constexpr uint32_t kClickMaxBeats = 12;

struct ClickSettings {
    uint32_t milliBpm = 120000; // thousandths of a beat per minute
    uint32_t beats = 4;         // per bar; the first is accented
    float volume = 0.5f;
    bool record = false; // the click goes into the recording too
};

// Settings in one word, handed from the API threads to the mixer thread
// without a lock; `starts` counts the starts, so that a stop and a start
// between two blocks still begin a new bar. Out-of-range values are
// clamped; the volume keeps 1/65535 steps.
uint64_t ClickPack(const ClickSettings& s, bool running, uint32_t starts);
ClickSettings ClickUnpack(uint64_t word, bool* running, uint32_t* starts);

// A beat that starts in the rendered block.
struct ClickBeat {
    uint32_t at;    // frame in the block
    uint32_t place; // in its bar, 1 = the accented first
    uint32_t beats; // of its bar
    uint32_t milliBpm;
};

struct ClickTimeline {
    uint32_t rate = 0;
    std::vector<float> plain, accent; // the two clicks at the rate, full scale
    uint64_t word = 0;                // the settings word last read
    bool running = false;
    ClickSettings now; // of the beats since `origin`
    // Beat k after `origin` starts on origin + k * rate * 60000 / milliBpm
    // frames (rounded): the fraction is never carried from beat to beat.
    uint64_t origin = 0;
    uint64_t k = 0; // the next beat's
    uint32_t place = 0; // of the last beat
    bool newBar = true; // the next beat starts a bar
    uint64_t pos = 0;   // the timeline's frame of the next frame rendered
    uint64_t lastBeat = 0;
    bool heard = false; // a beat was rendered since the start
    bool lastAccent = false;
};

// Makes the clicks for a device of `rate` and puts the timeline at frame 0,
// stopped: a running word starts it with a new bar. Allocates: not on the
// mixer thread.
void ClickReset(ClickTimeline& t, uint32_t rate);
// The frame of the next beat.
uint64_t ClickNextBeat(const ClickTimeline& t);
// Renders `frames` mono samples of the click (0 where none sounds) from
// the timeline's position on, reading `word` first: a start begins a bar
// with the first frame, other changes apply from the next beat. Up to
// `maxBeats` beats that start in the block are listed in `beats`.
// Returns whether any sample is not silent.
bool ClickRender(ClickTimeline& t, uint64_t word, float* mono, uint32_t frames, ClickBeat* beats, size_t maxBeats,
                 size_t* beatCount);
// The device played `frames` that no block held (it ran dry): the
// timeline moves on, and the beats that fell in them are lost.
void ClickSkip(ClickTimeline& t, uint64_t frames);
