#pragma once
// A DLL of Windows loaded from the system folder only: the program runs
// elevated, and a DLL under a system DLL's name in the program's or the
// current folder must never be loaded in its place.
#include <windows.h>

// Null when the system folder lacks it.
HMODULE LoadSystemLibrary(const char* name);
