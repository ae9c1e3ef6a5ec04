#pragma once
// What a letter or a MIDI note of a Hydrogen or SFZ kit sounds, prepared
// when the kit loads: for every letter and note and every velocity the
// layers that may sound, and their round robin or random order walked by
// a counter. A hit is then two table lookups and an atomic increment, no
// allocation, parsing or lock, so the keyboard hook's thread can take it.
#include "drumpad/key_map_rules.h"
#include "drumpad/kit_model.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// The velocities of a letter key: a plain hit and a soft note (Shift).
constexpr int kLetterVelocity = 100;
constexpr int kSoftLetterVelocity = 40;
constexpr uint32_t kMaxSoundsPerHit = 16;
constexpr size_t kMaxPreparedSounds = 1 << 20;

// The instruments of a kit as the letters see them (names and files in
// the kit's own coding).
std::vector<LetterInstrument> LetterInstrumentsOf(const KitModel& kit);

struct PlayedSound {
    uint32_t sample; // index into KitModel::samples
    uint32_t instrument;
    uint32_t layer;      // within the instrument
    float gain;          // every factor but the velocity's
    float pan;           // -1 .. 1
    uint32_t velocityRule;
};

// The sounds of one hit; empty when the letter or note plays nothing.
struct PlayHit {
    const PlayedSound* sounds = nullptr;
    uint32_t count = 0;
};

class PlayTable {
public:
    // `seed` shuffles the random orders (the same seed, the same order).
    PlayTable(const KitModel& kit, const InstrumentLetters& letters, uint32_t seed);

    // The sounds of the next hit of letter 0..25 or note 0..127 at
    // velocity 1..127 (others are held to that range).
    PlayHit Letter(int letter, int velocity) const;
    PlayHit Note(int note, int velocity) const;
    // A sound's gain at velocity: its own times its velocity rule's.
    float Gain(const PlayedSound& sound, int velocity) const;
    // The instrument a letter plays; -1 for none.
    int InstrumentOfLetter(int letter) const { return letterInstrument_[letter]; }

private:
    static constexpr uint16_t kNone = 0xFFFF;
    struct Step {
        uint32_t first, count; // into sounds_
    };
    struct Choice {
        uint32_t firstStep, steps; // into steps_
    };

    std::array<uint16_t, 128> RowOf(const KitModel& kit, uint32_t instrument);
    std::vector<uint32_t> CandidatesOf(const KitModel& kit, uint32_t instrument, int velocity);
    uint16_t ChoiceOf(const KitModel& kit, uint32_t instrument, const std::vector<uint32_t>& key);
    PlayHit Walk(uint16_t choice) const;

    std::vector<PlayedSound> sounds_;
    std::vector<Step> steps_;
    std::vector<Choice> choices_;
    std::unique_ptr<std::atomic<uint32_t>[]> counters_;
    std::array<std::array<uint16_t, 128>, kLetters> letterChoice_;
    std::array<std::array<uint16_t, 128>, 128> noteChoice_;
    std::array<int, kLetters> letterInstrument_;
    std::vector<std::array<float, 128>> velocityGains_;
    uint32_t seed_;
    // While building: the choice of each distinct set of candidate layers.
    std::map<std::vector<uint32_t>, uint16_t> built_;
};
