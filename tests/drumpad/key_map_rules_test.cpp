// A kit's key map and its takes against tables: hostile files, the
// letters' files, the shuffled take order and the file 编辑键位 writes.
#include "drumpad/choke_rules.h"
#include "drumpad/key_map_rules.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::vector<std::string> Names(const std::vector<std::string>& files, const std::vector<size_t>& takes)
{
    std::vector<std::string> names;
    for (size_t i : takes)
        names.push_back(files[i]);
    return names;
}

using Names_ = std::vector<std::string>;

} // namespace

TEST(KeyMapParse, LettersFilesNotesAndChokeGroups)
{
    KeyMap map = ParseKeyMap("; comment\r\n"
                             "[键位]\r\n"
                             "A = Kick-Hard.wav \r\n"
                             "s=Snare 1.wav,38\r\n"
                             "D=Snare 1.wav\r\n"
                             "F=Tom,1.wav\r\n"
                             "G=hat.wav,200\r\n"
                             "H=\r\n"
                             "A=other.wav\r\n"
                             "AB=x.wav\r\n"
                             "1=x.wav\r\n"
                             "[其他]\r\n"
                             "J=never.wav\r\n"
                             "[闷音组]\r\n"
                             "踩镲=hjKL\r\n"
                             "镲片 = C V\r\n"
                             "空=123\r\n");
    EXPECT_EQ(map.keys[0].file, "Kick-Hard.wav"); // the first line of a letter counts
    EXPECT_EQ(map.keys[0].note, -1);
    EXPECT_EQ(map.keys['S' - 'A'].file, "Snare 1.wav");
    EXPECT_EQ(map.keys['S' - 'A'].note, 38);
    EXPECT_EQ(map.keys['D' - 'A'].file, "Snare 1.wav");
    EXPECT_EQ(map.keys['F' - 'A'].file, "Tom,1.wav"); // a comma in a name is no note
    EXPECT_EQ(map.keys['G' - 'A'].file, "hat.wav");   // a note past 127 is dropped
    EXPECT_EQ(map.keys['G' - 'A'].note, -1);
    EXPECT_EQ(map.keys['H' - 'A'].file, "");
    EXPECT_EQ(map.keys['J' - 'A'].file, ""); // other sections are not key maps
    EXPECT_EQ(map.keys['B' - 'A'].file, "");
    ASSERT_TRUE(map.hasChokeSection);
    ASSERT_EQ(map.chokeGroups.size(), 2u); // a line without letters is no group
    EXPECT_EQ(map.chokeGroups[0], (1u << 7) | (1u << 9) | (1u << 10) | (1u << 11));
    EXPECT_EQ(map.chokeGroups[1], (1u << 2) | (1u << 21));
    EXPECT_TRUE(map.refused.empty());

    EXPECT_FALSE(ParseKeyMap("[键位]\nA=a.wav\n").hasChokeSection);
    EXPECT_TRUE(ParseKeyMap("[闷音组]\n").hasChokeSection);
}

TEST(KeyMapParse, HostileFilesGiveNoEntryOutsideTheKitFolder)
{
    // A byte-order mark, bare CR-less lines, lines without "=".
    KeyMap bom = ParseKeyMap("\xEF\xBB\xBF[键位]\nA=a.wav\nno equals sign here\n=\n==\nB");
    EXPECT_EQ(bom.keys[0].file, "a.wav");

    KeyMap refused = ParseKeyMap("[键位]\n"
                                 "A=..\\..\\Windows\\Media\\ding.wav\n"
                                 "B=../up.wav\n"
                                 "C=C:\\kit\\c.wav\n"
                                 "D=C:c.wav\n"
                                 "E=\\\\server\\share\\e.wav\n"
                                 "F=sub/f.wav\n"
                                 "G=..\n"
                                 "H=h.wav:stream\n"
                                 "I=*.wav\n"
                                 "J=a\x01.wav\n"
                                 "K=\xB9\xC4\x95\x5C.wav\n" // GBK: a trail byte "\" is no separator
                                 "L=鼓.wav\n");
    for (int l = 0; l < 10; l++)
        EXPECT_EQ(refused.keys[l].file, "") << (char)('A' + l);
    EXPECT_EQ(refused.refused.size(), 10u);
    EXPECT_EQ(refused.keys['K' - 'A'].file, "\xB9\xC4\x95\x5C.wav");
    EXPECT_EQ(refused.keys['L' - 'A'].file, "鼓.wav");

    // 64 KB of junk (every byte value, no structure), then a real section
    // past the limit: nothing is mapped and the parse ends.
    std::string junk;
    uint32_t s = 12345;
    while (junk.size() < kMaxKeyMapBytes) {
        s = s * 1103515245u + 12345u;
        junk += (char)(s >> 24);
    }
    KeyMap fromJunk = ParseKeyMap(junk + "\n[键位]\nA=a.wav\n");
    EXPECT_EQ(fromJunk.keys[0].file, "");

    for (const char* name : {"a.wav", "Snare 1.wav", "鼓.WAV", ".hidden.wav"})
        EXPECT_TRUE(IsKitLocalName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b.wav", "a\\b.wav", "C:a.wav", "a?.wav", "a|b.wav", "a\".wav"})
        EXPECT_FALSE(IsKitLocalName(name)) << name;
    EXPECT_FALSE(IsKitLocalName(std::string(201, 'a')));
}

