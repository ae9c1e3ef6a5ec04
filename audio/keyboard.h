#pragma once
// The drum pad: a system-wide low-level keyboard hook that plays the kit
// while the main window is in front, and the repeat-hit option.
#include <windows.h>

#include <string>

// Posted to the main window by the hook for Home and End (wParam: the
// virtual key): a kit load inside the hook call would hold up every key of
// the system, and Windows drops a hook whose calls keep timing out.
constexpr UINT WM_KIT_KEY = WM_APP + 0x33;

extern HHOOK KeyboardHook;
// [选项] 重复敲击: 1 = a held key or a second key sounds only once.
extern int RepeatHitOption;
// While set, PlaySample plays nothing.
extern bool PlayLock;

void InstallKeyboardHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record);
// Restarts the last sample whose file name begins with `name` (any case).
void PlaySample(const std::string& name);
// Pauses every sample of the hi-hat family (names holding h, j, k or l).
void MuteChokeGroup();
void LoadRepeatHitOption();
void ToggleRepeatHit();
