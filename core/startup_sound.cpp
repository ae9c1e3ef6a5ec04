#include "core/engine.h"

#include <windows.h>
#include <mmsystem.h>

void PlayStartupSound()
{
    // The chime is a WAV file held as a resource of the executable; resource
    // memory lives as long as the module, as an asynchronous play needs.
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC found = FindResourceA(module, "STARTUP_SOUND", RT_RCDATA);
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    const void* wave = loaded ? LockResource(loaded) : nullptr;
    if (wave)
        PlaySoundA((LPCSTR)wave, NULL, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
}