TEST(Takes, NumberedSiblingsOfAFileInAnyCase)
{
    struct Case {
        const char* file;
        const char* base;
        int take;
    } cases[] = {
        {"a.WAV", "a.WAV", 1},        {"A.wav", "a.WAV", 1},          {"a-2.WAV", "a.WAV", 2},
        {"A-3.wav", "a.WAV", 3},      {"a-16.wav", "a.WAV", 16},      {"a-17.wav", "a.WAV", 0},
        {"a-1.wav", "a.WAV", 0},      {"a-02.wav", "a.WAV", 0},       {"a-.wav", "a.WAV", 0},
        {"a-2x.wav", "a.WAV", 0},     {"a-2.mp3", "a.WAV", 0},        {"ab-2.wav", "a.WAV", 0},
        {"Snare 1-2.WAV", "Snare 1.wav", 2}, {"snare 1-4.wav", "Snare 1.wav", 4}, {"Snare-2", "Snare", 2},
        {"b-2.wav", "a.WAV", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TakeNumber(c.file, c.base), c.take) << c.file << " of " << c.base;
}

TEST(AssignKeys, WithoutAMapEveryLetterKeepsTheRuleAndGainsItsTakes)
{
    const Names_ files = {"A.wav", "a-3.WAV", "a-2.wav", "b.wav", "b.wav.wav", "c-2.wav", "Kick.wav", "Finish.wav"};
    KeyAssignment keys = AssignKeys(files, nullptr);
    EXPECT_EQ(Names(files, keys.takes[0]), (Names_{"A.wav", "a-2.wav", "a-3.WAV"}));
    // The last file beginning with "b.wav" wins, as the play call's search has it; it has no takes.
    EXPECT_EQ(Names(files, keys.takes[1]), (Names_{"b.wav.wav"}));
    // Takes without their first file play nothing: a key plays its x.wav only.
    EXPECT_TRUE(keys.takes[2].empty());
    EXPECT_TRUE(keys.takes['K' - 'A'].empty());
    EXPECT_TRUE(keys.missing.empty());
}

TEST(AssignKeys, FlacOggAndAiffSamplesFollowTheRuleAsWavOnesDo)
{
    const Names_ files = {"a.flac", "a-2.FLAC", "a-3.wav", "b.ogg", "B-2.ogg", "c.AIF", "c-2.aif", "d.aiff", "e.mp3"};
    KeyAssignment keys = AssignKeys(files, nullptr);
    // A take is the first file's name numbered, its extension kept.
    EXPECT_EQ(Names(files, keys.takes[0]), (Names_{"a.flac", "a-2.FLAC"}));
    EXPECT_EQ(Names(files, keys.takes[1]), (Names_{"b.ogg", "B-2.ogg"}));
    EXPECT_EQ(Names(files, keys.takes[2]), (Names_{"c.AIF", "c-2.aif"}));
    EXPECT_EQ(Names(files, keys.takes[3]), (Names_{"d.aiff"}));
    EXPECT_TRUE(keys.takes[4].empty());
}

TEST(AssignKeys, MappedLettersPlayTheirFilesAndMissingOnesAreReportedOnce)
{
    const Names_ files = {"a.wav", "Kick-Hard.wav", "Snare 1.wav", "snare 1-2.WAV", "hat 24.wav"};
    KeyMap map = ParseKeyMap("[键位]\n"
                             "S=kick-hard.WAV\n"
                             "D=Snare 1.wav\n"
                             "F=Snare 1.wav\n"
                             "G=gone.wav\n"
                             "H=GONE.wav\n"
                             "J=other.wav\n");
    KeyAssignment keys = AssignKeys(files, &map);
    EXPECT_EQ(Names(files, keys.takes['S' - 'A']), (Names_{"Kick-Hard.wav"}));
    EXPECT_EQ(Names(files, keys.takes['D' - 'A']), (Names_{"Snare 1.wav", "snare 1-2.WAV"}));
    EXPECT_EQ(keys.takes['D' - 'A'], keys.takes['F' - 'A']);
    EXPECT_TRUE(keys.takes['G' - 'A'].empty());
    EXPECT_TRUE(keys.takes['H' - 'A'].empty()); // mapped and missing: silent, not the a-z rule
    EXPECT_EQ(keys.missing, (Names_{"gone.wav", "other.wav"}));
    // Letters the map leaves out keep the rule.
    EXPECT_EQ(Names(files, keys.takes[0]), (Names_{"a.wav"}));
}

TEST(TakeOrder, EveryRoundHoldsEveryTakeAndNoTakeFollowsItself)
{
    for (size_t takes = 1; takes <= 5; takes++) {
        for (uint32_t seed : {0u, 1u, 7u, 0xDEADBEEFu, 123456u}) {
            for (size_t rounds : {1u, 2u, 16u}) {
                std::vector<uint8_t> order = TakeOrder(takes, rounds, seed);
                ASSERT_EQ(order.size(), takes * rounds);
                for (size_t r = 0; r < rounds; r++) {
                    std::set<uint8_t> round(order.begin() + r * takes, order.begin() + (r + 1) * takes);
                    EXPECT_EQ(round.size(), takes);
                    EXPECT_LT(*round.rbegin(), takes);
                }
                if (takes == 1)
                    continue;
                // Walked round and round by a counter, the wrap included.
                for (size_t i = 0; i < order.size(); i++)
                    EXPECT_NE(order[i], order[(i + 1) % order.size()])
                        << takes << " takes, seed " << seed << ", at " << i;
            }
        }
    }
    EXPECT_TRUE(TakeOrder(0, 4, 1).empty());
    // Shuffled: three takes over 16 rounds do not all start the same way.
    std::vector<uint8_t> order = TakeOrder(3, 16, 99);
    std::set<uint8_t> firsts;
    for (size_t r = 0; r < 16; r++)
        firsts.insert(order[r * 3]);
    EXPECT_GT(firsts.size(), 1u);
}

TEST(ChokeGroups, AKeySilencesTheOtherLettersOfItsGroups)
{
    const uint32_t H = 1u << 7, J = 1u << 9, K = 1u << 10, C = 1u << 2, V = 1u << 21;
    std::vector<uint32_t> groups = {H | J | K, C | V, K | V};
    // One file for each letter: channel l + 1.
    LetterChannels letters;
    for (int l = 0; l < kLetters; l++)
        letters[l] = {(uint32_t)l + 1};
    KitChokes chokes = ResolveChokes(GroupChokes(groups, letters));
    EXPECT_EQ(chokes.putsOut[7], J | K);
    EXPECT_EQ(chokes.putsOut[2], V);
    EXPECT_EQ(chokes.putsOut[21], C | K); // in two groups
    EXPECT_EQ(chokes.putsOut[0], 0u);     // in none
    EXPECT_EQ(ResolveChokes(GroupChokes({}, letters)).putsOut[7], 0u);
}

TEST(KeyMapText, WrittenUnchangedItMapsWhatPlayedBefore)
{
    const Names_ files = {"A.wav", "a-2.wav", "b.WAV", "Kick Hard.wav", "Snare 1.wav", "z.wav.wav", "鼓.wav"};
    KeyAssignment before = AssignKeys(files, nullptr);
    std::string text = KeyMapText(files, before);
    KeyMap map = ParseKeyMap(text);
    KeyAssignment after = AssignKeys(files, &map);
    EXPECT_EQ(after.takes, before.takes);
    EXPECT_TRUE(after.missing.empty());
    EXPECT_FALSE(map.hasChokeSection); // the hi-hat rule stays until the user adds a group
    EXPECT_NE(text.find("A=A.wav\r\n"), std::string::npos);
    EXPECT_NE(text.find(";C=\r\n"), std::string::npos);
    // Files no letter plays are listed as comments; takes are played.
    EXPECT_NE(text.find("\r\n; Kick Hard.wav\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n; 鼓.wav\r\n"), std::string::npos);
    EXPECT_EQ(text.find("a-2.wav"), std::string::npos);
}

TEST(KitProblems, LabelNamesTheFirstThreeAndCountsTheRest)
{
    EXPECT_EQ(KitProblemText(KitProblem::MissingFile, "x.wav"), "键位.ini：找不到 x.wav");
    EXPECT_EQ(KitProblemText(KitProblem::Undecodable, "y.wav"), "无法解码 y.wav");
    std::string longName(100, 'n');
    EXPECT_LT(KitProblemText(KitProblem::RefusedName, longName).size(), 100u);
    EXPECT_EQ(LabelWithProblems("鼓", {}), "鼓");
    EXPECT_EQ(LabelWithProblems("鼓", {"a", "b"}), "鼓\r\na\r\nb");
    EXPECT_EQ(LabelWithProblems("鼓", {"a", "b", "c", "d", "e"}), "鼓\r\na\r\nb\r\nc\r\n……另有 2 处");
}
