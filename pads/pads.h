#pragma once
// The pads on the main window: the 26 letter keys around the label, each
// with the name of its sample in the loaded kit (dimmed without one), lit
// by every hit, played by a left click; a line along the bottom says what
// the output is doing. An item of 鼓源设定 shows and hides them
// ([选项] 显示键盘); hidden, the window is plain.
#include <windows.h>

#include <cstdint>

// Start-up, once the window, its label and the kit menu's last item exist
// and before the first kit loads: the stored choice and its check mark.
void StartPads();
// The menu item: shows or hides the pads and stores the choice.
void TogglePads();
// Read on the keyboard hook's thread: a hit is posted only while shown.
bool PadsShown();
// The main window's messages the pads answer (painting, clicks, their
// fade's timer, WM_PAD_HIT, WM_KIT_LOADED); 0 for every other message,
// and for all while the pads are hidden except that they still note kit
// loads.
LRESULT PadsMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Bit i: the pad of 'A' + i is lit, or dimmed (no sample).
uint32_t LitPads();
uint32_t DimmedPads();
