// Practising: the metronome's stored settings against hostile values, tap
// tempo, the MIDI file's bytes, and a recording's notes and bar lines read back
// by a small independent reader at their times in the recording.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "recorder/practice_rules.h"
#include "recorder/smf.h"

namespace {

struct ReadNote {
    double seconds;
    int key, velocity, channel;
};

// Reads a format-0 file as a player would: every note-on with its time
// through the tempo map, and the ticks of the time signatures.
struct ReadBack {
    bool ok = false;
    int format = -1, tracks = 0, ppq = 0;
    std::vector<ReadNote> notes;
    std::vector<std::pair<uint64_t, int>> signatures; // tick, beats
    std::vector<std::pair<uint64_t, uint32_t>> tempos; // tick, microseconds a quarter
    bool ended = false;

    double Seconds(uint64_t tick) const
    {
        double s = 0;
        uint64_t at = 0;
        uint32_t usq = 500000;
        for (const auto& t : tempos) {
            if (t.first > tick)
                break;
            s += (double)(t.first - at) * usq / ppq / 1e6;
            at = t.first;
            usq = t.second;
        }
        return s + (double)(tick - at) * usq / ppq / 1e6;
    }
};

ReadBack Read(const std::vector<uint8_t>& f)
{
    ReadBack r;
    auto u32 = [&](size_t at) { return (uint32_t)f[at] << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3]; };
    if (f.size() < 22 || std::string(f.begin(), f.begin() + 4) != "MThd" || u32(4) != 6)
        return r;
    r.format = f[8] << 8 | f[9];
    r.tracks = f[10] << 8 | f[11];
    r.ppq = f[12] << 8 | f[13];
    if (std::string(f.begin() + 14, f.begin() + 18) != "MTrk" || u32(18) != f.size() - 22)
        return r;
    std::vector<std::pair<uint64_t, ReadNote>> ons;
    uint64_t tick = 0;
    for (size_t p = 22; p < f.size();) {
        uint32_t delta = 0;
        do
            delta = delta << 7 | (f[p] & 0x7f);
        while (f[p++] & 0x80);
        tick += delta;
        const uint8_t status = f[p++];
        if (status == 0xff) {
            const uint8_t type = f[p], len = f[p + 1];
            if (type == 0x51)
                r.tempos.push_back({tick, (uint32_t)f[p + 2] << 16 | f[p + 3] << 8 | f[p + 4]});
            if (type == 0x58)
                r.signatures.push_back({tick, f[p + 2]});
            if (type == 0x2f)
                r.ended = p + 2 == f.size();
            p += 2 + len;
        } else {
            if ((status & 0xf0) == 0x90 && f[p + 1])
                ons.push_back({tick, {0, f[p], f[p + 1], status & 0x0f}});
            p += 2;
        }
    }
    for (auto& on : ons) {
        on.second.seconds = r.Seconds(on.first);
        r.notes.push_back(on.second);
    }
    r.ok = true;
    return r;
}

RecordingMark Hit(uint64_t frame, int note, float gain = 1.0f)
{
    return {frame, false, note, gain, 0, 0, 0};
}

RecordingMark Beat(uint64_t frame, uint32_t place, uint32_t beats, float tempo)
{
    return {frame, true, 0, 1.0f, place, beats, tempo};
}

} // namespace

