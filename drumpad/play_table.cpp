#include "drumpad/play_table.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace {

// Rounds of a random order prepared ahead; the walk then starts over.
constexpr size_t kRandomRounds = 8;
// Steps of one choice at most: round robins of unrelated lengths would
// otherwise multiply.
constexpr uint64_t kMaxSteps = 1024;
constexpr uint32_t kComponentEnd = 0xFFFFFFFF;

uint64_t Period(uint64_t a, uint64_t b)
{
    uint64_t l = a / std::gcd(a, b) * b;
    return l > kMaxSteps ? std::max(a, b) : l;
}

uint32_t NextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

double Distance(const KitLayer& l, double x)
{
    return x < l.velocityLow ? l.velocityLow - x : x > l.velocityHigh ? x - l.velocityHigh : 0.0;
}

// A Hydrogen component's layers for velocity x: those whose range holds
// it, or the nearest when it falls into a gap between them.
std::vector<uint32_t> ComponentLayers(const KitInstrument& ins, uint32_t component, double x)
{
    std::vector<uint32_t> matching;
    int nearest = -1;
    for (uint32_t i = 0; i < ins.layers.size(); i++) {
        const KitLayer& l = ins.layers[i];
        if (l.component != component)
            continue;
        if (Distance(l, x) == 0.0)
            matching.push_back(i);
        else if (nearest < 0 || Distance(l, x) < Distance(ins.layers[nearest], x))
            nearest = (int)i;
    }
    if (matching.empty() && nearest >= 0)
        matching.push_back((uint32_t)nearest);
    return matching;
}

} // namespace

std::vector<LetterInstrument> LetterInstrumentsOf(const KitModel& kit)
{
    std::vector<LetterInstrument> list;
    for (const KitInstrument& ins : kit.instruments) {
        LetterInstrument l;
        l.name = ins.name;
        l.note = ins.note;
        l.playable = !ins.muted && !ins.layers.empty();
        for (const KitLayer& layer : ins.layers)
            if (std::find(l.files.begin(), l.files.end(), kit.samples[layer.sample]) == l.files.end())
                l.files.push_back(kit.samples[layer.sample]);
        list.push_back(std::move(l));
    }
    return list;
}

PlayTable::PlayTable(const KitModel& kit, const InstrumentLetters& letters, uint32_t seed)
    : letterInstrument_(letters.instrument), seed_(seed ? seed : 0x9E3779B9u)
{
    for (const VelocityRule& rule : kit.velocityRules) {
        velocityGains_.emplace_back();
        for (int v = 0; v < 128; v++)
            velocityGains_.back()[v] = VelocityGain(rule, v);
    }
    // A letter and a note that play one instrument share its row.
    std::map<int, std::array<uint16_t, 128>> rows;
    auto row = [&](int ins) {
        std::array<uint16_t, 128> none;
        none.fill(kNone);
        if (ins < 0)
            return none;
        auto it = rows.find(ins);
        if (it == rows.end())
            it = rows.emplace(ins, RowOf(kit, (uint32_t)ins)).first;
        return it->second;
    };
    for (int l = 0; l < kLetters; l++) {
        if (letterInstrument_[l] >= (int)kit.instruments.size())
            letterInstrument_[l] = -1;
        letterChoice_[l] = row(letterInstrument_[l]);
    }
    for (int n = 0; n < 128; n++) {
        int ins = -1;
        for (size_t i = 0; i < kit.instruments.size() && ins < 0; i++)
            if (kit.instruments[i].note == n && !kit.instruments[i].muted && !kit.instruments[i].layers.empty())
                ins = (int)i;
        noteChoice_[n] = row(ins);
    }
    counters_.reset(new std::atomic<uint32_t>[choices_.size() ? choices_.size() : 1]);
    for (size_t i = 0; i < choices_.size(); i++)
        counters_[i].store(0, std::memory_order_relaxed);
    built_.clear();
}

std::array<uint16_t, 128> PlayTable::RowOf(const KitModel& kit, uint32_t instrument)
{
    std::array<uint16_t, 128> row;
    row.fill(kNone);
    std::vector<uint32_t> last;
    for (int v = 1; v < 128; v++) {
        std::vector<uint32_t> key = CandidatesOf(kit, instrument, v);
        // Neighbouring velocities mostly hold the same layers.
        row[v] = v > 1 && key == last ? row[v - 1] : ChoiceOf(kit, instrument, key);
        last = std::move(key);
    }
    return row;
}

std::vector<uint32_t> PlayTable::CandidatesOf(const KitModel& kit, uint32_t instrument, int velocity)
{
    const KitInstrument& ins = kit.instruments[instrument];
    // The instrument, then the candidates, a component's layers after each other.
    std::vector<uint32_t> key = {instrument};
    if (ins.muted)
        return key;
    const double x = velocity / 127.0;
    if (kit.kind == KitModel::Kind::Hydrogen) {
        std::vector<uint32_t> components;
        for (const KitLayer& l : ins.layers)
            if (std::find(components.begin(), components.end(), l.component) == components.end())
                components.push_back(l.component);
        for (uint32_t c : components) {
            std::vector<uint32_t> layers = ComponentLayers(ins, c, x);
            key.insert(key.end(), layers.begin(), layers.end());
            key.push_back(kComponentEnd);
        }
    } else {
        for (uint32_t i = 0; i < ins.layers.size(); i++) {
            const KitLayer& l = ins.layers[i];
            if (Distance(l, x) == 0.0 && kit.pedal >= l.pedalLow && kit.pedal <= l.pedalHigh)
                key.push_back(i);
        }
    }
    return key;
}

