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
// Start-up has connected the dispatcher: the keys queued until then run now.
constexpr UINT WM_QUEUED_KEYS = WM_APP + 0x33;
// From the keyboard hook's thread, after letters' samples were played:
// light their pads; wParam the letters, bit i for 'A' + i.
constexpr UINT WM_PAD_HIT = WM_APP + 0x34;
// A kit load has ended (the sample table is the new kit's).
constexpr UINT WM_KIT_LOADED = WM_APP + 0x35;

// The periodic notice check (every 200 s), the recorder's label clock and
// the pads' fade.
constexpr UINT_PTR kNoticeTimerId = 4301;
constexpr UINT_PTR kRecordTimerId = 4302;
// Runs only while a pad's light fades.
constexpr UINT_PTR kPadsTimerId = 4303;
