#pragma once
// A key's hit: the loaded kit's sample for it, the hi-hat choke, and the
// repeat-hit option that lets a held key sound only once.
#include <string>

// Restarts the last sample whose file name begins with `name` (any case),
// unless the play lock is set. Whether it was played.
bool PlaySample(const std::string& name);
// Pauses every sample of the hi-hat family (names holding h, j, k or l).
void MuteChokeGroup();
// A letter key's press, 'A'..'Z': H, J, K and L choke the hi-hats first.
// Whether the letter's sample was played.
bool HitLetter(char letter);
// The file name of the sample HitLetter plays for 'A'..'Z' in the loaded
// kit; empty when the kit has none.
std::string LetterSampleFile(char letter);
// Told every key event the hook acts on: with the repeat-hit option on, a
// press sets the play lock and a release clears it.
void NoteKeyForPlayLock(bool pressed);
void LoadRepeatHitOption();
void ToggleRepeatHit();
// [选项] 重复敲击 as read or toggled: 1 = a held key or a second key sounds
// only once; any other value acts as off.
int RepeatHitOption();
bool PlayLocked();
