// Which sound a letter or note plays: layers by velocity, round robin and
// random, components and SFZ regions together, the letters of General
// MIDI notes and a key map naming instruments.
#include "drumpad/play_table.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace {

KitLayer Layer(KitModel& kit, const std::string& file, double low, double high, LayerChoice choice = LayerChoice::Velocity)
{
    KitLayer l;
    l.sample = AddSample(kit, file);
    l.velocityLow = low;
    l.velocityHigh = high;
    l.choice = choice;
    return l;
}

KitModel OneInstrument(KitModel::Kind kind, std::vector<KitLayer> (*layers)(KitModel&))
{
    KitModel kit;
    kit.kind = kind;
    VelocityRule linear;
    linear.kind = VelocityRule::Linear;
    AddVelocityRule(kit, linear);
    KitInstrument ins;
    ins.name = "Snare";
    ins.note = 38;
    ins.layers = layers(kit);
    kit.instruments.push_back(ins);
    return kit;
}

InstrumentLetters SOnly()
{
    InstrumentLetters letters;
    letters.instrument.fill(-1);
    letters.instrument['S' - 'A'] = 0;
    return letters;
}

// The files of the next hit of S at velocity, joined by "+".
std::string Hit(const KitModel& kit, const PlayTable& table, int velocity)
{
    PlayHit hit = table.Letter('S' - 'A', velocity);
    std::string files;
    for (uint32_t i = 0; i < hit.count; i++)
        files += (i ? "+" : "") + kit.samples[hit.sounds[i].sample];
    return files;
}

} // namespace

TEST(PlayTable, VelocityPicksTheFirstLayerHoldingItOrTheNearestAcrossAGap)
{
    KitModel kit = OneInstrument(KitModel::Kind::Hydrogen, [](KitModel& k) {
        return std::vector<KitLayer>{Layer(k, "soft", 0.0, 0.3), Layer(k, "mid", 0.25, 0.6), Layer(k, "hard", 0.8, 1.0)};
    });
    kit.instruments[0].gain = 0.5f;
    kit.instruments[0].layers[2].gain = 0.8f;
    PlayTable table(kit, SOnly(), 1);
    struct Case {
        int velocity;
        const char* file;
    } cases[] = {
        {1, "soft"}, {35, "soft"}, {38, "soft"}, {50, "mid"}, {76, "mid"},
        {80, "mid"}, {90, "hard"}, {127, "hard"}, {0, "soft"}, {300, "hard"}, // held to 1..127
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hit(kit, table, c.velocity), c.file) << c.velocity;
    PlayHit hit = table.Letter('S' - 'A', kLetterVelocity);
    ASSERT_EQ(hit.count, 1u);
    EXPECT_FLOAT_EQ(table.Gain(hit.sounds[0], kLetterVelocity), 0.5f * 0.8f * 100 / 127.0f);
    EXPECT_EQ(table.Letter('A' - 'A', 100).count, 0u);
    EXPECT_EQ(table.Note(38, kSoftLetterVelocity).count, 1u);
    EXPECT_EQ(table.Note(36, 100).count, 0u);
}

TEST(PlayTable, RoundRobinTakesTurnsAndRandomNeverRepeatsAmongWhatMatches)
{
    KitModel kit = OneInstrument(KitModel::Kind::Hydrogen, [](KitModel& k) {
        return std::vector<KitLayer>{Layer(k, "a", 0, 0.5, LayerChoice::RoundRobin),
                                     Layer(k, "b", 0, 0.5, LayerChoice::RoundRobin),
                                     Layer(k, "c", 0, 0.5, LayerChoice::RoundRobin),
                                     Layer(k, "loud", 0.5, 1, LayerChoice::RoundRobin)};
    });
    PlayTable table(kit, SOnly(), 1);
    std::string walk;
    for (int i = 0; i < 7; i++)
        walk += Hit(kit, table, kSoftLetterVelocity);
    EXPECT_EQ(walk, "abcabca");
    EXPECT_EQ(Hit(kit, table, kLetterVelocity), "loud");

    for (KitLayer& l : kit.instruments[0].layers)
        l.choice = LayerChoice::Random;
    for (uint32_t seed : {1u, 2u, 99u}) {
        PlayTable random(kit, SOnly(), seed);
        std::map<std::string, int> count;
        std::string last;
        for (int i = 0; i < 300; i++) {
            std::string file = Hit(kit, random, kSoftLetterVelocity);
            EXPECT_NE(file, last) << seed << " at " << i;
            count[file]++;
            last = file;
        }
        EXPECT_EQ(count.size(), 3u);
        for (auto& c : count)
            EXPECT_GT(c.second, 60) << c.first;
    }
}

