#pragma once
// The system-wide low-level keyboard hook: while the main window is in
// front it plays the letters, hands every other key of its rows
// (app/key_rows.h) to the command dispatcher, and swallows the keys.
#include <windows.h>

// Installs the hook on a thread of its own (removing one installed before).
void InstallKeyboardHook();
// Unhooks and ends the hook's thread: back to the start of a run.
void RemoveKeyboardHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record);
// What the hook's thread does after each call: posts the lights of the
// letters played meanwhile to the window, so that the call itself, which
// holds every key of the system, only plays.
void PostPadLights();
