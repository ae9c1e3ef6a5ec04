#pragma once
// The system-wide low-level keyboard hook: while the main window is in
// front it plays the letters, hands every other key of its rows
// (app/key_rows.h) to the command dispatcher, and swallows the keys.
#include <windows.h>

extern HHOOK KeyboardHook;

void InstallKeyboardHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record);
