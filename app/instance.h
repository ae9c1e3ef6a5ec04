#pragma once
// Only one copy runs: a named event marks the running copy for as long as
// its process lives.
#include <windows.h>

#include <string>

// Returns only in the first copy; a later copy tells the user, brings the
// running copy's window forward and ends inside the call.
void EnsureSingleInstance(const char* name, bool showMessage, const char* text, UINT style, bool bringForward);
// Id of the first process in the system's list whose executable name
// equals exeName without regard to case; 0 when none does.
DWORD FindProcessByExeName(const std::string& exeName);
// A visible top-level window of the process, searched for a few seconds
// while this thread's messages keep running; NULL when none appears.
HWND FindVisibleWindowOfProcess(DWORD processId);
// Restored (also from minimised), activated, kept out of the topmost band.
void BringWindowForward(HWND window);
