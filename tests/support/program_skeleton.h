#pragma once
// The program as start-up builds it, for in-process tests: a program
// directory in the temporary folder, then the main window, its label, the
// audio engine and the menus made by the program's own steps in start-up's
// order. Kits, Config.ini and the rest are each test's own.
#include <windows.h>

#include <string>

// Makes `folder` (with a trailing backslash) Program().ProgramDir and returns it.
// With `audio`, the audio library is copied into it and traces to its
// trace.txt.
std::string MakeProgramDir(const std::string& folder, bool audio);

// The main window with its label (none when `welcome` is null), the engine
// (with `audio`), the menus, and, with `dispatch`, commands going through
// the dispatcher (without it, the window stands as before start-up
// connects the dispatcher).
void BuildMainWindow(const char* welcome, bool audio, bool dispatch = true);

// A key event of `message` (WM_KEYDOWN, WM_KEYUP...) handed to the
// keyboard hook's procedure as the system hands it, followed by what the
// hook's thread does after each call; the procedure's answer.
LRESULT HookKey(DWORD vk, WPARAM message);
