#pragma once
// The mix recorder: the frames the output hands to the device, queued by
// the mixer thread in a ring and written to a 16-bit PCM WAV file by a
// writer thread of its own.
#include <windows.h>

#include <cstdint>

#include "bass/bass_calls.h"
#include "bass/output.h"

enum class RecordStart { Started, Busy, CannotCreate, Failed };

// API threads; the caller holds the output open (rate, channels: its format).
RecordStart RecorderStart(const char* path, uint32_t rate, uint32_t channels);
// Ends a running recording for `reason` (ASKED or FREED): the queued
// frames are written, the sizes set, the file closed.
void RecorderEnd(DWORD reason);
// Ends a running recording as asked, or takes the end of one that ended
// on its own; each end is reported once. False when there is none to report.
bool RecorderStop(BASS_MIXRECORDINFO* info);
// Copies up to `max` of the hits and beats the current or last recording
// placed, from index `first`; returns how many.
uint32_t RecorderHits(BASS_MIXRECORDHIT* hits, uint32_t first, uint32_t max);
// The current or last recording; false when there never was one.
bool RecorderInfo(BASS_MIXRECORDINFO* info);

// The output's tap: listening while a recording is fed, handed the frames
// the device plays.
extern const OutputTap RecorderTap;

// Seams for the tests that link the library's objects: what appends data
// to the file (WriteFile's arguments and result), the largest RIFF size,
// and the ring's size in frames (0: four seconds). Set while no recording runs.
using RecorderWriteFn = BOOL (*)(HANDLE file, const void* data, DWORD bytes, DWORD* written);
void RecorderSetWrite(RecorderWriteFn write);
void RecorderSetRiffLimit(uint64_t riffLimit);
void RecorderSetRingFrames(uint32_t frames);