TEST(MetronomeSettings, HostileStoredValuesGiveTheDefaultsEachOnItsOwn)
{
    struct {
        const char *tempo, *beats, *volume, *record;
        MetronomeSettings expected;
    } cases[] = {
        {"", "", "", "", {120, 4, 0.5f, false}},
        {"0", "0", "-5", "2", {120, 4, 0.5f, false}},
        {"-5", "-5", "1e30", "yes", {120, 4, 0.5f, false}},
        {"1e30", "13", "NaN", "", {120, 4, 0.5f, false}},
        {"NaN", "inf", "nan", "1.0", {120, 4, 0.5f, false}},
        {"快", "4拍", "0.5x", " 1", {120, 4, 0.5f, false}},
        {" 96 ", "3", "0", "1", {96, 3, 0.0f, true}},
        {"30", "1", "1", "0", {30, 1, 1.0f, false}},
        {"300", "12", "0.25", "1", {300, 12, 0.25f, true}},
        {"301", "12.4", "1.01", "0", {120, 4, 0.5f, false}},
    };
    for (const auto& c : cases) {
        MetronomeSettings s = MetronomeFromTexts(c.tempo, c.beats, c.volume, c.record);
        EXPECT_EQ(s.tempo, c.expected.tempo) << c.tempo;
        EXPECT_EQ(s.beats, c.expected.beats) << c.beats;
        EXPECT_EQ(s.volume, c.expected.volume) << c.volume;
        EXPECT_EQ(s.record, c.expected.record) << c.record;
    }
}

// The dialog names the first field out of its range instead of taking a default.
TEST(MetronomeSettings, TheDialogsTextsAreCheckedInOrder)
{
    EXPECT_EQ(MetronomeTextsValid("96", "3", "0.25"), 0);
    EXPECT_EQ(MetronomeTextsValid("29", "3", "x"), 1);
    EXPECT_EQ(MetronomeTextsValid("300", "0", "2"), 2);
    EXPECT_EQ(MetronomeTextsValid("30", "12", "1.5"), 3);
    EXPECT_EQ(MetronomeTextsValid("30", "12", "NaN"), 3);
}

TEST(TapTempo, AveragesTheLastFourTapsAndStartsOverAfterTwoSeconds)
{
    TapTempo taps;
    EXPECT_EQ(Tap(taps, 1000), 0);
    EXPECT_EQ(Tap(taps, 1500), 120);
    EXPECT_EQ(Tap(taps, 2000), 120);
    EXPECT_EQ(Tap(taps, 2500), 120);
    // Four taps kept: 1500 .. 2900, three intervals.
    EXPECT_EQ(Tap(taps, 2900), (int)std::lround(60000.0 / (1400.0 / 3)));
    // More than 2 s after the last: a first tap again.
    EXPECT_EQ(Tap(taps, 4901), 0);
    EXPECT_EQ(Tap(taps, 5526), 96);
    // Across the wrap of the millisecond clock, and clamped to the range.
    TapTempo wrap;
    Tap(wrap, 0xffffff00u);
    EXPECT_EQ(Tap(wrap, 0xffffff00u + 600), 100);
    TapTempo fast;
    Tap(fast, 0);
    EXPECT_EQ(Tap(fast, 10), 300);
    TapTempo slow;
    Tap(slow, 0);
    EXPECT_EQ(Tap(slow, 1999), 30);
}

TEST(Smf, BytesOfAFormatZeroFile)
{
    const std::vector<SmfEvent> events = {
        {200, SmfKind::kNoteOn, 38, 40},
        {0, SmfKind::kNoteOn, 36, 100},
        {0, SmfKind::kTempo, 437956, 0},
        {0, SmfKind::kTimeSignature, 3, 0},
        {200, SmfKind::kNoteOff, 36, 0},
    };
    const std::vector<uint8_t> expected = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x0f, 0x00, // format 0, one track, 3840 a quarter
        'M', 'T', 'r', 'k', 0, 0, 0, 32,
        0x00, 0xff, 0x51, 0x03, 0x06, 0xae, 0xc4,       // tempo 437956 us
        0x00, 0xff, 0x58, 0x04, 3, 2, 24, 8,            // 3/4
        0x00, 0x99, 36, 100,                            // channel 10
        0x81, 0x48, 0x89, 36, 0,                        // 200 ticks later: the end before the start
        0x00, 0x99, 38, 40,
        0x00, 0xff, 0x2f, 0x00,
    };
    EXPECT_EQ(SmfFormat0(3840, events), expected);
}

