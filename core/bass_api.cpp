#include "core/bass_api.h"

#include "core/exclusive_output.h"
#include "core/program.h"

namespace {

int OpenedCard = -1;

// Resolved once, on the first call, from Program().ProgramDir + "bass.dll" only:
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
        std::string path = Program().ProgramDir + "bass.dll";
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

} // namespace

// Each entry point is looked up once; a missing one answers like a failure.
#define BASS_DEFINE_CALL(ret, name, failure, params, args)                                                             \
    ret name params                                                                                                    \
    {                                                                                                                  \
        using Fn = ret(WINAPI*) params;                                                                                \
        static Fn fn = Lookup<Fn>(#name);                                                                              \
        return fn ? fn args : failure;                                                                                 \
    }

BASS_CALLS(BASS_DEFINE_CALL)
#undef BASS_DEFINE_CALL

bool HasBassCall(const char* name)
{
    return Lookup<FARPROC>(name) != nullptr;
}

BOOL OpenEngine(int card)
{
    OpenedCard = card;
    // Asked at every open, so the reopen of a kit removal keeps the mode too.
    if (CanAskExclusive())
        BASS_SetExclusive(ExclusiveWished());
    return BASS_Init(card, 44100, BASS_DEVICE_3D, Program().MainWindow.GetHandle(), NULL);
}

int EngineCard()
{
    return OpenedCard;
}
