// A stand-in audio library that answers the wish for exclusive output as a
// test tells it: had, or refused for a given reason with a given fall-back.
// The real library is refused only by a device that is busy, picky or
// locked; here the program's answer to each is checked. It logs the calls
// that open and close the output, in order, for the test to read.
#include "bass/bass_calls.h"

#include <string>

namespace {

bool Open = false;
bool Asked = false;
BASS_OUTPUTMODE Refused = {BASS_OUTPUT_SHARED, TRUE, BASS_EXCLUSIVE_BUSY, 0x8889000Au, 44100, 441};
bool Grant = false;
std::string Log;

} // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI BASS_Init(int device, DWORD, DWORD, HWND, const void*)
{
    Log += "Init(" + std::to_string(device) + ");";
    Open = true;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_Free()
{
    Log += "Free;";
    bool was = Open;
    Open = false;
    return was;
}

__declspec(dllexport) BOOL WINAPI BASS_SetExclusive(BOOL on)
{
    Log += std::string("SetExclusive(") + (on ? "1" : "0") + ");";
    Asked = on != FALSE;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_GetOutputMode(BASS_OUTPUTMODE* info)
{
    if (!Open || !info)
        return FALSE;
    if (!Asked)
        *info = {BASS_OUTPUT_SHARED, FALSE, BASS_EXCLUSIVE_HAD, 0, 44100, 441};
    else if (Grant)
        *info = {BASS_OUTPUT_EXCLUSIVE, TRUE, BASS_EXCLUSIVE_HAD, 0, 48000, 144};
    else
        *info = Refused;
    return TRUE;
}

__declspec(dllexport) int WINAPI BASS_ErrorGetCode()
{
    return BASS_OK;
}

// The test's side: how the next opens answer a wish, and the calls so far.
__declspec(dllexport) void WINAPI ScriptGrant()
{
    Grant = true;
}

__declspec(dllexport) void WINAPI ScriptRefuse(DWORD mode, DWORD reason, DWORD code)
{
    Grant = false;
    Refused = {mode, TRUE, reason, code, 44100, 441};
}

__declspec(dllexport) const char* WINAPI ScriptTakeLog()
{
    static std::string taken;
    taken = Log;
    Log.clear();
    return taken.c_str();
}
}
