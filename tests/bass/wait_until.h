#pragma once
// Polls a condition the library changes on its own thread, up to a deadline.
#include <windows.h>

template <class F>
bool WaitUntil(F done, DWORD ms = 10000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(1);
    }
    return true;
}
