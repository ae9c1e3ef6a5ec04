#include "ui/system_library.h"

#include <string>

HMODULE LoadSystemLibrary(const char* name)
{
    if (HMODULE dll = LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return dll;
    if (GetLastError() != ERROR_INVALID_PARAMETER)
        return NULL;
    // Windows 7 without the update that knows the flag: by full path.
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return NULL;
    return LoadLibraryExA((std::string(folder, n) + "\\" + name).c_str(), NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
