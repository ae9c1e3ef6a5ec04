#pragma once
// Every key the keyboard hook acts on while the main window is in front,
// one row each: the key (or a run of keys), whether it acts on press or on
// release, and the menu command it shares or its own action. A letter plays
// inside the hook call, on the hook's own thread; every other row is posted
// to the window's thread and runs there after the hook has returned (a box,
// a dialog, a kit load, a menu change or a Config.ini write has no place in
// the hook call). No windows.h: the rows are checked natively.
#include "core/command_table.h"

#include <cstdint>

enum class KeyEdge : uint8_t { Press, Release };

// What a key does that no menu item does; kCommand runs the row's entry
// through the menu's own action row.
enum class KeyAction : uint8_t {
    kCommand,
    kPlayLetter, // the one action of the hook call itself, never posted
    kPreviousKit,
    kNextKit,
    kMusicSlot,
    kAskClearSlots,
    kStopSlots,
    kTapTempo,
};

struct KeyRow {
    uint32_t firstVk, lastVk;
    KeyEdge edge;
    KeyAction action;
    CommandEntry entry; // kCommand rows only
};

// The row of a key event, or null when the key only gets swallowed.
const KeyRow* FindKeyRow(uint32_t vk, KeyEdge edge);
// The ten keys that still reach the window (Tab, Alt, Enter, F4, the
// arrows, Esc), for press and release alike.
bool IsPassThroughKey(uint32_t vk);
// Slot of a digit key: '1'..'9' are 1..9, '0' is 10.
int MusicSlotOfKey(uint32_t vk);

// The keys down now, as the hook saw them go down and up (a low-level
// hook is told no repeat flag): a press of a key already down is the
// keyboard's auto-repeat.
struct HeldKeySet {
    uint64_t bits[4] = {};
    // Notes the press; true when the key was up, false for a repeat.
    bool Press(uint32_t vk);
    void Release(uint32_t vk);
    bool Held(uint32_t vk) const;
    // Either Shift key, or Shift as the system names both.
    bool ShiftHeld() const;
};
