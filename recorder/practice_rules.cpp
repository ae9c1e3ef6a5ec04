#include "recorder/practice_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "recorder/smf.h"

namespace {

// The whole text, blanks around it aside, as a finite number.
bool PlainNumber(const std::string& text, double* value)
{
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos)
        return false;
    const std::string body = text.substr(begin, end - begin + 1);
    char* stop = nullptr;
    *value = std::strtod(body.c_str(), &stop);
    return stop == body.c_str() + body.size() && std::isfinite(*value);
}

template <class T>
T InRange(const std::string& text, double low, double high, T fallback)
{
    double v = 0;
    if (!PlainNumber(text, &v) || v < low || v > high || (std::is_integral<T>::value && v != std::floor(v)))
        return fallback;
    return (T)v;
}

struct Segment {
    uint64_t frame;
    uint64_t tick;
    uint32_t usq; // microseconds a quarter note
};

constexpr uint32_t kMaxUsq = 0xffffff;

uint32_t UsqOf(double tempo)
{
    return (uint32_t)std::lround(60e6 / tempo);
}

uint64_t TickOf(const std::vector<Segment>& map, uint32_t rate, uint64_t frame)
{
    const Segment* s = &map.front();
    for (const Segment& seg : map)
        if (seg.frame <= frame)
            s = &seg;
    const double us = (double)(frame - s->frame) * 1e6 / rate;
    return s->tick + (uint64_t)std::llround(us * kMidiTicksPerQuarter / s->usq);
}

} // namespace

MetronomeSettings MetronomeFromTexts(const std::string& tempo, const std::string& beats, const std::string& volume,
                                     const std::string& record)
{
    MetronomeSettings s;
    s.tempo = InRange(tempo, BASS_METRONOME_TEMPO_MIN, BASS_METRONOME_TEMPO_MAX, s.tempo);
    s.beats = InRange(beats, 1, kMaxBeats, s.beats);
    s.volume = InRange(volume, 0, 1, s.volume);
    s.record = record == "1";
    return s;
}

int MetronomeTextsValid(const std::string& tempo, const std::string& beats, const std::string& volume)
{
    if (InRange(tempo, BASS_METRONOME_TEMPO_MIN, BASS_METRONOME_TEMPO_MAX, 0) == 0)
        return 1;
    if (InRange(beats, 1, kMaxBeats, 0) == 0)
        return 2;
    return InRange(volume, 0, 1, -1.0f) < 0 ? 3 : 0;
}

int Tap(TapTempo& taps, uint32_t nowMs)
{
    if (taps.count && nowMs - taps.times[taps.count - 1] > kTapResetMs)
        taps.count = 0;
    if (taps.count == 4) {
        std::copy(taps.times + 1, taps.times + 4, taps.times);
        taps.count = 3;
    }
    taps.times[taps.count++] = nowMs;
    if (taps.count < 2)
        return 0;
    const double interval = (double)(nowMs - taps.times[0]) / (taps.count - 1);
    if (interval <= 0)
        return BASS_METRONOME_TEMPO_MAX;
    return std::clamp((int)std::lround(60000.0 / interval), BASS_METRONOME_TEMPO_MIN, BASS_METRONOME_TEMPO_MAX);
}

std::string MetronomeLabel(int tempo)
{
    return "节拍器 速度=" + std::to_string(tempo);
}

int DrumNoteOfLetter(char letter)
{
    // a kick, b shaker, c cowbell, d rim shot, e ride bell, f g y u toms low
    // to high, h j k l hi-hats closed, pedal, half-open, open, i cross
    // stick, m n congas high and low, o clap, p tambourine, q crash, r
    // splash, s snare, t china, v wood block, w ride, x claves, z triangle.
    static const int notes[26] = {36, 82, 56, 40, 53, 41, 43, 42, 37, 44, 46, 46, 63,
                                  64, 39, 54, 49, 55, 38, 52, 48, 76, 51, 75, 45, 81};
    const int c = std::tolower((unsigned char)letter);
    return c >= 'a' && c <= 'z' ? notes[c - 'a'] : 0;
}

