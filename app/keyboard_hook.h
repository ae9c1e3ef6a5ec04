#pragma once
// The system-wide low-level keyboard hook: while the main window is in
// front it plays the letters, hands every other key of its rows
// (app/key_rows.h) to the command dispatcher, and swallows the keys.
#include <windows.h>

// Installs the hook on a thread of its own (removing one installed before).
// When the thread or the hook cannot be had, the user is told once, and
// the program runs on without it: the menus and the pads still work.
void InstallKeyboardHook();
// The system's calls the hook is started with; a test hands in ones that fail.
struct HookStartCalls {
    decltype(&CreateThread) createThread = CreateThread;
    decltype(&SetWindowsHookExA) setHook = SetWindowsHookExA;
};
void UseHookStartCalls(const HookStartCalls& calls);
// Unhooks and ends the hook's thread: back to the start of a run.
void RemoveKeyboardHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record);
// What the hook's thread does after each call: posts the lights of the
// letters played meanwhile to the window, so that the call itself, which
// holds every key of the system, only plays.
void PostPadLights();
