#pragma once
// The system-wide low-level keyboard hook: while the main window is in
// front it routes the letters to the drum pad, the music keys to the
// music and F7 to the recorder, and swallows them.
#include <windows.h>

// Posted to the main window by the hook for Home and End (wParam: the
// virtual key): a kit load inside the hook call would hold up every key of
// the system, and Windows drops a hook whose calls keep timing out.
constexpr UINT WM_KIT_KEY = WM_APP + 0x33;
// Posted for F7: starting a recording creates a folder and a file, which
// has no place inside the hook call either.
constexpr UINT WM_RECORD_KEY = WM_APP + 0x34;

extern HHOOK KeyboardHook;

void InstallKeyboardHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record);
