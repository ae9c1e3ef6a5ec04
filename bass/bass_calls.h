#pragma once
// The audio library's contract, written once: the types, the constants and
// the list of exported calls. The library's declarations (bass/bass.h), the
// program's loader (core/bass_api.*), the tests' loader and bass.def are
// all generated from BASS_CALLS.
#include <windows.h>

#include <cstdint>

#include "bass/metronome_tempo.h"

typedef uint64_t QWORD;

struct BASS_DEVICEINFO {
    const char* name;
    const char* driver;
    DWORD flags;
};

typedef void CALLBACK SYNCPROC(DWORD handle, DWORD channel, DWORD data, void* user);

constexpr DWORD BASS_DEVICE_3D = 4;      // BASS_Init flag
constexpr DWORD BASS_DEVICE_ENABLED = 1; // BASS_DEVICEINFO flags
constexpr DWORD BASS_DEVICE_DEFAULT = 2;
constexpr DWORD BASS_DEVICE_INIT = 4;
constexpr DWORD BASS_ATTRIB_VOL = 2;
constexpr DWORD BASS_POS_BYTE = 0;
constexpr DWORD BASS_SYNC_END = 2;
constexpr DWORD BASS_SYNC_ONETIME = 0x80000000u;

// BASS_ErrorGetCode: the outcome of the calling thread's last call. Only
// an allocation failure is told apart from the other failures.
constexpr int BASS_OK = 0;
constexpr int BASS_ERROR_MEM = 1;
constexpr int BASS_ERROR_FILEOPEN = 2;  // the file cannot be opened
constexpr int BASS_ERROR_FILEFORM = 41; // the file opens but its audio cannot be decoded
constexpr int BASS_ERROR_UNKNOWN = -1;
// Reasons the mix recorder gives through BASS_ErrorGetCode.
constexpr int BASS_ERROR_INIT = 8;     // no output is open
constexpr int BASS_ERROR_ALREADY = 14; // a recording is already running
constexpr int BASS_ERROR_CREATE = 33;  // the file exists already or cannot be created

// The output mix as it goes to the device, written to a 16-bit PCM WAV
// file at the device's rate and channel count (calls of our own library
// only; the program finds them at run time and does without them).
struct BASS_MIXRECORDINFO {
    DWORD active;   // TRUE while frames are still being written
    DWORD stopped;  // why writing ended: one of BASS_MIXRECORD_*
    QWORD frames;   // frames in the file, header sizes included up to them
    DWORD overruns; // frames lost because the file writer fell behind
    DWORD freq;     // the file's rate
    DWORD chans;    // the file's channels
};
constexpr DWORD BASS_MIXRECORD_RUNNING = 0; // still active, or never started
constexpr DWORD BASS_MIXRECORD_ASKED = 1;   // BASS_MixRecordStop
constexpr DWORD BASS_MIXRECORD_FREED = 2;   // BASS_Free closed the output
constexpr DWORD BASS_MIXRECORD_WRITE = 3;   // a write failed (a full disk)
constexpr DWORD BASS_MIXRECORD_LIMIT = 4;   // the next frame would pass the 4 GiB a WAV can hold

// Exclusive output (calls of our own library only; the program finds them
// at run time and does without them). BASS_SetExclusive asks the BASS_Init
// calls that follow for a WASAPI stream of the device's own, or not;
// BASS_GetOutputMode tells what the open output is and, when exclusive was
// asked and not had, why.
struct BASS_OUTPUTMODE {
    DWORD mode;   // one of BASS_OUTPUT_*
    DWORD asked;  // TRUE when exclusive output was asked for at the open
    DWORD reason; // why exclusive was not had: one of BASS_EXCLUSIVE_*
    DWORD code;   // the HRESULT that refused it, 0 when none
    DWORD freq;   // the output's rate
    DWORD period; // frames the device takes at each wake-up
    // Milliseconds from a play call to the device's output at most, while
    // hits ring: the depth the hits' stream keeps ahead plus what the
    // device adds after its buffer (a hit from idle waits only the latter).
    DWORD hitMs;
};
constexpr DWORD BASS_OUTPUT_SHARED = 1;    // a WASAPI stream beside other programs'
constexpr DWORD BASS_OUTPUT_EXCLUSIVE = 2; // a WASAPI stream of the device's own
constexpr DWORD BASS_OUTPUT_WAVEOUT = 3;   // waveOut, where WASAPI did not open
constexpr DWORD BASS_EXCLUSIVE_HAD = 0;    // had, or not asked
constexpr DWORD BASS_EXCLUSIVE_BUSY = 1;   // another program holds the device (AUDCLNT_E_DEVICE_IN_USE)
constexpr DWORD BASS_EXCLUSIVE_FORMAT = 2; // no stereo format at the mix rate accepted (AUDCLNT_E_UNSUPPORTED_FORMAT)
constexpr DWORD BASS_EXCLUSIVE_NOT_ALLOWED = 3; // the system does not let programs take the device (0x8889000E)
constexpr DWORD BASS_EXCLUSIVE_OTHER = 4;       // another failure: `code` says which

// What the mix recorder placed in its file, in order: each hit, at the
// frame its first sound is in the file, and each beat of the metronome
// (BASS_MixRecordGetHits; calls of our own library only).
struct BASS_MIXRECORDHIT {
    QWORD frame;  // the file's frame it starts on
    DWORD handle; // the channel played, or BASS_MIXRECORD_BEAT
    float gain;   // a hit's gain, 1 for BASS_ChannelPlay; a beat's volume
    DWORD beat;   // a beat's place in its bar, 1 = the accented first; 0 for a hit
    DWORD beats;  // a beat's bar: beats in it
    float tempo;  // a beat's tempo, beats per minute
};
constexpr DWORD BASS_MIXRECORD_BEAT = 0; // no channel has this handle

