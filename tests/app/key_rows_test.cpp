// The keys of the drum pad by what they do: which edge acts, what the
// hook plays itself and what it posts to the window's thread, and which
// keys still reach the window.
#include "app/key_rows.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

// Virtual keys by number, as the platform documents them.
constexpr uint32_t kTab = 0x09, kReturn = 0x0D, kEscape = 0x1B, kSpace = 0x20, kPageUp = 0x21, kPageDown = 0x22;
constexpr uint32_t kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28, kInsert = 0x2D;
constexpr uint32_t kKeypadPlus = 0x6B, kKeypadMinus = 0x6D, kF3 = 0x72, kF4 = 0x73, kF5 = 0x74, kF6 = 0x75;
constexpr uint32_t kF7 = 0x76, kF8 = 0x77, kF9 = 0x78, kLeftAlt = 0xA4, kRightAlt = 0xA5;

constexpr KeyEdge P = KeyEdge::Press, R = KeyEdge::Release;

std::vector<uint32_t> Range(uint32_t first, uint32_t last)
{
    std::vector<uint32_t> keys;
    for (uint32_t vk = first; vk <= last; vk++)
        keys.push_back(vk);
    return keys;
}

// A key whose action must not repeat while it is held (a kit change, a
// dialog, a recording or the metronome switched on and off) acts once, on
// release; the others act on press, so the keyboard's repeat repeats them.
TEST(KeyRows, AHeldKeyRepeatsOnlyWhereRepeatingHelps)
{
    for (uint32_t vk : {kPageUp, kPageDown, kHome, kEnd, kInsert, kF7, kF8}) {
        EXPECT_EQ(FindKeyRow(vk, P), nullptr) << std::hex << vk;
        EXPECT_NE(FindKeyRow(vk, R), nullptr) << std::hex << vk;
    }
    std::vector<uint32_t> onPress = {kSpace, kKeypadPlus, kKeypadMinus, kF3, kF4, kF5, kF6, kF9};
    for (auto range : {Range('A', 'Z'), Range('0', '9')})
        onPress.insert(onPress.end(), range.begin(), range.end());
    for (uint32_t vk : onPress) {
        EXPECT_NE(FindKeyRow(vk, P), nullptr) << std::hex << vk;
        EXPECT_EQ(FindKeyRow(vk, R), nullptr) << std::hex << vk;
    }
}

// The hook plays a letter itself and posts every other key that has a
// row; a key without one is only swallowed.
TEST(KeyRows, LettersPlayInTheHookAndEveryOtherActingKeyIsPosted)
{
    std::set<uint32_t> posted = {kPageUp, kPageDown, kHome, kEnd, kInsert, kF3,         kF4,         kF5,
                                 kF6,     kF7,       kF8,   kF9,  kSpace,  kKeypadPlus, kKeypadMinus};
    for (uint32_t vk : Range('0', '9'))
        posted.insert(vk);
    for (uint32_t vk = 0; vk < 256; vk++) {
        const bool letter = vk >= 'A' && vk <= 'Z';
        const KeyRow* row = FindKeyRow(vk, P);
        if (!row)
            row = FindKeyRow(vk, R);
        if (!letter && !posted.count(vk)) {
            EXPECT_EQ(row, nullptr) << std::hex << vk;
            continue;
        }
        ASSERT_NE(row, nullptr) << std::hex << vk;
        EXPECT_EQ(row->action == KeyAction::kPlayLetter, letter) << std::hex << vk;
    }
}