TEST(RecordingMidi, WithoutBeatsNotesAreAtTheirTimesAt120In44)
{
    const uint32_t rate = 44100;
    std::vector<RecordingMark> marks = {Hit(0, 36), Hit(12345, 38, 0.5f), Hit(12346, 0), Hit(44100 * 61 + 7, 42)};
    ReadBack r = Read(RecordingMidi(rate, marks));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.format, 0);
    EXPECT_EQ(r.tracks, 1);
    ASSERT_EQ(r.tempos.size(), 1u);
    EXPECT_EQ(r.tempos[0].second, 500000u);
    ASSERT_EQ(r.signatures.size(), 1u);
    EXPECT_EQ(r.signatures[0].second, 4);
    // The mark that is no kit sample is no note.
    ASSERT_EQ(r.notes.size(), 3u);
    const uint64_t frames[] = {0, 12345, 44100 * 61 + 7};
    const int keys[] = {36, 38, 42}, velocities[] = {100, 40, 100};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_NEAR(r.notes[i].seconds, (double)frames[i] / rate, 0.001) << i;
        EXPECT_EQ(r.notes[i].key, keys[i]);
        EXPECT_EQ(r.notes[i].velocity, velocities[i]);
        EXPECT_EQ(r.notes[i].channel, 9);
    }
}

// The click ran before the recording began: its first logged beat is the third
// of a 3/4 bar. Bars start on the click's downbeats, a tempo change on a
// beat moves them on, and notes keep their times over five minutes.
TEST(RecordingMidi, BarLinesFallOnTheClicksDownbeatsAndNotesKeepTheirTimes)
{
    const uint32_t rate = 48000;
    const double beat137 = rate * 60.0 / 137, beat90 = rate * 60.0 / 90;
    std::vector<RecordingMark> marks;
    std::vector<double> downbeats;
    const double first = 7000;
    for (int k = 0; k < 601; k++) {
        const double at = first + k * beat137;
        const uint32_t place = (uint32_t)((k + 2) % 3 + 1);
        if (place == 1)
            downbeats.push_back(at);
        marks.push_back(Beat((uint64_t)std::llround(at), place, 3, 137.0f));
        marks.push_back(Hit((uint64_t)std::llround(at + 1234.5 * (k % 7)), 36 + k % 5));
    }
    // From the 602nd beat (a downbeat) on, 90 a minute in 3/4.
    const double change = first + 601 * beat137;
    for (int k = 0; k < 30; k++) {
        const double at = change + k * beat90;
        if (k % 3 == 0)
            downbeats.push_back(at);
        marks.push_back(Beat((uint64_t)std::llround(at), (uint32_t)(k % 3 + 1), 3, 90.0f));
        marks.push_back(Hit((uint64_t)std::llround(at + 333), 38, 0.25f));
    }
    ReadBack r = Read(RecordingMidi(rate, marks));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.notes.size(), 631u);
    size_t n = 0;
    for (const RecordingMark& m : marks) {
        if (m.beat)
            continue;
        EXPECT_NEAR(r.notes[n].seconds, (double)m.frame / rate, 0.001) << "note " << n;
        EXPECT_EQ(r.notes[n].velocity, n < 601 ? 100 : 40);
        n++;
    }
    // A pickup, then 3/4 from the first downbeat on.
    ASSERT_GE(r.signatures.size(), 2u);
    EXPECT_EQ(r.signatures.back().second, 3);
    const uint64_t barStart = r.signatures.back().first, bar = 3ull * r.ppq;
    EXPECT_NEAR(r.Seconds(barStart), downbeats[0] / rate, 0.001);
    for (size_t b = 0; b < downbeats.size(); b++)
        EXPECT_NEAR(r.Seconds(barStart + b * bar), downbeats[b] / rate, 0.001) << "bar " << b;
}
