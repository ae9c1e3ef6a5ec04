#pragma once
// The library's functions looked up from bass.dll beside the test program,
// by full path and plain name, the way the program itself does it.
#include "bass/bass.h"

#include <string>

struct BassApi {
    HMODULE Module = nullptr;
    decltype(&BASS_Init) Init = nullptr;
    decltype(&BASS_Set3DFactors) Set3DFactors = nullptr;
    decltype(&BASS_GetDeviceInfo) GetDeviceInfo = nullptr;
    decltype(&BASS_Free) Free = nullptr;
    decltype(&BASS_StreamCreateFile) StreamCreateFile = nullptr;
    decltype(&BASS_SampleFree) SampleFree = nullptr;
    decltype(&BASS_StreamFree) StreamFree = nullptr;
    decltype(&BASS_ChannelPlay) ChannelPlay = nullptr;
    decltype(&BASS_ChannelPause) ChannelPause = nullptr;
    decltype(&BASS_ChannelStop) ChannelStop = nullptr;
    decltype(&BASS_ChannelGetAttribute) ChannelGetAttribute = nullptr;
    decltype(&BASS_ChannelSetAttribute) ChannelSetAttribute = nullptr;
    decltype(&BASS_ChannelGetPosition) ChannelGetPosition = nullptr;
    decltype(&BASS_ChannelSetPosition) ChannelSetPosition = nullptr;
    decltype(&BASS_ChannelSetSync) ChannelSetSync = nullptr;
    decltype(&BASS_ErrorGetCode) ErrorGetCode = nullptr;
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
    api->Module = LoadLibraryA(path.c_str());
    if (!api->Module)
        return false;
    bool ok = true;
    auto get = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
            reinterpret_cast<void*>(GetProcAddress(api->Module, name)));
        ok = ok && fn;
    };
    get(api->Init, "BASS_Init");
    get(api->Set3DFactors, "BASS_Set3DFactors");
    get(api->GetDeviceInfo, "BASS_GetDeviceInfo");
    get(api->Free, "BASS_Free");
    get(api->StreamCreateFile, "BASS_StreamCreateFile");
    get(api->SampleFree, "BASS_SampleFree");
    get(api->StreamFree, "BASS_StreamFree");
    get(api->ChannelPlay, "BASS_ChannelPlay");
    get(api->ChannelPause, "BASS_ChannelPause");
    get(api->ChannelStop, "BASS_ChannelStop");
    get(api->ChannelGetAttribute, "BASS_ChannelGetAttribute");
    get(api->ChannelSetAttribute, "BASS_ChannelSetAttribute");
    get(api->ChannelGetPosition, "BASS_ChannelGetPosition");
    get(api->ChannelSetPosition, "BASS_ChannelSetPosition");
    get(api->ChannelSetSync, "BASS_ChannelSetSync");
    get(api->ErrorGetCode, "BASS_ErrorGetCode");
    return ok;
}