// The metronome: a click made by the mixer on the device's own time, each
// beat on the frame its tempo gives, the first of each bar accented
// (higher and louder). Settings apply from the next beat; a start begins
// a bar. They and the running click outlast BASS_Free: the next BASS_Init
// starts it again with a new bar.
struct BASS_METRONOME {
    float tempo;  // beats per minute, BASS_METRONOME_TEMPO_MIN to _MAX
    DWORD beats;  // per bar, 1 to 12
    float volume; // 0 to 1
    DWORD record; // TRUE: the click goes into the mix recorder's file too; else it is heard only
};
constexpr int BASS_ERROR_ILLPARAM = 20; // a value out of its range

// Voices (calls of our own library only; the program finds them at run
// time and does without them). BASS_ChannelSetVoices lets a channel held
// in memory sound up to BASS_VOICES_MAX hits at once, sharing its decoded
// audio: each BASS_ChannelPlay(handle, TRUE) or BASS_ChannelPlayGain then
// starts a new voice while the earlier ones ring on, and one past the
// count steals the oldest with a fade of a few milliseconds. Pause, stop,
// BASS_ATTRIB_VOL and BASS_ChannelFadeOut act on every voice.
constexpr DWORD BASS_VOICES_MAX = 4;

// The decode budget (a call of our own library only; the program finds it
// at run time and does without it). BASS_SetDecodeBudget starts a new
// count for the streams created from then on: the decoded audio and file
// bytes they hold in memory may come to `bytes` in all (0: no limit), and
// a file that would pass it is refused with BASS_ERROR_MEM before its
// memory is taken. What earlier streams hold is not counted anew.

// X(return type, name, value of a failed call, parameters, arguments).
// bass.def is made from the names in this list by the build, which reads
// each entry from the "X(" that starts its line.
#define BASS_CALLS(X)                                                                                                  \
    X(BOOL, BASS_Init, FALSE, (int device, DWORD freq, DWORD flags, HWND win, const void* clsid),                      \
      (device, freq, flags, win, clsid))                                                                               \
    X(BOOL, BASS_Set3DFactors, FALSE, (float distf, float rollf, float doppf), (distf, rollf, doppf))                  \
    X(BOOL, BASS_GetDeviceInfo, FALSE, (DWORD device, BASS_DEVICEINFO * info), (device, info))                         \
    X(BOOL, BASS_Free, FALSE, (), ())                                                                                  \
    X(DWORD, BASS_StreamCreateFile, 0, (BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags),          \
      (mem, file, offset, length, flags))                                                                              \
    X(BOOL, BASS_SampleFree, FALSE, (DWORD handle), (handle))                                                          \
    X(BOOL, BASS_StreamFree, FALSE, (DWORD handle), (handle))                                                          \
    X(BOOL, BASS_ChannelPlay, FALSE, (DWORD handle, BOOL restart), (handle, restart))                                  \
    X(BOOL, BASS_ChannelPause, FALSE, (DWORD handle), (handle))                                                        \
    X(BOOL, BASS_ChannelStop, FALSE, (DWORD handle), (handle))                                                         \
    X(BOOL, BASS_ChannelGetAttribute, FALSE, (DWORD handle, DWORD attrib, float* value), (handle, attrib, value))      \
    X(BOOL, BASS_ChannelSetAttribute, FALSE, (DWORD handle, DWORD attrib, float value), (handle, attrib, value))       \
    X(QWORD, BASS_ChannelGetPosition, (QWORD)-1, (DWORD handle, DWORD mode), (handle, mode))                           \
    X(BOOL, BASS_ChannelSetPosition, FALSE, (DWORD handle, QWORD pos, DWORD mode), (handle, pos, mode))                \
    X(DWORD, BASS_ChannelSetSync, 0, (DWORD handle, DWORD type, QWORD param, SYNCPROC * proc, void* user),             \
      (handle, type, param, proc, user))                                                                               \
    X(int, BASS_ErrorGetCode, BASS_ERROR_UNKNOWN, (), ())                                                              \
    X(BOOL, BASS_MixRecordStart, FALSE, (const char* file), (file))                                                    \
    X(BOOL, BASS_MixRecordStop, FALSE, (BASS_MIXRECORDINFO * info), (info))                                            \
    X(BOOL, BASS_MixRecordGetInfo, FALSE, (BASS_MIXRECORDINFO * info), (info))                                         \
    X(BOOL, BASS_SetExclusive, FALSE, (BOOL on), (on))                                                                 \
    X(BOOL, BASS_GetOutputMode, FALSE, (BASS_OUTPUTMODE * info), (info))                                              \
    X(DWORD, BASS_MixRecordGetHits, 0, (BASS_MIXRECORDHIT * hits, DWORD first, DWORD max), (hits, first, max))        \
    X(BOOL, BASS_MetronomeSet, FALSE, (const BASS_METRONOME* m), (m))                                                \
    X(BOOL, BASS_MetronomeStart, FALSE, (BOOL on), (on))                                                               \
    X(BOOL, BASS_ChannelSetVoices, FALSE, (DWORD handle, DWORD count), (handle, count))                                \
    X(BOOL, BASS_ChannelPlayGain, FALSE, (DWORD handle, float gain), (handle, gain))                                   \
    X(DWORD, BASS_ChannelGetVoices, (DWORD)-1, (DWORD handle), (handle))                                               \
    X(BOOL, BASS_ChannelFadeOut, FALSE, (DWORD handle, DWORD ms), (handle, ms))                                    \
    X(BOOL, BASS_SetDecodeBudget, FALSE, (QWORD bytes), (bytes))
