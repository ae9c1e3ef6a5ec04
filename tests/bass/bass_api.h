#pragma once
// The library's functions looked up from bass.dll beside the test program,
// by full path and plain name, the way the program itself does it.
#include "bass/bass.h"

#include <string>

struct BassApi {
    HMODULE module = nullptr;
#define BASS_API_MEMBER(ret, name, failure, params, args) ret(WINAPI* name) params = nullptr;
    BASS_CALLS(BASS_API_MEMBER)
#undef BASS_API_MEMBER
};

inline std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// Loads bass.dll from the program's folder; false when it or an export is missing.
inline bool LoadBass(BassApi* api)
{
    std::string path = ProgramFolder() + "bass.dll";
    api->module = LoadLibraryA(path.c_str());
    if (!api->module)
        return false;
    bool ok = true;
#define BASS_API_LOOKUP(ret, name, failure, params, args)                                                              \
    api->name = reinterpret_cast<ret(WINAPI*) params>(reinterpret_cast<void*>(GetProcAddress(api->module, #name)));    \
    ok = ok && api->name;
    BASS_CALLS(BASS_API_LOOKUP)
#undef BASS_API_LOOKUP
    return ok;
}
