#pragma once
// Every message the program posts to its own main window and every timer
// of that window, in one list so that no two share a number. (The window
// framework's own creation message, WM_WINDOW_CREATED, is WM_USER-based
// and lives with the framework.)
#include <windows.h>

// From the audio library's thread: the main track ended; wParam the channel.
constexpr UINT WM_MUSIC_END = WM_APP + 0x31;
// From the keyboard hook: a key whose row runs on the window's thread;
// wParam the virtual key, lParam its edge (KeyEdge).
constexpr UINT WM_HOOK_KEY = WM_APP + 0x32;
// Start-up has connected the dispatcher: the keys held until then run now.
constexpr UINT WM_HELD_KEYS = WM_APP + 0x33;

// The periodic notice check (every 200 s) and the recorder's label clock.
constexpr UINT_PTR kNoticeTimerId = 4301;
constexpr UINT_PTR kRecordTimerId = 4302;