uint16_t PlayTable::ChoiceOf(const KitModel& kit, uint32_t instrument, const std::vector<uint32_t>& key)
{
    const KitInstrument& ins = kit.instruments[instrument];
    auto known = built_.find(key);
    if (known != built_.end())
        return known->second;
    if (key.size() == 1 || choices_.size() >= kNone || sounds_.size() >= kMaxPreparedSounds)
        return kNone;

    Step step = {0, 0};
    auto sound = [&](uint32_t layer) {
        const KitLayer& l = ins.layers[layer];
        if (sounds_.size() - step.first >= kMaxSoundsPerHit)
            return;
        if (l.velocityRule < velocityGains_.size() && l.sample < kit.samples.size())
            sounds_.push_back({l.sample, instrument, layer, ins.gain * l.gain, CombinedPan(ins.pan, l.pan), l.velocityRule});
    };
    Choice choice = {(uint32_t)steps_.size(), 0};
    uint32_t state = seed_ + (uint32_t)choices_.size() * 2654435761u;
    if (kit.kind == KitModel::Kind::Hydrogen) {
        // Each component picks one of its layers; a step is one pick of each.
        struct Options {
            std::vector<uint32_t> layers;
            std::vector<uint8_t> order; // random: a shuffled walk
            LayerChoice how;
        };
        std::vector<Options> components(1);
        for (size_t i = 1; i < key.size(); i++) {
            if (key[i] == kComponentEnd) {
                components.back().how = ins.layers[components.back().layers[0]].choice;
                components.emplace_back();
            } else {
                components.back().layers.push_back(key[i]);
            }
        }
        components.pop_back();
        uint64_t period = 1;
        for (Options& c : components) {
            size_t n = std::min<size_t>(c.layers.size(), 255);
            if (c.how == LayerChoice::Random && n > 1)
                c.order = TakeOrder(n, kRandomRounds, NextRandom(state));
            uint64_t own = c.how == LayerChoice::Velocity ? 1 : c.how == LayerChoice::RoundRobin ? n : c.order.size();
            period = Period(period, std::max<uint64_t>(1, own));
        }
        for (uint64_t k = 0; k < period; k++) {
            step = {(uint32_t)sounds_.size(), 0};
            for (const Options& c : components) {
                size_t n = std::min<size_t>(c.layers.size(), 255);
                size_t pick = c.how == LayerChoice::RoundRobin ? k % n : !c.order.empty() ? c.order[k % c.order.size()] : 0;
                sound(c.layers[pick]);
            }
            step.count = (uint32_t)sounds_.size() - step.first;
            steps_.push_back(step);
        }
    } else {
        uint64_t length = 1;
        bool random = false;
        for (size_t i = 1; i < key.size(); i++) {
            const KitLayer& l = ins.layers[key[i]];
            length = Period(length, (uint64_t)std::max(1, l.sequenceLength));
            random = random || l.randomLow > 0.0 || l.randomHigh < 1.0;
        }
        uint64_t rounds = random ? std::max<uint64_t>(1, std::min<uint64_t>(2 * kRandomRounds, kMaxSteps / length)) : 1;
        // Each turn of the sequence gets `rounds` random values, one from
        // each equal slice of [0, 1) in shuffled order, so every random band
        // sounds as often as its width says over one walk of the order.
        std::vector<double> draws(length * rounds, 0.0);
        for (uint64_t turn = 0; random && turn < length; turn++) {
            std::vector<double> slice(rounds);
            for (uint64_t j = 0; j < rounds; j++)
                slice[j] = (j + (NextRandom(state) >> 8) / 16777216.0) / rounds;
            for (uint64_t j = rounds - 1; j > 0; j--)
                std::swap(slice[j], slice[NextRandom(state) % (j + 1)]);
            for (uint64_t j = 0; j < rounds; j++)
                draws[turn + j * length] = slice[j];
        }
        for (uint64_t k = 0; k < length * rounds; k++) {
            step = {(uint32_t)sounds_.size(), 0};
            for (size_t i = 1; i < key.size(); i++) {
                const KitLayer& l = ins.layers[key[i]];
                bool inTurn = (int)(k % (uint64_t)std::max(1, l.sequenceLength)) == l.sequencePosition - 1;
                if (inTurn && draws[k] >= l.randomLow && draws[k] < l.randomHigh)
                    sound(key[i]);
            }
            step.count = (uint32_t)sounds_.size() - step.first;
            steps_.push_back(step);
        }
    }
    choice.steps = (uint32_t)steps_.size() - choice.firstStep;
    choices_.push_back(choice);
    built_.emplace(key, (uint16_t)(choices_.size() - 1));
    return (uint16_t)(choices_.size() - 1);
}

PlayHit PlayTable::Walk(uint16_t choice) const
{
    if (choice == kNone)
        return {};
    const Choice& c = choices_[choice];
    uint32_t n = counters_[choice].fetch_add(1, std::memory_order_relaxed);
    const Step& s = steps_[c.firstStep + n % c.steps];
    return {sounds_.data() + s.first, s.count};
}

PlayHit PlayTable::Letter(int letter, int velocity) const
{
    if (letter < 0 || letter >= kLetters)
        return {};
    return Walk(letterChoice_[letter][std::min(127, std::max(1, velocity))]);
}

PlayHit PlayTable::Note(int note, int velocity) const
{
    if (note < 0 || note > 127)
        return {};
    return Walk(noteChoice_[note][std::min(127, std::max(1, velocity))]);
}

float PlayTable::Gain(const PlayedSound& sound, int velocity) const
{
    return sound.gain * velocityGains_[sound.velocityRule][std::min(127, std::max(0, velocity))];
}
