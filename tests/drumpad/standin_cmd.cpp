// A command processor planted where a search by name would find it: it
// only leaves "ran.txt" beside itself, so a test can tell it was started.
#include <windows.h>

int main()
{
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    while (length && path[length - 1] != '\\')
        length--;
    lstrcpyA(path + length, "ran.txt");
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    return 0;
}
