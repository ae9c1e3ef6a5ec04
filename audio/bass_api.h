#pragma once
// The program's side of the audio library: bass.dll is loaded from the
// program directory on first use and every function is looked up by name.
// A function the library lacks behaves as a failing call (silence).
#include <windows.h>

#include <cstdint>

using QWORD = uint64_t;

struct BASS_DEVICEINFO {
    const char* name;
    const char* driver;
    DWORD flags;
};

using SYNCPROC = void(CALLBACK*)(DWORD sync, DWORD channel, DWORD data, void* user);

constexpr DWORD BASS_DEVICE_3D = 4;
constexpr DWORD BASS_ATTRIB_VOL = 2;
constexpr DWORD BASS_POS_BYTE = 0;
constexpr DWORD BASS_SYNC_END = 2;

BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* clsid);
BOOL BASS_Set3DFactors(float distf, float rollf, float doppf);
BOOL BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
BOOL BASS_Free();
DWORD BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
BOOL BASS_SampleFree(DWORD handle);
BOOL BASS_StreamFree(DWORD handle);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
BOOL BASS_ChannelPause(DWORD handle);
BOOL BASS_ChannelStop(DWORD handle);
BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value);
BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);
DWORD BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC proc, void* user);
