#pragma once
// A key's hit: the loaded kit's sample for it (or the next of its takes),
// the hi-hat choke or the kit's own choke groups, soft notes, and the
// options that decide how held keys and repeated hits sound.
#include "drumpad/key_map_rules.h"

#include <array>
#include <cstdint>
#include <string>

// A soft note's gain: -10 dB, about a third of a plain hit's loudness.
constexpr float kSoftNoteGain = 0.316f;

// Restarts the last sample whose file name begins with `name` (any case),
// unless the play lock is set. Whether it was played.
bool PlaySample(const std::string& name);
// A letter key's press, 'A'..'Z', at `gain` times the kit volume (1 for a
// plain hit, kSoftNoteGain for a soft one): what the letter chokes in the
// loaded kit is silenced first (H, J, K and L the hi-hats, unless the kit
// has groups of its own), then the letter's file, or its next take,
// plays. Whether it was played.
bool HitLetter(char letter, float gain = 1.0f);
// The file name of the sample HitLetter plays first for 'A'..'Z' in the
// loaded kit; empty when the kit has none.
std::string LetterSampleFile(char letter);
// The loaded kit's chokes by letter, bit j of entry l: a hit of letter l
// silences a sound of letter j, as HitLetter does it.
std::array<uint32_t, kLetters> LetterChokes();
// Told every key event the hook acts on: with the repeat-hit option on, a
// press sets the play lock and a release clears it.
void NoteKeyForPlayLock(bool pressed);
void LoadRepeatHitOption();
void ToggleRepeatHit();
// [选项] 重复敲击 as read or toggled: 1 = a held key or a second key sounds
// only once; any other value acts as off.
int RepeatHitOption();
bool PlayLocked();

// [选项] 余音叠加: each kit sample gets 4 voices, so a new hit rings over
// the earlier ones (with a library that can; else each keeps one voice).
void LoadPlayOptions();
void ToggleRingOver();
bool RingOverOption();
// Gives channel its voices as the ring-over option wants them.
void SetSampleVoices(uint32_t channel);
// [选项] 按住只响一次: the keyboard hook ignores a held letter's auto-repeat.
void ToggleHoldOnce();
bool HoldOnceOption();