// What a posted key runs: the command of the menu item it stands for, or
// an action of its own; the digits press slots 1 to 10.
TEST(KeyRows, PostedKeysRunTheirMenuItemsOrTheirOwnActions)
{
    const struct {
        uint32_t vk;
        KeyEdge edge;
        CommandEntry item;
    } items[] = {
        {kPageUp, R, kKitVolumeUpEntry},
        {kPageDown, R, kKitVolumeDownEntry},
        {kInsert, R, kOpenMusicEntry},
        {kSpace, P, kPauseMusicEntry},
        {kKeypadPlus, P, kMusicVolumeUpEntry},
        {kKeypadMinus, P, kMusicVolumeDownEntry},
        {kF3, P, kSeekBackEntry},
        {kF4, P, kSeekForwardEntry},
        {kF7, R, kRecordEntry},
        {kF8, R, kMetronomeEntry},
    };
    for (const auto& k : items) {
        const KeyRow* row = FindKeyRow(k.vk, k.edge);
        ASSERT_NE(row, nullptr) << std::hex << k.vk;
        EXPECT_EQ(row->action, KeyAction::kCommand) << std::hex << k.vk;
        EXPECT_EQ(row->entry, k.item) << std::hex << k.vk;
    }
    const struct {
        uint32_t vk;
        KeyEdge edge;
        KeyAction action;
    } own[] = {{kHome, R, KeyAction::kPreviousKit},
               {kEnd, R, KeyAction::kNextKit},
               {kF5, P, KeyAction::kAskClearSlots},
               {kF6, P, KeyAction::kStopSlots},
               {kF9, P, KeyAction::kTapTempo}};
    for (const auto& k : own) {
        const KeyRow* row = FindKeyRow(k.vk, k.edge);
        ASSERT_NE(row, nullptr) << std::hex << k.vk;
        EXPECT_EQ(row->action, k.action) << std::hex << k.vk;
    }
    std::set<int> slots;
    for (uint32_t vk : Range('0', '9')) {
        EXPECT_EQ(FindKeyRow(vk, P)->action, KeyAction::kMusicSlot) << (char)vk;
        slots.insert(MusicSlotOfKey(vk));
    }
    EXPECT_EQ(slots, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(MusicSlotOfKey('1'), 1);
    EXPECT_EQ(MusicSlotOfKey('0'), 10) << "0 is the last key of the row";
}

// The keys that work the menu bar and the window reach it, on both edges;
// F4 also seeks the music, so Alt+F4 still closes the window.
TEST(KeyRows, TenKeysPassThroughToTheWindow)
{
    const std::set<uint32_t> passing = {kTab, kLeftAlt, kRightAlt, kReturn, kF4, kLeft, kUp, kRight, kDown, kEscape};
    for (uint32_t vk = 0; vk < 256; vk++)
        EXPECT_EQ(IsPassThroughKey(vk), passing.count(vk) == 1) << std::hex << vk;
    EXPECT_NE(FindKeyRow(kF4, P), nullptr);
}

} // namespace

TEST(HeldKeys, APressOfAKeyAlreadyDownIsARepeatOfThatKeyOnly)
{
    HeldKeySet keys;
    EXPECT_TRUE(keys.Press('A'));
    EXPECT_FALSE(keys.Press('A')); // auto-repeat
    EXPECT_FALSE(keys.Press('A'));
    EXPECT_TRUE(keys.Press('S')); // a second key during the hold
    EXPECT_FALSE(keys.Press('S'));
    keys.Release('A');
    EXPECT_TRUE(keys.Press('A'));
    EXPECT_TRUE(keys.Held('S'));
    // Keys in every word of the set, and codes past it.
    for (uint32_t vk : {0u, 63u, 64u, 127u, 128u, 255u}) {
        EXPECT_TRUE(keys.Press(vk)) << vk;
        EXPECT_FALSE(keys.Press(vk)) << vk;
        keys.Release(vk);
        EXPECT_FALSE(keys.Held(vk)) << vk;
    }
    EXPECT_TRUE(keys.Press(256));
    EXPECT_TRUE(keys.Press(256));
    keys.Release(256);
}

TEST(HeldKeys, ShiftIsEitherShiftKey)
{
    for (uint32_t shift : {0x10u, 0xA0u, 0xA1u}) {
        HeldKeySet keys;
        EXPECT_FALSE(keys.ShiftHeld());
        keys.Press(shift);
        EXPECT_TRUE(keys.ShiftHeld()) << shift;
        keys.Release(shift);
        EXPECT_FALSE(keys.ShiftHeld()) << shift;
    }
    HeldKeySet keys;
    keys.Press(0xA2); // Ctrl is no Shift
    EXPECT_FALSE(keys.ShiftHeld());
}
