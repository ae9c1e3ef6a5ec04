#include "app/key_rows.h"

namespace {

// Virtual-key codes, as windows.h names them.
enum : uint32_t {
    kTab = 0x09,
    kReturn = 0x0D,
    kShift = 0x10,
    kEscape = 0x1B,
    kSpace = 0x20,
    kPageUp = 0x21,
    kPageDown = 0x22,
    kEnd = 0x23,
    kHome = 0x24,
    kLeft = 0x25,
    kUp = 0x26,
    kRight = 0x27,
    kDown = 0x28,
    kInsert = 0x2D,
    kKeypadPlus = 0x6B,
    kKeypadMinus = 0x6D,
    kF3 = 0x72,
    kF4 = 0x73,
    kF5 = 0x74,
    kF6 = 0x75,
    kF7 = 0x76,
    kF8 = 0x77,
    kF9 = 0x78,
    kLeftShift = 0xA0,
    kRightShift = 0xA1,
    kLeftAlt = 0xA4,
    kRightAlt = 0xA5,
};

constexpr KeyEdge kPress = KeyEdge::Press;
constexpr KeyEdge kRelease = KeyEdge::Release;
constexpr CommandEntry kNoEntry = CommandEntry(0);

// Page Up, Page Down, Home, End, Insert, F7 and F8 act on release, so a
// held key acts once; the rest on press, so the keyboard's repeat repeats
// them (F9 taps the tempo when pressed).
const KeyRow kKeyRows[] = {
    {'A', 'Z', kPress, KeyAction::kPlayLetter, kNoEntry},
    {kPageUp, kPageUp, kRelease, KeyAction::kCommand, kKitVolumeUpEntry},
    {kPageDown, kPageDown, kRelease, KeyAction::kCommand, kKitVolumeDownEntry},
    {kHome, kHome, kRelease, KeyAction::kPreviousKit, kNoEntry},
    {kEnd, kEnd, kRelease, KeyAction::kNextKit, kNoEntry},
    {kInsert, kInsert, kRelease, KeyAction::kCommand, kOpenMusicEntry},
    {kF7, kF7, kRelease, KeyAction::kCommand, kRecordEntry},
    {kF8, kF8, kRelease, KeyAction::kCommand, kMetronomeEntry},
    {kF9, kF9, kPress, KeyAction::kTapTempo, kNoEntry},
    {kSpace, kSpace, kPress, KeyAction::kCommand, kPauseMusicEntry},
    {kKeypadPlus, kKeypadPlus, kPress, KeyAction::kCommand, kMusicVolumeUpEntry},
    {kKeypadMinus, kKeypadMinus, kPress, KeyAction::kCommand, kMusicVolumeDownEntry},
    {kF3, kF3, kPress, KeyAction::kCommand, kSeekBackEntry},
    {kF4, kF4, kPress, KeyAction::kCommand, kSeekForwardEntry},
    {'0', '9', kPress, KeyAction::kMusicSlot, kNoEntry},
    {kF5, kF5, kPress, KeyAction::kAskClearSlots, kNoEntry},
    {kF6, kF6, kPress, KeyAction::kStopSlots, kNoEntry},
};

} // namespace

const KeyRow* FindKeyRow(uint32_t vk, KeyEdge edge)
{
    for (const KeyRow& row : kKeyRows)
        if (row.edge == edge && vk >= row.firstVk && vk <= row.lastVk)
            return &row;
    return nullptr;
}

bool IsPassThroughKey(uint32_t vk)
{
    switch (vk) {
    case kTab:
    case kLeftAlt:
    case kRightAlt:
    case kReturn:
    case kF4:
    case kLeft:
    case kUp:
    case kRight:
    case kDown:
    case kEscape:
        return true;
    default:
        return false;
    }
}

int MusicSlotOfKey(uint32_t vk)
{
    return vk == '0' ? 10 : (int)(vk - '0');
}

bool HeldKeySet::Press(uint32_t vk)
{
    if (vk > 255)
        return true;
    bool wasUp = !Held(vk);
    bits[vk / 64] |= 1ull << (vk % 64);
    return wasUp;
}

void HeldKeySet::Release(uint32_t vk)
{
    if (vk <= 255)
        bits[vk / 64] &= ~(1ull << (vk % 64));
}

bool HeldKeySet::Held(uint32_t vk) const
{
    return vk <= 255 && (bits[vk / 64] >> (vk % 64)) & 1;
}

bool HeldKeySet::ShiftHeld() const
{
    return Held(kShift) || Held(kLeftShift) || Held(kRightShift);
}
