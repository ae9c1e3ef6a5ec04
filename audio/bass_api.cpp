#include "audio/bass_api.h"

#include "app/app.h"

namespace {

// Resolved once, on the first call, from ProgramDir + "bass.dll" only:
// never from the search path, where another copy could be found.
struct Library {
    HMODULE module = NULL;
    bool loaded = false;
};

Library& TheLibrary()
{
    static Library library;
    if (!library.loaded) {
        library.loaded = true;
        std::string path = ProgramDir + "bass.dll";
        library.module = LoadLibraryExA(path.c_str(), NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return library;
}

template <typename Fn>
Fn Lookup(const char* name)
{
    HMODULE module = TheLibrary().module;
    return module ? (Fn)(void*)GetProcAddress(module, name) : nullptr;
}

// Each entry point is looked up once; a missing one answers like a failure.
#define BASS_CALL(ret, name, failure, params, args)                          \
    ret name params                                                          \
    {                                                                        \
        using Fn = ret(WINAPI*) params;                                      \
        static Fn fn = Lookup<Fn>(#name);                                    \
        return fn ? fn args : failure;                                       \
    }

} // namespace

BASS_CALL(BOOL, BASS_Init, FALSE, (int device, DWORD freq, DWORD flags, HWND win, const void* clsid),
          (device, freq, flags, win, clsid))
BASS_CALL(BOOL, BASS_Set3DFactors, FALSE, (float distf, float rollf, float doppf), (distf, rollf, doppf))
BASS_CALL(BOOL, BASS_GetDeviceInfo, FALSE, (DWORD device, BASS_DEVICEINFO* info), (device, info))
BASS_CALL(BOOL, BASS_Free, FALSE, (), ())
BASS_CALL(DWORD, BASS_StreamCreateFile, 0, (BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags),
          (mem, file, offset, length, flags))
BASS_CALL(BOOL, BASS_SampleFree, FALSE, (DWORD handle), (handle))
BASS_CALL(BOOL, BASS_StreamFree, FALSE, (DWORD handle), (handle))
BASS_CALL(BOOL, BASS_ChannelPlay, FALSE, (DWORD handle, BOOL restart), (handle, restart))
BASS_CALL(BOOL, BASS_ChannelPause, FALSE, (DWORD handle), (handle))
BASS_CALL(BOOL, BASS_ChannelStop, FALSE, (DWORD handle), (handle))
BASS_CALL(BOOL, BASS_ChannelGetAttribute, FALSE, (DWORD handle, DWORD attrib, float* value), (handle, attrib, value))
BASS_CALL(BOOL, BASS_ChannelSetAttribute, FALSE, (DWORD handle, DWORD attrib, float value), (handle, attrib, value))
BASS_CALL(QWORD, BASS_ChannelGetPosition, (QWORD)-1, (DWORD handle, DWORD mode), (handle, mode))
BASS_CALL(BOOL, BASS_ChannelSetPosition, FALSE, (DWORD handle, QWORD pos, DWORD mode), (handle, pos, mode))
BASS_CALL(DWORD, BASS_ChannelSetSync, 0, (DWORD handle, DWORD type, QWORD param, SYNCPROC proc, void* user),
          (handle, type, param, proc, user))
