#pragma once
// The command table: the ids of every menu item, entry by entry, with a
// name for each entry an item or a key uses.
#include <array>
#include <cstdint>

constexpr int kCommandCount = 100;

// Command ids of every menu item, entries 1..100 (entry k = 102422 + k);
// entry 0 is unused so that indices read as in the menu tables. A constant,
// not state.
constexpr std::array<int32_t, kCommandCount + 1> CommandTable = [] {
    std::array<int32_t, kCommandCount + 1> table = {};
    for (int k = 1; k <= kCommandCount; k++)
        table[k] = 102422 + k;
    return table;
}();

// The entries by what their items do. Entry 1 and 64..87 belong to no item.
enum CommandEntry : int {
    kHomePageEntry = 2,
    kRemoveKitEntry = 3,
    kFirstKitEntry = 4, // kit n: entry n + 3
    kLastKitEntry = 33,
    kFirstCardEntry = 34, // card n: entry n + 33
    kLastCardEntry = 63,
    kRepeatHitEntry = 88,
    kAboutEntry = 89,
    kHelpFileEntry = 90,
    kSeekBackEntry = 91,
    kSeekForwardEntry = 92,
    kMusicVolumeDownEntry = 93,
    kMusicVolumeUpEntry = 94,
    kPauseMusicEntry = 95,
    kLoopMusicEntry = 96,
    kOpenMusicEntry = 97,
    kKitVolumeDownEntry = 98,
    kKitVolumeUpEntry = 99,
    kExitEntry = 100,
    // Commands added after the table was fixed. Their ids continue its
    // numbering past the last entry (102422 + entry, outside the table,
    // whose 100 numbers and meanings stay) and their low words differ from
    // every entry's, so an id that arrives in 16 bits still maps back.
    kRecordEntry = 101,
    kExclusiveEntry = 102,
    kShowPadsEntry = 103,
    kMetronomeEntry = 104,
    kMetronomeSettingsEntry = 105,
    kRingOverEntry = 106,
    kHoldOnceEntry = 107,
    kEditKeyMapEntry = 108,
};
constexpr int kLastCommandEntry = kEditKeyMapEntry;
constexpr int kMaxKits = kLastKitEntry - kFirstKitEntry + 1;
constexpr int kMaxCards = kLastCardEntry - kFirstCardEntry + 1;

// Position 1..100 of the first entry equal to id; 101 when none matches.
int CommandIndex(int32_t id);
inline int32_t CommandOf(CommandEntry entry)
{
    return entry <= kCommandCount ? CommandTable[entry] : 102422 + entry;
}
// The item of sound card n (1..kMaxCards), and the card of such an item.
inline int32_t CardCommand(int n)
{
    return CommandTable[kFirstCardEntry + n - 1];
}
inline int CardNumberOf(int32_t id)
{
    return CommandIndex(id) - kFirstCardEntry + 1;
}
