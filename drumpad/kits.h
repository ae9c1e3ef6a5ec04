#pragma once
// The drum kits under SND, the loaded kit's samples and the kit changes.
#include "drumpad/choke_rules.h"
#include "drumpad/key_map_rules.h"
#include "drumpad/kit_rules.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The key a kit sample was loaded for: its letter, and the MIDI note the
// kit's key map gives that letter (-1: none).
struct ChannelKey {
    uint32_t channel;
    char letter; // 'A'..'Z'
    int note;
};

// A kit number and the command id of that kit's item, always taken together.
struct KitChoice {
    int32_t command;
    int index;
};

// The drum pad's state, kept by the window's thread.
struct KitState {
    // Full path of each kit folder, kit n at entry n-1; empty kits stay listed.
    std::vector<std::string> KitList;
    // The loaded kit: its samples are in the table and its item is checked.
    int CurrentKitIndex = 0;
    // Command id of the loaded kit's item; 0 before the first load.
    int32_t CurrentKitCommand = 0;
    // The kit asked for last, loaded or still waiting for the load in
    // progress; Home, End, the card switch and kit removal start from it.
    // Command 0 before the first load.
    KitChoice AskedKit = {};
    float KitVolume = 1.0f;
    // The loaded kit's streams in listing order, then "Finish.wav".
    std::vector<Sample> SampleTable;
    // The kit ids still in use (kit removal withdraws one).
    KitCommandList KitCommands;
    // Start-up's load is silent; every later one confirms.
    bool FirstLoadDone = false;
    bool Loading = false;
    // AskedKit still has to be loaded once the load in progress ends.
    bool HasPendingRequest = false;
    // The loaded kit's files (listing order) and what each letter plays:
    // what 编辑键位 writes when the kit has no key map.
    std::vector<std::string> KitFiles;
    KeyAssignment KitKeys;
    // The key of each sample the letters of the loaded kit play, from
    // LoadedKeysFrom on; before it, while they are kept, those of the kits
    // loaded earlier, whose hits a recording still names after a change.
    std::vector<ChannelKey> ChannelKeys;
    size_t LoadedKeysFrom = 0;
    bool KeepingChannelKeys = false;
};
KitState& Kits();
// Back to the start of a run: the samples freed, no kit listed or loaded,
// no kit item in the menu, full kit volume. For tests.
void ResetKits();

// The channels of a letter's takes and the order they play in.
struct LetterTakes {
    std::vector<uint32_t> channels; // take 1 first; empty: the key is silent
    std::vector<uint8_t> order;     // indices into channels, walked round and round
    mutable std::atomic<uint32_t> next{0};
    bool mapped = false; // named by the kit's key map
    std::string file;    // take 1's file name
};

// What the keyboard hook's thread plays from: a copy of SampleTable and
// the letters' takes, made after each change and swapped in whole, so it
// is never changed under a hook call that holds it.
struct PlayableKit {
    SampleList samples;
    std::array<LetterTakes, kLetters> letters;
    // What each letter's hit silences: the key map's [闷音组] when it has
    // one, else the hi-hat rule.
    KitChokes chokes;
};
std::shared_ptr<const PlayableKit> PlayableKitNow();

// The current kit's folder, ending with "\"; empty when none is loaded.
std::string CurrentKitFolder();

// Start-up: "SND" empty -> message, end.
void CheckKitFolder();
// Start-up: kit list, one message per empty kit, one item per usable kit;
// ends the program when no kit is usable.
void DiscoverKits();
// Start-up, before the keyboard hook: the kit volume from the settings.
void ReadKitVolume();
// Start-up, after the hook: the remembered kit, repaired when out of range.
void LoadInitialKit();
// Loads kit `kitIndex` whose item carries commandId. A request made while
// a load is dispatching messages is held and the latest one runs when
// that load has finished.
void LoadKit(int32_t commandId, int kitIndex);
// Home and End: wraps below 1 to the last kit and past the last to kit 1.
void SelectKitByIndex(int index);
// Home and End: the kit before or after the one asked for last.
void SelectPreviousKit();
void SelectNextKit();

// From now on the keys of every kit loaded are kept beside the loaded
// kit's, until ForgetChannelKeys keeps the loaded kit's alone again.
void KeepChannelKeys();
void ForgetChannelKeys();
// The key `channel` was loaded for, among those kept; null for a channel
// no letter plays (music, a slot, Finish.wav).
const ChannelKey* KeyOfChannel(uint32_t channel);

// Kit number of a kit id: its position among the ids still in use.
int KitNumberOfCommand(int32_t id);
int32_t KitCommandOfNumber(int n);
void WithdrawKitCommand(int32_t id);
