#pragma once
// The program's side of the audio library: bass.dll is loaded from the
// program directory on first use and every function is looked up by name.
// A function the library lacks behaves as a failing call (silence).
#include "bass/bass_calls.h"

#define BASS_DECLARE_CALL(ret, name, failure, params, args) ret name params;
BASS_CALLS(BASS_DECLARE_CALL)
#undef BASS_DECLARE_CALL

// Whether the library exports `name`: later calls (the mix recorder's) are
// optional, and the program does without them.
bool HasBassCall(const char* name);

// Opens the output on `card` (-1: the default device) the one way the
// program does it: 44.1 kHz, 3D, owned by the main window, exclusive when
// the user wishes it and the library can be asked.
BOOL OpenEngine(int card);
// The card of the last open: -1 for the default device.
int EngineCard();
