#pragma once
// The system-wide low-level keyboard hook: while the main window is in
// front it routes the letters to the drum pad and the music keys to the
// music, and swallows them.
#include <windows.h>

// Posted to the main window by the hook for Home and End (wParam: the
// virtual key): a kit load inside the hook call would hold up every key of
// the system, and Windows drops a hook whose calls keep timing out.
constexpr UINT WM_KIT_KEY = WM_APP + 0x33;

extern HHOOK KeyboardHook;

void InstallKeyboardHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record);