TEST(PlayTable, ComponentsAndSfzRegionsSoundTogether)
{
    KitModel kit = OneInstrument(KitModel::Kind::Hydrogen, [](KitModel& k) {
        KitLayer room = Layer(k, "room", 0, 1);
        room.component = 1;
        room.pan = 0.5f;
        return std::vector<KitLayer>{Layer(k, "close soft", 0, 0.5), Layer(k, "close hard", 0.5, 1), room};
    });
    kit.instruments[0].pan = -0.4f;
    PlayTable table(kit, SOnly(), 1);
    EXPECT_EQ(Hit(kit, table, kSoftLetterVelocity), "close soft+room");
    EXPECT_EQ(Hit(kit, table, kLetterVelocity), "close hard+room");
    EXPECT_FLOAT_EQ(table.Letter('S' - 'A', 100).sounds[1].pan, -0.1f);

    // SFZ: every region that matches, a sequence of three, random bands of
    // a quarter and three quarters, the hi-hat pedal's zone.
    KitModel sfz = OneInstrument(KitModel::Kind::Sfz, [](KitModel& k) {
        std::vector<KitLayer> layers;
        for (int p = 1; p <= 3; p++) {
            layers.push_back(Layer(k, "rr" + std::to_string(p), 0, 1));
            layers.back().sequenceLength = 3;
            layers.back().sequencePosition = p;
        }
        layers.push_back(Layer(k, "quarter", 0, 1));
        layers.back().randomHigh = 0.25;
        layers.push_back(Layer(k, "rest", 0, 1));
        layers.back().randomLow = 0.25;
        layers.push_back(Layer(k, "open", 0, 1));
        layers.back().pedalLow = 64;
        layers.push_back(Layer(k, "soft only", 0, 50 / 127.0));
        return layers;
    });
    PlayTable sfzTable(sfz, SOnly(), 7);
    std::map<std::string, int> count;
    for (int i = 0; i < 3000; i++) {
        std::string files = Hit(sfz, sfzTable, kLetterVelocity);
        std::string expectedTurn = "rr" + std::to_string(i % 3 + 1);
        EXPECT_EQ(files.compare(0, 3, expectedTurn), 0) << i << ": " << files;
        count[files.substr(4)]++;
    }
    EXPECT_EQ(count.size(), 2u); // never "open" (the pedal rests at 0) nor "soft only"
    EXPECT_NEAR(count["quarter"] / 3000.0, 0.25, 0.01);
    EXPECT_EQ(Hit(sfz, sfzTable, 40).find("soft only") != std::string::npos, true);
}

TEST(PlayTable, ARoundRobinSharedByTwoThreadsLosesNoTurn)
{
    KitModel kit = OneInstrument(KitModel::Kind::Hydrogen, [](KitModel& k) {
        return std::vector<KitLayer>{Layer(k, "a", 0, 1, LayerChoice::RoundRobin), Layer(k, "b", 0, 1, LayerChoice::RoundRobin),
                                     Layer(k, "c", 0, 1, LayerChoice::RoundRobin)};
    });
    PlayTable table(kit, SOnly(), 1);
    std::array<std::array<int, 3>, 2> counts = {};
    auto hits = [&](int t) {
        for (int i = 0; i < 30000; i++)
            counts[t][table.Letter('S' - 'A', 100).sounds[0].sample]++;
    };
    std::thread one(hits, 0), two(hits, 1);
    one.join();
    two.join();
    for (int s = 0; s < 3; s++)
        EXPECT_EQ(counts[0][s] + counts[1][s], 20000) << s;
}

