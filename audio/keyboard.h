#pragma once
// The drum pad: a system-wide low-level keyboard hook that plays the kit
// while the main window is in front, and the repeat-hit option.
#include <windows.h>

#include <string>

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
