#pragma once
// The audio library's exported functions, as bass.dll defines them.
#include "bass/bass_calls.h"

extern "C" {
#define BASS_DECLARE_EXPORT(ret, name, failure, params, args) ret WINAPI name params;
BASS_CALLS(BASS_DECLARE_EXPORT)
#undef BASS_DECLARE_EXPORT
}
