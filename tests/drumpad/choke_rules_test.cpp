// What a hit silences, computed as a kit load computes it (key map parsed,
// letters assigned, the chokes resolved), against a table of kits; then
// group numbers as other kit formats give them.
#include "drumpad/choke_rules.h"
#include "drumpad/key_map_rules.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr uint32_t kFinishChannel = 100;

struct LoadedKit {
    SampleList samples;
    LetterChannels letters;
    KitChokes chokes;
};

// The kit's files open as channels 1, 2, ... in their order, those in
// `broken` as 0; Finish.wav comes last.
LoadedKit Load(const std::vector<std::string>& files, const std::string& keyMap,
               const std::set<std::string>& broken = {})
{
    LoadedKit kit;
    std::vector<uint32_t> channels;
    for (size_t i = 0; i < files.size(); i++) {
        channels.push_back(broken.count(files[i]) ? 0 : (uint32_t)i + 1);
        kit.samples.push_back({channels.back(), files[i]});
    }
    kit.samples.push_back({kFinishChannel, "Finish.wav"});
    KeyMap map = ParseKeyMap(keyMap);
    const KeyMap* given = keyMap.empty() ? nullptr : &map;
    KeyAssignment keys = AssignKeys(files, given);
    for (int l = 0; l < kLetters; l++)
        for (size_t i : keys.takes[l])
            kit.letters[l].push_back(channels[i]);
    kit.chokes = ResolveChokes(given && map.hasChokeSection ? GroupChokes(map.chokeGroups, kit.letters)
                                                            : HiHatChokes(kit.samples, kit.letters));
    return kit;
}

// The files a hit of `letter` silences, in order, and the letters whose
// lights it puts out.
std::string Silenced(const LoadedKit& kit, char letter)
{
    std::string names;
    for (uint32_t channel : kit.chokes.silences[letter - 'A'])
        for (const Sample& s : kit.samples)
            if (s.channel == channel)
                names += (names.empty() ? "" : " ") + s.fileName;
    return names;
}

std::string PutOut(const LoadedKit& kit, char letter)
{
    std::string letters;
    for (int j = 0; j < kLetters; j++)
        if (kit.chokes.putsOut[letter - 'A'] >> j & 1)
            letters += (char)('A' + j);
    return letters;
}

std::vector<std::string> EveryLetter(char skip = 0)
{
    std::vector<std::string> files;
    for (char c = 'a'; c <= 'z'; c++)
        if (c != skip)
            files.push_back(std::string(1, c) + ".WAV");
    return files;
}

TEST(Chokes, WhatEachHitSilencesAndWhichLightsItPutsOut)
{
    const LoadedKit hiHats = Load(EveryLetter(), ""), noH = Load(EveryLetter('h'), "");
    const LoadedKit mapped = Load({"a.WAV", "h.WAV", "Kick-Hard.wav"}, "[键位]\r\nA=Kick-Hard.wav\r\n");
    const LoadedKit cymbals = Load({"c.WAV", "v.WAV", "h.WAV", "j.WAV"}, "[闷音组]\r\n镲片=CV\r\n");
    const LoadedKit shared =
        Load({"snare.wav", "x.wav"}, "[键位]\r\nD=snare.wav\r\nS=snare.wav\r\n[闷音组]\r\n组=DX\r\n");
    const LoadedKit broken = Load({"h.WAV", "j.WAV", "hat.wav"}, "", {"h.WAV", "hat.wav"});
    struct Case {
        const char* why;
        const LoadedKit& kit;
        char letter;
        std::string silenced, putOut;
    } cases[] = {
        {"H pauses the hats and the confirmation sample, its own too", hiHats, 'H',
         "h.WAV j.WAV k.WAV l.WAV Finish.wav", "JKL"},
        {"a key outside H J K L silences nothing", hiHats, 'A', "", ""},
        {"H without its file still silences the others", noH, 'H', "j.WAV k.WAV l.WAV Finish.wav", "JKL"},
        {"nothing of H's to put out", noH, 'J', "j.WAV k.WAV l.WAV Finish.wav", "KL"},
        {"a mapped file whose name holds h and k is caught", mapped, 'H', "h.WAV Kick-Hard.wav Finish.wav", "A"},
        {"the kit's groups leave H out", cymbals, 'H', "", ""},
        {"the kit's groups leave J out", cymbals, 'J', "", ""},
        {"a kit's group silences the others, not the key's own", cymbals, 'V', "c.WAV", "C"},
        {"a file two letters share is silenced for both", shared, 'X', "snare.wav", "DS"},
        {"a file that did not open is never silenced, nor its light put out", broken, 'J', "j.WAV Finish.wav", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Silenced(c.kit, c.letter), c.silenced) << c.why;
        EXPECT_EQ(PutOut(c.kit, c.letter), c.putOut) << c.why;
    }
    // The hi-hat rule pauses; a kit's own groups fade.
    EXPECT_EQ(hiHats.chokes.style, ChokeStyle::Pause);
    EXPECT_EQ(cymbals.chokes.style, ChokeStyle::Fade);
}

// A kit with no sample at all (the table between two loads) has a letter
// entry for every key, each silencing nothing.
TEST(Chokes, AnEmptyKitSilencesNothing)
{
    for (const KitChokes& chokes :
         {KitChokes(), ResolveChokes(HiHatChokes({}, {})), ResolveChokes(GroupChokes({}, {}))}) {
        ASSERT_EQ(chokes.silences.size(), (size_t)kLetters);
        for (int l = 0; l < kLetters; l++) {
            EXPECT_TRUE(chokes.silences[l].empty());
            EXPECT_EQ(chokes.putsOut[l], 0u);
        }
    }
}

// Hydrogen: one muteGroup number on both sides of an instrument. SFZ: a
// region's group fires and its off_by silences it, so a closed hat cuts the
// open one and not the other way round, and a group may cut itself;
// instruments past the letters are those of MIDI notes.
TEST(Chokes, GroupNumbersAsOtherKitFormatsGiveThem)
{
    ChokeSpec hydrogen;
    hydrogen.instruments = {{{10}, {3}}, {{11}, {3}}, {{12}, {}}};
    hydrogen.sounds = {{10, {3}}, {11, {3}}, {12, {}}};
    KitChokes h = ResolveChokes(hydrogen);
    EXPECT_EQ(h.silences[0], std::vector<uint32_t>{11});
    EXPECT_EQ(h.silences[1], std::vector<uint32_t>{10});
    EXPECT_TRUE(h.silences[2].empty());
    EXPECT_EQ(h.putsOut[0], 1u << 1);

    ChokeSpec sfz;
    sfz.silencesOwn = true;
    sfz.instruments.resize(30);
    sfz.instruments[28] = {{20}, {1}}; // closed hat: group=1
    sfz.instruments[29] = {{21}, {2}}; // open hat: group=2 off_by=1
    sfz.instruments[0] = {{22}, {5}};  // group=5 off_by=5
    sfz.sounds = {{20, {}}, {21, {1}}, {22, {5}}};
    KitChokes s = ResolveChokes(sfz);
    ASSERT_EQ(s.silences.size(), 30u);
    EXPECT_EQ(s.silences[28], std::vector<uint32_t>{21});
    EXPECT_TRUE(s.silences[29].empty());
    EXPECT_EQ(s.silences[0], std::vector<uint32_t>{22});
    EXPECT_EQ(s.putsOut[0], 0u) << "a letter's own light is never put out by its hit";
}

} // namespace
