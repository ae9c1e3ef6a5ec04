#pragma once
// Background music: one main track opened from the menu, and ten custom
// slots bound to the digit keys whose files are remembered in Config.ini.
#include <windows.h>

#include "core/direction.h"
#include "core/window_ids.h"

#include <cstdint>
#include <string>

constexpr int kMusicSlotCount = 10;

// Play states of the main track.
enum MusicState : int { kMusicEnded = 0, kMusicPlaying = 1, kMusicPaused = 2 };

// States of a slot: no stream yet, playing, paused or ready to play.
enum SlotState : int { kSlotEmpty = 0, kSlotPlaying = 1, kSlotReady = 2 };

struct MusicTrack {
    DWORD stream = 0;
    std::string file;
    MusicState playState = kMusicEnded;
    bool loop = false;
};

struct MusicSlot {
    std::string file;
    DWORD stream = 0;
    SlotState state = kSlotEmpty;
};

// The player's whole state.
struct MusicPlayer {
    MusicTrack track;
    // Slots 1..10 (slot 10 is key 0); entry 0 is unused.
    MusicSlot slots[kMusicSlotCount + 1];
    // Byte positions a card switch carries over to the new device.
    uint64_t savedTrackPosition = 0;
    uint64_t savedSlotPositions[kMusicSlotCount + 1] = {};
};

const MusicPlayer& Music();
// Back to the start of a run: every stream stopped and forgotten, nothing
// chosen, no repeat, the menu's captions as built. For tests.
void ResetMusicPlayer();

void OpenMusic();
void TogglePlayPause();
void ToggleLoop();
// By 0.01 on every music stream.
void ChangeMusicVolume(VolumeDirection direction);
// By 500000 bytes.
void SeekMusic(bool forward);
void PressMusicSlot(int slot);
// F5: asks first, clears the slot names on Yes.
void AskClearMusicSlots();
void ClearMusicSlots();
void StopMusicSlots();
// Start-up: the slots from Config.ini, ready and silent; no repeat.
void LoadMusicSlots();
// Halves of the sound-card switch: before the engine is freed, and after
// it is open on the new card with the kit reloaded.
void SaveMusicPositions();
void RestoreMusicAfterDeviceChange();
// Carries out a WM_MUSIC_END on the user-interface thread.
void OnMusicEnd(DWORD channel);
