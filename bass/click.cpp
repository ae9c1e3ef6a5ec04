#include "bass/click.h"

#include <algorithm>
#include <cmath>

namespace {

// A click: a decaying tone that starts at its peak, so its first frame is
// its onset. The accent is higher and louder.
constexpr double kClickMs = 25;
constexpr double kDecayMs = 5;
constexpr double kPlainHz = 1000, kAccentHz = 1500;
constexpr float kPlainLevel = 0.55f;

void MakeClick(std::vector<float>& out, uint32_t rate, double hz, float level)
{
    const double pi = 3.14159265358979323846;
    out.resize((size_t)(rate * kClickMs / 1000));
    for (size_t i = 0; i < out.size(); i++) {
        const double t = (double)i / rate;
        out[i] = (float)(level * std::cos(2 * pi * hz * t) * std::exp(-t * 1000 / kDecayMs));
    }
}

bool SameBeat(const ClickSettings& a, const ClickSettings& b)
{
    return a.milliBpm == b.milliBpm && a.beats == b.beats && a.volume == b.volume;
}

// Reads the settings word: a start (or a stop and start) begins a bar at
// the next frame rendered; other changes wait for the next beat.
void ReadWord(ClickTimeline& t, uint64_t word, ClickSettings* next)
{
    bool running = false;
    uint32_t starts = 0, oldStarts = 0;
    bool wasRunning = false;
    ClickUnpack(t.word, &wasRunning, &oldStarts);
    const ClickSettings s = ClickUnpack(word, &running, &starts);
    *next = s;
    if (word == t.word && t.running == running)
        return;
    t.word = word;
    if (running && (!t.running || starts != oldStarts)) {
        t.now = s;
        t.origin = t.pos;
        t.k = 0;
        t.newBar = true;
        t.heard = false;
    }
    t.running = running;
}

// Beat k is reached: settings given since the last word read apply here, from
// this beat on.
void Advance(ClickTimeline& t, uint64_t at, const ClickSettings& next)
{
    if (!SameBeat(t.now, next)) {
        if (next.milliBpm != t.now.milliBpm) {
            t.origin = at;
            t.k = 0;
        }
        if (next.beats != t.now.beats)
            t.newBar = true;
        t.now = next;
    }
    t.place = t.newBar || t.place >= t.now.beats ? 1 : t.place + 1;
    t.newBar = false;
    t.k++;
}

} // namespace

uint64_t ClickPack(const ClickSettings& s, bool running, uint32_t starts)
{
    const uint64_t tempo = std::clamp(s.milliBpm, kClickMinMilliBpm, kClickMaxMilliBpm);
    const uint64_t beats = std::clamp<uint32_t>(s.beats, 1, kClickMaxBeats);
    const float v = s.volume >= 0 && s.volume <= 1 ? s.volume : (s.volume > 1 ? 1.0f : 0.0f);
    const uint64_t volume = (uint64_t)std::lround(v * 65535.0f);
    return tempo | beats << 19 | volume << 23 | (uint64_t)s.record << 39 | (uint64_t)running << 40 |
           (uint64_t)(starts & 0xffff) << 41;
}

ClickSettings ClickUnpack(uint64_t word, bool* running, uint32_t* starts)
{
    ClickSettings s;
    s.milliBpm = std::clamp((uint32_t)(word & 0x7ffff), kClickMinMilliBpm, kClickMaxMilliBpm);
    s.beats = std::clamp((uint32_t)(word >> 19 & 0xf), 1u, kClickMaxBeats);
    s.volume = (float)(word >> 23 & 0xffff) / 65535.0f;
    s.record = (word >> 39 & 1) != 0;
    *running = (word >> 40 & 1) != 0;
    *starts = (uint32_t)(word >> 41 & 0xffff);
    return s;
}

void ClickReset(ClickTimeline& t, uint32_t rate)
{
    t = ClickTimeline();
    t.rate = rate;
    MakeClick(t.plain, rate, kPlainHz, kPlainLevel);
    MakeClick(t.accent, rate, kAccentHz, 1.0f);
}

uint64_t ClickNextBeat(const ClickTimeline& t)
{
    const uint64_t n = (uint64_t)t.rate * 60000;
    const uint64_t d = t.now.milliBpm;
    return t.origin + (t.k * n + d / 2) / d;
}

bool ClickRender(ClickTimeline& t, uint64_t word, float* mono, uint32_t frames, ClickBeat* beats, size_t maxBeats,
                 size_t* beatCount)
{
    *beatCount = 0;
    std::fill(mono, mono + frames, 0.0f);
    ClickSettings next;
    ReadWord(t, word, &next);
    const uint64_t start = t.pos, end = t.pos + frames;
    t.pos = end;
    if (!t.running || !t.rate)
        return false;
    bool sounding = false;
    uint64_t cursor = start;
    // The last click's tail up to `until`.
    auto tail = [&](uint64_t until) {
        if (t.heard) {
            const std::vector<float>& c = t.lastAccent ? t.accent : t.plain;
            for (uint64_t f = cursor; f < until && f - t.lastBeat < c.size(); f++) {
                mono[f - start] = c[f - t.lastBeat] * t.now.volume;
                sounding = sounding || mono[f - start] != 0;
            }
        }
        cursor = until;
    };
    for (uint64_t b = ClickNextBeat(t); b < end; b = ClickNextBeat(t)) {
        tail(std::max(b, start));
        Advance(t, b, next);
        // A beat that fell where the device played nothing of ours is lost.
        t.heard = b >= start;
        t.lastBeat = b;
        t.lastAccent = t.place == 1;
        if (t.heard && *beatCount < maxBeats)
            beats[(*beatCount)++] = {(uint32_t)(b - start), t.place, t.now.beats, t.now.milliBpm};
    }
    tail(end);
    return sounding;
}

void ClickSkip(ClickTimeline& t, uint64_t frames)
{
    t.pos += frames;
}
