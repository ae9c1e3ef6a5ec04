// A stand-in for an audio library from before the recorder: it exports one
// of the library's calls and none of the recorder's.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI BASS_ErrorGetCode()
{
    return 0;
}
