#pragma once
// Background music: one main track opened from the menu, and ten custom
// slots bound to the digit keys whose files are remembered in Config.ini.
#include <windows.h>

#include "core/direction.h"

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

extern MusicTrack MainTrack;
// Slots 1..10 (slot 10 is key 0); entry 0 is unused.
extern MusicSlot MusicSlots[kMusicSlotCount + 1];

// Posted to the main window by the end notification, which arrives on the
// audio library's thread; wParam carries the channel that ended.
constexpr UINT WM_MUSIC_END = WM_APP + 0x31;
// Posted by the keyboard hook for the keys that may open a dialog or a box
// (Insert, the digits, F5); wParam carries the virtual key.
constexpr UINT WM_MUSIC_KEY = WM_APP + 0x32;

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
void LoadMusicSlots();
// Halves of the sound-card switch: before the engine is freed, and after
// it is open on the new card with the kit reloaded.
void SaveMusicPositions();
void RestoreMusicAfterDeviceChange();
// Carries out a WM_MUSIC_END on the user-interface thread.
void OnMusicEnd(DWORD channel);
// Hands a key over to OnMusicKey after the keyboard hook has returned: a
// modal dialog inside a low-level hook call gets no keys under Wine, and
// Windows removes a hook whose call takes too long.
void DeferMusicKey(DWORD vk);
void OnMusicKey(DWORD vk);
