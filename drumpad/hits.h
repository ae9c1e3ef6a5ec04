#pragma once
// A key's hit: the loaded kit's sample for it, the hi-hat choke, and the
// repeat-hit option that lets a held key sound only once.
#include <string>

// [选项] 重复敲击: 1 = a held key or a second key sounds only once.
extern int RepeatHitOption;
// While set, PlaySample plays nothing.
extern bool PlayLock;

// Restarts the last sample whose file name begins with `name` (any case).
void PlaySample(const std::string& name);
// Pauses every sample of the hi-hat family (names holding h, j, k or l).
void MuteChokeGroup();
void LoadRepeatHitOption();
void ToggleRepeatHit();