TEST(InstrumentLetters, GeneralMidiNotesTakeTheirLettersAndTheRestFollowInKitOrder)
{
    auto kit = [](std::vector<std::pair<std::string, int>> list) {
        std::vector<LetterInstrument> out;
        for (auto& p : list)
            out.push_back({p.first, p.second, {p.first + ".wav"}, true});
        return out;
    };
    std::vector<LetterInstrument> drums =
        kit({{"Kick B", 35}, {"Snare E", 40}, {"Closed", 42}, {"Pedal", 44}, {"Open", 46}, {"Tom Hi", 50},
             {"Tom Mid", 47}, {"Tom Lo", 43}, {"Crash", 49}, {"Ride", 51}, {"Bell", 53}, {"Splash", 55},
             {"China", 52}, {"Crash 2", 57}, {"Tamb", 54}, {"Rim", 37}, {"Clap", 39}, {"Cowbell", 56},
             {"Second Ride", 51}, {"Muted", 60}, {"Empty", 61}});
    drums[19].playable = drums[20].playable = false;
    InstrumentLetters letters = AssignInstrumentLetters(drums, nullptr);
    std::string got;
    for (int l = 0; l < kLetters; l++)
        got += std::string(1, (char)('A' + l)) + "=" + (letters.instrument[l] >= 0 ? drums[letters.instrument[l]].name : "") + ";";
    EXPECT_EQ(got, "A=Kick B;B=Tamb;C=Cowbell;D=Rim;E=Tom Mid;F=Clap;G=China;H=Pedal;I=Crash 2;J=Closed;K=Open;"
                   "L=Splash;M=Second Ride;N=;O=Ride;P=Bell;Q=Tom Hi;R=;S=Snare E;T=Tom Lo;U=Crash;V=;W=;X=;Y=;Z=;");

    // 36 before 35, 38 before 40.
    InstrumentLetters both = AssignInstrumentLetters(kit({{"K35", 35}, {"S40", 40}, {"K36", 36}, {"S38", 38}}), nullptr);
    EXPECT_EQ(both.instrument['A' - 'A'], 2);
    EXPECT_EQ(both.instrument['S' - 'A'], 3);
    EXPECT_EQ(both.instrument['B' - 'A'], 0); // left over: the free letters
    EXPECT_EQ(both.instrument['C' - 'A'], 1);
}

TEST(InstrumentLetters, AKeyMapNamesANoteAnInstrumentOrAFileOfOne)
{
    std::vector<LetterInstrument> drums = {{"Kick", 36, {"Samples/kick.wav"}, true},
                                           {"Snare", 38, {"snare.wav"}, true},
                                           {"Hat/Open", 46, {"hat.wav"}, true},
                                           {"Tamb", 54, {"tamb.wav"}, true}};
    KeyMap map = ParseKeyMap("[键位]\n"
                             "Z=#38\n"
                             "A=snare\n" // any case
                             "S=KICK.WAV\n"
                             "K=Hat/Open\n"
                             "D=Nope\n"
                             "E=#100\n"
                             "F=#999\n");
    EXPECT_EQ(map.refused, (std::vector<std::string>{"Hat/Open"})); // as a letter kit's file it is refused
    InstrumentLetters letters = AssignInstrumentLetters(drums, &map);
    EXPECT_EQ(letters.instrument['Z' - 'A'], 1);
    EXPECT_EQ(letters.instrument['A' - 'A'], 1);
    EXPECT_EQ(letters.instrument['S' - 'A'], 0);
    EXPECT_EQ(letters.instrument['K' - 'A'], 2);
    EXPECT_EQ(letters.instrument['D' - 'A'], -1); // named, missing: silent
    EXPECT_EQ(letters.missing, (std::vector<std::string>{"Nope", "#100", "#999"}));
    EXPECT_EQ(letters.instrument['B' - 'A'], 3); // Tamb left over, B the first free letter

    // 编辑键位's text, read back, plays the same.
    std::string text = InstrumentKeyMapText(drums, letters);
    KeyMap again = ParseKeyMap(text);
    EXPECT_EQ(AssignInstrumentLetters(drums, &again).instrument, letters.instrument) << text;
    EXPECT_NE(text.find("K=Hat/Open\r\n"), std::string::npos);
}
