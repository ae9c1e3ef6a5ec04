#pragma once
// The audio library's exported functions as the program calls them,
// declared from the program's side of the contract.
#include <windows.h>

typedef unsigned long long QWORD;

struct BASS_DEVICEINFO {
    const char* name;
    const char* driver;
    DWORD flags;
};

typedef void CALLBACK SYNCPROC(DWORD handle, DWORD channel, DWORD data, void* user);

enum : DWORD {
    BASS_DEVICE_ENABLED = 1,
    BASS_DEVICE_DEFAULT = 2,
    BASS_DEVICE_INIT = 4,
    BASS_ATTRIB_VOL = 2,
    BASS_POS_BYTE = 0,
    BASS_SYNC_END = 2,
    BASS_SYNC_ONETIME = 0x80000000u,
};

// BASS_ErrorGetCode: the outcome of the calling thread's last call. Only
// an allocation failure is told apart from the other failures.
enum : int {
    BASS_OK = 0,
    BASS_ERROR_MEM = 1,
    BASS_ERROR_UNKNOWN = -1,
};

extern "C" {
BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* clsid);
BOOL WINAPI BASS_Set3DFactors(float distf, float rollf, float doppf);
BOOL WINAPI BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
BOOL WINAPI BASS_Free();
DWORD WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
BOOL WINAPI BASS_SampleFree(DWORD handle);
BOOL WINAPI BASS_StreamFree(DWORD handle);
BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart);
BOOL WINAPI BASS_ChannelPause(DWORD handle);
BOOL WINAPI BASS_ChannelStop(DWORD handle);
BOOL WINAPI BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value);
BOOL WINAPI BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
QWORD WINAPI BASS_ChannelGetPosition(DWORD handle, DWORD mode);
BOOL WINAPI BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);
DWORD WINAPI BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
int WINAPI BASS_ErrorGetCode();
}
