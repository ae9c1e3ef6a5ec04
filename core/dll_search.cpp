#include "core/dll_search.h"

#include <windows.h>

bool RestrictDllSearch()
{
    SetDllDirectoryA("");
    // Looked up, not imported: Windows 7 has it only with an update.
    using SetDefault = BOOL(WINAPI*)(DWORD);
    auto setDefault =
        (SetDefault)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    return setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
