#include "drumpad/choke_rules.h"

#include "core/ascii.h"

#include <algorithm>

namespace {

constexpr int kHiHatGroup = 0;

template <typename T>
bool Holds(const std::vector<T>& list, T value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool Shares(const std::vector<int>& a, const std::vector<int>& b)
{
    return std::any_of(a.begin(), a.end(), [&](int g) { return Holds(b, g); });
}

bool IsHiHatLetter(int letter)
{
    char c = (char)('A' + letter);
    return c == 'H' || c == 'J' || c == 'K' || c == 'L';
}

std::vector<ChokeInstrument> LetterInstruments(const LetterChannels& letters)
{
    std::vector<ChokeInstrument> instruments(kLetters);
    for (int l = 0; l < kLetters; l++)
        instruments[l].channels = letters[l];
    return instruments;
}

} // namespace

bool InChokeGroup(const std::string& fileName)
{
    for (char c : fileName) {
        char u = UpperAscii(c);
        if (u == 'H' || u == 'J' || u == 'K' || u == 'L')
            return true;
    }
    return false;
}

ChokeSpec HiHatChokes(const SampleList& samples, const LetterChannels& letters)
{
    ChokeSpec spec;
    spec.style = ChokeStyle::Pause;
    spec.silencesOwn = true;
    for (const Sample& s : samples) {
        ChokeSound sound;
        sound.channel = s.channel;
        if (InChokeGroup(s.fileName))
            sound.silencedBy.push_back(kHiHatGroup);
        spec.sounds.push_back(sound);
    }
    spec.instruments = LetterInstruments(letters);
    for (int l = 0; l < kLetters; l++)
        if (IsHiHatLetter(l))
            spec.instruments[l].fires.push_back(kHiHatGroup);
    return spec;
}

ChokeSpec GroupChokes(const std::vector<uint32_t>& groups, const LetterChannels& letters)
{
    ChokeSpec spec;
    spec.style = ChokeStyle::Fade;
    spec.instruments = LetterInstruments(letters);
    for (int l = 0; l < kLetters; l++) {
        std::vector<int> own;
        for (size_t g = 0; g < groups.size(); g++)
            if (groups[g] & (1u << l))
                own.push_back((int)g);
        spec.instruments[l].fires = own;
        // A file several letters play is silenced by the groups of each.
        for (uint32_t channel : letters[l]) {
            auto it = std::find_if(spec.sounds.begin(), spec.sounds.end(),
                                   [&](const ChokeSound& s) { return s.channel == channel; });
            if (it == spec.sounds.end())
                it = spec.sounds.insert(spec.sounds.end(), ChokeSound{channel, {}});
            for (int g : own)
                if (!Holds(it->silencedBy, g))
                    it->silencedBy.push_back(g);
        }
    }
    return spec;
}

KitChokes ResolveChokes(const ChokeSpec& spec)
{
    KitChokes out;
    out.style = spec.style;
    out.silences.resize(std::max<size_t>(kLetters, spec.instruments.size()));
    for (size_t i = 0; i < spec.instruments.size(); i++) {
        const ChokeInstrument& hit = spec.instruments[i];
        std::vector<uint32_t>& silenced = out.silences[i];
        for (const ChokeSound& s : spec.sounds) {
            if (s.channel == 0 || !Shares(s.silencedBy, hit.fires) || Holds(silenced, s.channel))
                continue;
            if (spec.silencesOwn || !Holds(hit.channels, s.channel))
                silenced.push_back(s.channel);
        }
    }
    const int letters = std::min<int>(kLetters, (int)spec.instruments.size());
    for (int l = 0; l < letters; l++)
        for (int j = 0; j < letters; j++)
            for (uint32_t channel : spec.instruments[j].channels)
                if (j != l && Holds(out.silences[l], channel))
                    out.putsOut[l] |= 1u << j;
    return out;
}