namespace {

using Beats = std::vector<const RecordingMark*>;

Beats BeatsOf(const std::vector<RecordingMark>& marks)
{
    Beats beats;
    for (const RecordingMark& m : marks)
        if (m.beat && m.tempo > 0)
            beats.push_back(&m);
    return beats;
}

// The first beat that starts a bar; the first beat when none does.
size_t FirstDownbeat(const Beats& beats)
{
    for (size_t i = 0; i < beats.size(); i++)
        if (beats[i]->place == 1)
            return i;
    return 0;
}

// The time before the first bar line at `down`: a pickup of whole beats
// as near the click's as fit, at the tempo that makes it end exactly
// there. Its ticks.
uint64_t AddPickup(uint32_t rate, const RecordingMark& down, uint32_t bar, std::vector<Segment>* map,
                   std::vector<SmfEvent>* events)
{
    const double leadUs = (double)down.frame * 1e6 / rate;
    uint64_t m = std::max<uint64_t>(1, (uint64_t)std::llround(leadUs / UsqOf(down.tempo)));
    while (leadUs / m > kMaxUsq)
        m++;
    map->push_back({0, 0, (uint32_t)std::max<int64_t>(1, std::llround(leadUs / m))});
    const uint32_t pickup = m % bar ? (uint32_t)(m % bar) : bar;
    events->push_back({0, SmfKind::kTimeSignature, std::min<uint32_t>(pickup, 255), 0});
    if (pickup != m)
        events->push_back({pickup * kMidiTicksPerQuarter, SmfKind::kTimeSignature, bar, 0});
    return m * kMidiTicksPerQuarter;
}

// The click's changes after its first bar line: a new tempo or a bar of
// another length, each on a beat, whole beats after the last change.
void FollowTheClick(uint32_t rate, const Beats& beats, size_t first, uint32_t bar, std::vector<Segment>* map,
                    std::vector<SmfEvent>* events)
{
    uint32_t usq = map->back().usq;
    for (size_t i = first + 1; i < beats.size(); i++) {
        const RecordingMark& b = *beats[i];
        const uint32_t u = UsqOf(b.tempo);
        const bool newBar = b.place == 1 && b.beats != bar;
        if (u == usq && !newBar)
            continue;
        const Segment& last = map->back();
        const double sinceUs = (double)(b.frame - last.frame) * 1e6 / rate;
        const uint64_t at = last.tick + (uint64_t)std::llround(sinceUs / last.usq) * kMidiTicksPerQuarter;
        usq = u;
        map->push_back({b.frame, at, usq});
        if (newBar) {
            bar = b.beats;
            events->push_back({(uint32_t)at, SmfKind::kTimeSignature, bar, 0});
        }
    }
}

// Where each frame of the recording lies in ticks, with the bar lines:
// the click's when it ran, else 120 a minute in 4/4.
std::vector<Segment> TempoMapOf(uint32_t rate, const std::vector<RecordingMark>& marks, std::vector<SmfEvent>* events)
{
    std::vector<Segment> map;
    const Beats beats = BeatsOf(marks);
    if (beats.empty()) {
        map.push_back({0, 0, UsqOf(120)});
        events->push_back({0, SmfKind::kTimeSignature, 4, 0});
        return map;
    }
    const size_t first = FirstDownbeat(beats);
    const RecordingMark& down = *beats[first];
    const uint32_t bar = std::max<uint32_t>(1, down.beats);
    const uint64_t tick = down.frame ? AddPickup(rate, down, bar, &map, events) : 0;
    map.push_back({down.frame, tick, UsqOf(down.tempo)});
    events->push_back({(uint32_t)tick, SmfKind::kTimeSignature, bar, 0});
    FollowTheClick(rate, beats, first, bar, &map, events);
    return map;
}

// One note a hit: a sixteenth long, or until the same key sounds again.
void AddNotes(uint32_t rate, const std::vector<Segment>& map, const std::vector<RecordingMark>& marks,
              std::vector<SmfEvent>* events)
{
    struct Note {
        uint64_t tick;
        int key;
        uint8_t velocity;
    };
    std::vector<Note> notes;
    for (const RecordingMark& m : marks)
        if (!m.beat && m.note > 0 && m.note < 128)
            notes.push_back({TickOf(map, rate, m.frame), m.note, m.gain < 1.0f ? kSoftVelocity : kPlainVelocity});
    std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) { return a.tick < b.tick; });
    for (size_t i = 0; i < notes.size(); i++) {
        uint64_t off = notes[i].tick + kMidiTicksPerQuarter / 4;
        for (size_t j = i + 1; j < notes.size(); j++) {
            if (notes[j].key == notes[i].key) {
                off = std::min(off, notes[j].tick);
                break;
            }
        }
        events->push_back({(uint32_t)notes[i].tick, SmfKind::kNoteOn, (uint32_t)notes[i].key, notes[i].velocity});
        events->push_back({(uint32_t)off, SmfKind::kNoteOff, (uint32_t)notes[i].key, 0});
    }
}

} // namespace

std::vector<uint8_t> RecordingMidi(uint32_t rate, const std::vector<RecordingMark>& marks)
{
    std::vector<SmfEvent> events;
    const std::vector<Segment> map = TempoMapOf(rate, marks, &events);
    for (const Segment& s : map)
        events.push_back({(uint32_t)s.tick, SmfKind::kTempo, std::min(s.usq, kMaxUsq), 0});
    AddNotes(rate, map, marks, &events);
    return SmfFormat0(kMidiTicksPerQuarter, events);
}
