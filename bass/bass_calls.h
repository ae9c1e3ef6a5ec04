#pragma once
// The audio library's contract, written once: the types, the constants and
// the list of exported calls. The library's declarations (bass/bass.h), the
// program's loader (audio/bass_api.*), the tests' loader and bass.def are
// all generated from BASS_CALLS.
#include <windows.h>

#include <cstdint>

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
constexpr int BASS_ERROR_UNKNOWN = -1;

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
    X(int, BASS_ErrorGetCode, BASS_ERROR_UNKNOWN, (), ())
