// A stand-in audio library with the later calls the drum pad uses when it
// finds them (voices, a hit's own gain, a fade-out) and the refusal of a
// file it cannot decode. It logs every call on a channel, in order, for
// the test to read; "bad" in a file's name makes it undecodable, "big" one
// past the kit's decode budget.
#include "bass/bass_calls.h"

#include <cstdio>
#include <string>

namespace {

DWORD NextHandle = 100;
int LastError = 0;
std::string Log;

void Note(const char* name, DWORD handle, const std::string& more = "")
{
    Log += std::string(name) + "(" + std::to_string(handle) + more + ");";
}

} // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI BASS_Init(int, DWORD, DWORD, HWND, const void*)
{
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_Free()
{
    return TRUE;
}

__declspec(dllexport) DWORD WINAPI BASS_StreamCreateFile(BOOL, const void* file, QWORD, QWORD, DWORD)
{
    if (std::string((const char*)file).find("bad") != std::string::npos) {
        LastError = 41; // BASS_ERROR_FILEFORM
        return 0;
    }
    if (std::string((const char*)file).find("big") != std::string::npos) {
        LastError = 1; // BASS_ERROR_MEM
        return 0;
    }
    LastError = 0;
    return NextHandle++;
}

__declspec(dllexport) int WINAPI BASS_ErrorGetCode()
{
    return LastError;
}

__declspec(dllexport) BOOL WINAPI BASS_SampleFree(DWORD)
{
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_ChannelSetAttribute(DWORD, DWORD, float)
{
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart)
{
    Note("Play", handle);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_ChannelPause(DWORD handle)
{
    Note("Pause", handle);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_ChannelPlayGain(DWORD handle, float gain)
{
    char text[32];
    std::snprintf(text, sizeof text, ", %.3f", gain);
    Note("PlayGain", handle, text);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_ChannelSetVoices(DWORD handle, DWORD count)
{
    Note("SetVoices", handle, ", " + std::to_string(count));
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_ChannelFadeOut(DWORD handle, DWORD ms)
{
    Note("FadeOut", handle, ", " + std::to_string(ms));
    return TRUE;
}

__declspec(dllexport) const char* WINAPI ScriptTakeLog()
{
    static std::string taken;
    taken = Log;
    Log.clear();
    return taken.c_str();
}
}
