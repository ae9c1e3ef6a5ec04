#pragma once
// Which sounds a hit silences, worked out once when a kit loads; every hit
// and the pads read that one result. A kit format says it with group
// numbers on two sides: a hit of an instrument fires its groups, and a
// sound is silenced by the hits of its groups. Hydrogen's muteGroup puts
// one number on both sides of an instrument; SFZ's group and off_by are the
// two sides of a region; each line of a key map's [闷音组] is a group on
// both sides of its letters; without one, H, J, K and L fire the hi-hat
// group, which silences every sample whose file name holds h, j, k or l.
// The letters are the first instruments; a MIDI note is a hit of the
// instrument its kit gives the note, so it reads the same table.
#include "drumpad/key_map_rules.h"
#include "drumpad/kit_rules.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The hi-hat rule pauses; a kit's own groups fade out over kChokeFadeMs,
// short enough to act as a choke, long enough not to click.
enum class ChokeStyle : uint8_t { Pause, Fade };
constexpr uint32_t kChokeFadeMs = 5;

struct ChokeSound {
    uint32_t channel = 0;
    std::vector<int> silencedBy; // groups whose hits silence it
};

struct ChokeInstrument {
    std::vector<uint32_t> channels; // what a hit of it plays
    std::vector<int> fires;         // groups a hit of it fires
};

struct ChokeSpec {
    ChokeStyle style = ChokeStyle::Pause;
    // Whether a hit also silences what it plays itself (the hi-hat rule
    // pauses the pressed key's sample too, before the hit restarts it);
    // a group's hit otherwise silences only the others.
    bool silencesOwn = false;
    std::vector<ChokeSound> sounds;           // in the order they are silenced
    std::vector<ChokeInstrument> instruments; // letter l is instrument l
};

struct KitChokes {
    ChokeStyle style = ChokeStyle::Pause;
    // By instrument, the letters at least: the channels a hit of it
    // silences, no channel twice and none of 0 (a file that did not open).
    std::vector<std::vector<uint32_t>> silences = std::vector<std::vector<uint32_t>>(kLetters);
    // By letter, bit j: a hit of the letter silences a sound letter j
    // plays, so it puts out j's light on the pads.
    std::array<uint32_t, kLetters> putsOut = {};
};

// What each letter's takes play, channel 0 for a file that did not open.
using LetterChannels = std::array<std::vector<uint32_t>, kLetters>;

// Whether fileName holds h, j, k or l in any case: the hi-hat group's sounds.
bool InChokeGroup(const std::string& fileName);
// A kit without [闷音组]: H, J, K and L fire the hi-hat group, which pauses
// every sample of the table it holds, the confirmation sample too.
ChokeSpec HiHatChokes(const SampleList& samples, const LetterChannels& letters);
// A kit's [闷音组] (one mask of letters per line): each line a group whose
// letters fade out each other's sounds.
ChokeSpec GroupChokes(const std::vector<uint32_t>& groups, const LetterChannels& letters);
KitChokes ResolveChokes(const ChokeSpec& spec);
