#pragma once
// The metronome's tempo range in beats per minute, part of the library's
// contract (BASS_METRONOME): what BASS_MetronomeSet accepts and the click
// holds to, and what the program lets a user set. No windows.h, so the
// pure rules on both sides read it too.
constexpr int BASS_METRONOME_TEMPO_MIN = 30;
constexpr int BASS_METRONOME_TEMPO_MAX = 300;
