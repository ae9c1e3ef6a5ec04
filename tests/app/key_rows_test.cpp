// The keys of the drum pad against their documented behaviour: which edge
// each acts on, what it does, and which run after the hook has returned.
#include "app/key_rows.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct Want {
    uint32_t vk;
    KeyEdge edge;
    KeyAction action;
    int entry;
    KeyRun run;
};

constexpr KeyEdge P = KeyEdge::Press, R = KeyEdge::Release;
constexpr KeyRun Now = KeyRun::kInHook, Posted = KeyRun::kPosted;
// Only a letter runs inside the hook call; every other key is posted.

// Virtual keys by number, as the platform documents them.
const Want kWant[] = {
    {0x21, R, KeyAction::kCommand, 99, Posted},     // Page Up: kit volume up
    {0x22, R, KeyAction::kCommand, 98, Posted},     // Page Down: kit volume down
    {0x24, R, KeyAction::kPreviousKit, 0, Posted}, // Home
    {0x23, R, KeyAction::kNextKit, 0, Posted},     // End
    {0x2D, R, KeyAction::kCommand, 97, Posted},  // Insert: open music
    {0x76, R, KeyAction::kCommand, 101, Posted}, // F7: recording
    {0x77, R, KeyAction::kCommand, 104, Posted}, // F8: metronome
    {0x78, P, KeyAction::kTapTempo, 0, Posted},  // F9: tap tempo
    {0x20, P, KeyAction::kCommand, 95, Posted},     // Space: pause / play
    {0x6B, P, KeyAction::kCommand, 94, Posted},     // keypad +: music volume up
    {0x6D, P, KeyAction::kCommand, 93, Posted},     // keypad -: music volume down
    {0x72, P, KeyAction::kCommand, 91, Posted},     // F3: seek back
    {0x73, P, KeyAction::kCommand, 92, Posted},     // F4: seek forward
    {0x74, P, KeyAction::kAskClearSlots, 0, Posted}, // F5
    {0x75, P, KeyAction::kStopSlots, 0, Posted},        // F6
};

TEST(KeyRows, EachKeyActsOnItsOwnEdgeOnlyWithItsCommand)
{
    for (const Want& w : kWant) {
        const KeyRow* row = FindKeyRow(w.vk, w.edge);
        ASSERT_NE(row, nullptr) << std::hex << w.vk;
        EXPECT_EQ(row->action, w.action) << std::hex << w.vk;
        if (w.action == KeyAction::kCommand) {
            EXPECT_EQ((int)row->entry, w.entry) << std::hex << w.vk;
        }
        EXPECT_EQ(row->run, w.run) << std::hex << w.vk;
        // The other edge does nothing: a held Page Up steps once, on release.
        EXPECT_EQ(FindKeyRow(w.vk, w.edge == P ? R : P), nullptr) << std::hex << w.vk;
    }
}

TEST(KeyRows, LettersPlayOnPressAndDigitsPressTheirSlot)
{
    for (uint32_t vk = 'A'; vk <= 'Z'; vk++) {
        const KeyRow* row = FindKeyRow(vk, P);
        ASSERT_NE(row, nullptr) << (char)vk;
        EXPECT_EQ(row->action, KeyAction::kPlayLetter);
        EXPECT_EQ(row->run, Now) << "a letter plays inside the hook call";
        EXPECT_EQ(FindKeyRow(vk, R), nullptr) << (char)vk;
    }
    for (uint32_t vk = '0'; vk <= '9'; vk++) {
        const KeyRow* row = FindKeyRow(vk, P);
        ASSERT_NE(row, nullptr) << (char)vk;
        EXPECT_EQ(row->action, KeyAction::kMusicSlot);
        EXPECT_EQ(row->run, Posted) << "a slot may open the file dialog";
        EXPECT_EQ(FindKeyRow(vk, R), nullptr);
        EXPECT_EQ(MusicSlotOfKey(vk), vk == '0' ? 10 : (int)(vk - '0'));
    }
}

TEST(KeyRows, EveryOtherKeyHasNoRowAndTenPassThrough)
{
    std::set<uint32_t> acting;
    for (const Want& w : kWant)
        acting.insert(w.vk);
    for (uint32_t vk = 'A'; vk <= 'Z'; vk++)
        acting.insert(vk);
    for (uint32_t vk = '0'; vk <= '9'; vk++)
        acting.insert(vk);
    for (uint32_t vk = 0; vk < 256; vk++) {
        if (acting.count(vk))
            continue;
        EXPECT_EQ(FindKeyRow(vk, P), nullptr) << std::hex << vk;
        EXPECT_EQ(FindKeyRow(vk, R), nullptr) << std::hex << vk;
    }
    const std::set<uint32_t> passing = {0x09, 0xA4, 0xA5, 0x0D, 0x73, 0x25, 0x26, 0x27, 0x28, 0x1B};
    for (uint32_t vk = 0; vk < 256; vk++)
        EXPECT_EQ(IsPassThroughKey(vk), passing.count(vk) == 1) << std::hex << vk;
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
