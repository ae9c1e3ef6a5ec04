#pragma once
// The metronome: the audio library's click, started and stopped by F8 and
// the item 节拍器(&J) (checked while it runs), its tempo tapped on F9, its
// settings in a small dialog (节拍器设置(&N)…) and in Config.ini's
// [节拍器]. The library's metronome calls are its own later exports:
// without them both items are greyed and the keys do nothing.
#include <windows.h>

// After the menus are built: the stored settings handed to the library.
void LoadMetronome();
bool IsMetronomeRunning();
void ToggleMetronome();
// F9, on the window's thread: the tap's time is that of the posted key.
void TapMetronomeTempo();
void OpenMetronomeSettings();
