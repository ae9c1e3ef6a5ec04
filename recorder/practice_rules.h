#pragma once
// The rules of practising with the pad: the metronome's settings as
// Config.ini holds them, tap tempo, the label, and a recording's hits as a
// MIDI file. Pure: no windows.h.
#include "bass/metronome_tempo.h"

#include <cstdint>
#include <string>
#include <vector>

struct MetronomeSettings {
    int tempo = 120; // beats per minute, BASS_METRONOME_TEMPO_MIN..MAX
    int beats = 4;   // per bar, 1..12
    float volume = 0.5f;
    bool record = false; // the click goes into recordings
};

constexpr int kMaxBeats = 12;

// [节拍器] as read: each value that is no plain number in its range (0,
// -5, 1e30, NaN, text; a fraction for the whole numbers) gives its
// default; 录入录音 is "1" or "0".
MetronomeSettings MetronomeFromTexts(const std::string& tempo, const std::string& beats, const std::string& volume,
                                     const std::string& record);

// The dialog's texts: 0 when each is a plain number in its range, else
// the first that is not (1 tempo, 2 beats, 3 volume).
int MetronomeTextsValid(const std::string& tempo, const std::string& beats, const std::string& volume);

// Tap tempo: the last four taps, a tap more than 2 s after the last
// starting over.
struct TapTempo {
    uint32_t times[4] = {};
    int count = 0;
};
constexpr uint32_t kTapResetMs = 2000;
// A tap at `nowMs` (a millisecond clock that may wrap): the tempo of the
// average interval of the taps kept, within the metronome's range; 0 after
// a first tap.
int Tap(TapTempo& taps, uint32_t nowMs);

// "节拍器 速度=96": the quarter-note sign has no GBK character.
std::string MetronomeLabel(int tempo);

// General MIDI drum key of a kit letter ('a'..'z', any case), as the
// demo kits lay out their sounds; 0 for none.
int DrumNoteOfLetter(char letter);

// What the recorder placed in a recording: a hit of a kit sample (note 0:
// not a kit sample, no note) or a beat of the metronome.
struct RecordingMark {
    uint64_t frame;
    bool beat;
    int note;
    float gain;
    uint32_t place, beats; // a beat's place in its bar and the bar's beats
    float tempo;           // a beat's, per minute
};

constexpr uint16_t kMidiTicksPerQuarter = 3840;
constexpr uint8_t kPlainVelocity = 100, kSoftVelocity = 40;

// The Standard MIDI File of a recording at `rate` frames a second: one
// note per hit at its time in the file (velocity 40 below full gain, else
// 100). The tempo and bars follow the metronome's beats, the first logged
// bar line on its first downbeat (the time before is one pickup bar); 120
// and 4/4 without beats.
std::vector<uint8_t> RecordingMidi(uint32_t rate, const std::vector<RecordingMark>& marks);
