// What must hold of any kit a reader gives, whatever text it was given:
// samples inside the kit folder, notes and ranges in range, finite gains,
// and a play table whose every hit names real samples.
#pragma once
#include "drumpad/play_table.h"

#include <cmath>
#include <cstdlib>

inline void CheckKit(const KitModel& kit)
{
    for (const std::string& s : kit.samples)
        if (s.empty() || KitRelativePath("", s, kit.coding) != s)
            std::abort();
    for (const KitInstrument& ins : kit.instruments) {
        if (ins.note < 0 || ins.note > 127 || !std::isfinite(ins.gain) || ins.gain < 0)
            std::abort();
        for (const KitLayer& l : ins.layers)
            if (l.sample >= kit.samples.size() || l.velocityRule >= kit.velocityRules.size() ||
                !std::isfinite(l.gain) || l.gain < 0 || l.velocityLow < 0 || l.velocityHigh > 1 ||
                l.pan < -1 || l.pan > 1 || l.sequenceLength < 1 || l.sequencePosition < 1)
                std::abort();
    }
    std::vector<LetterInstrument> instruments = LetterInstrumentsOf(kit);
    InstrumentLetters letters = AssignInstrumentLetters(instruments, nullptr);
    PlayTable table(kit, letters, 1);
    for (int v : {1, kSoftLetterVelocity, kLetterVelocity, 127}) {
        for (int n = 0; n < 128; n++) {
            PlayHit hits[2] = {table.Note(n, v), n < kLetters ? table.Letter(n, v) : PlayHit{}};
            for (const PlayHit& hit : hits)
                for (uint32_t i = 0; i < hit.count; i++) {
                    float gain = table.Gain(hit.sounds[i], v);
                    if (hit.sounds[i].sample >= kit.samples.size() || !std::isfinite(gain) || gain < 0)
                        std::abort();
                }
        }
    }
}
