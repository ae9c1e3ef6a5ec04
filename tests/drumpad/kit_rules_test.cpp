// The kit rules against tables of expected values.
#include "drumpad/choke_rules.h"
#include "drumpad/kit_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(KitRules, KitNameIsTheTextAfterTheLastBackslash)
{
    EXPECT_EQ(KitNameOfPath("C:\\YXYT\\SND\\Rock"), "Rock");
    EXPECT_EQ(KitNameOfPath("Rock"), "Rock");
    EXPECT_EQ(KitNameOfPath("C:\\SND\\"), "");
    // GBK "中文" whose trail bytes are not backslashes, and a GBK character
    // whose trail byte is 0x5C ("\x95\x5C"): the name must not be cut there.
    EXPECT_EQ(KitNameOfPath("C:\\SND\\\xD6\xD0\xCE\xC4"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(KitNameOfPath("C:\\SND\\a\x95\x5C"
                            "b"),
              "a\x95\x5C"
              "b");
}

TEST(KitRules, ItemTextCarriesTheNumberAsMnemonic)
{
    EXPECT_EQ(NumberedItemText("Rock", 1), "Rock(&1)");
    EXPECT_EQ(NumberedItemText("Jazz", 30), "Jazz(&30)");
    EXPECT_EQ(NumberedItemText("", 3), "(&3)");
}

TEST(KitRules, LabelCutsTheItemTextBeforeItsFirstParenthesis)
{
    const std::string prefix = "当前选中鼓源 - ";
    EXPECT_EQ(KitLabelText("Rock(&1)"), prefix + "Rock");
    EXPECT_EQ(KitLabelText("电子鼓(新)(&4)"), prefix + "电子鼓");
    EXPECT_EQ(KitLabelText("(x)(&2)"), prefix);
    // An empty kit has no item, so its text is empty.
    EXPECT_EQ(KitLabelText(""), prefix);
    EXPECT_EQ(KitLabelText("NoParen"), prefix + "NoParen");
}

TEST(KitRules, ExclusionMarkAnywhereInThePath)
{
    EXPECT_TRUE(IsExcludedKit("C:\\SND\\Rock_已排除"));
    EXPECT_TRUE(IsExcludedKit("C:\\已排除\\SND\\Rock"));
    EXPECT_TRUE(IsExcludedKit("C:\\SND\\已排除Rock"));
    EXPECT_FALSE(IsExcludedKit("C:\\SND\\Rock_排除"));
    EXPECT_FALSE(IsExcludedKit("C:\\SND\\Rock"));
}

TEST(KitRules, SampleMatchIsACaseBlindPrefix)
{
    struct Case {
        const char* file;
        const char* name;
        bool match;
    } cases[] = {
        {"a.WAV", "a.WAV", true},
        {"A.wav", "a.WAV", true},
        {"a.wav.wav", "a.WAV", true},
        {"a.WAVE", "a.WAV", true},
        {"aa.WAV", "a.WAV", false},
        {"b.WAV", "a.WAV", false},
        {"a.WA", "a.WAV", false},
        {"Finish.wav", "Finish.wav", true},
        {"finish.WAV", "Finish.wav", true},
        {"1.wav", "a.WAV", false},
        {"", "a.WAV", false},
    };
    for (auto& c : cases)
        EXPECT_EQ(SampleMatches(c.file, c.name), c.match) << c.file << " / " << c.name;
}

TEST(KitRules, ChokeGroupIsAnyOfHJKL)
{
    for (const char* in : {"h.WAV", "J.wav", "k.WAV", "L.WAV", "Finish.wav", "hat.wav"})
        EXPECT_TRUE(InChokeGroup(in)) << in;
    for (const char* out : {"a.WAV", "g.WAV", "m.WAV", "z.wav", "1.wav"})
        EXPECT_FALSE(InChokeGroup(out)) << out;
}

TEST(KitRules, OnlyWavFlacOggAndAiffFilesAreSamples)
{
    for (const char* yes : {"a.WAV", "a.wav", "x.Wav", ".wav", "中.wav", "a.flac", "B.FLAC", "c.ogg", "d.Aif", "e.AIFF",
                            "Kick Hard.aiff"})
        EXPECT_TRUE(HasSampleExtension(yes)) << yes;
    for (const char* no : {"a.WAVE", "a.mp3", "wav", "a.wav.txt", "", "a.wa", "a.fla", "a.oga", "a.aifc", "a.flac.bak",
                           "flac"})
        EXPECT_FALSE(HasSampleExtension(no)) << no;
}

TEST(KitRules, ALetterSampleIsTheLetterADotAndASampleExtension)
{
    struct Case {
        const char* file;
        char letter; // the a-z rule's letter of the file, 0 for none
        char exact;  // LetterOfSample: only "<letter><extension>"
    } cases[] = {
        {"a.WAV", 'a', 'a'},        {"A.flac", 'a', 'a'},     {"s.OGG", 's', 's'},    {"z.aif", 'z', 'z'},
        {"Z.AIFF", 'z', 'z'},       {"a.wav.wav", 'a', 0},    {"a.flac.ogg", 'a', 0}, {"aa.flac", 0, 0},
        {"a.mp3", 0, 0},            {"a-2.flac", 0, 0},       {"1.wav", 0, 0},        {"a.", 0, 0},
        {"中.wav", 0, 0},           {"", 0, 0},
    };
    for (auto& c : cases) {
        for (char letter = 'a'; letter <= 'z'; letter++)
            EXPECT_EQ(IsLetterSample(c.file, letter), letter == c.letter) << c.file << " / " << letter;
        EXPECT_EQ(LetterOfSample(c.file), c.exact) << c.file;
    }
}

TEST(KitRules, FoldersSortAsNtfsListsThem)
{
    std::vector<std::u16string> names = {u"zeta", u"Beta", u"alpha", u"中文", u"Alpha2", u"_x", u"1kit", u"ALPHA"};
    std::stable_sort(names.begin(), names.end(), ListsBefore);
    // ASCII letters folded upward: "_" (0x5F) sorts after the letters' upper
    // case (0x41..0x5A), digits before, CJK after all ASCII.
    std::vector<std::u16string> expected = {u"1kit", u"alpha", u"ALPHA", u"Alpha2", u"Beta", u"zeta", u"_x", u"中文"};
    EXPECT_EQ(names, expected);
    EXPECT_FALSE(ListsBefore(u"abc", u"ABC"));
    EXPECT_FALSE(ListsBefore(u"ABC", u"abc"));
}

TEST(KitRules, KitIdsRenumberAfterAWithdrawal)
{
    KitCommandList list;
    for (int32_t id = 102426; id <= 102455; id++)
        list.ids.push_back(id);
    EXPECT_EQ(list.NumberOf(102428), 3);
    EXPECT_EQ(list.CommandOf(3), 102428);
    EXPECT_EQ(list.NumberOf(102455), 30);
    EXPECT_EQ(list.CommandOf(31), 0);
    EXPECT_EQ(list.CommandOf(0), 0);
    EXPECT_EQ(list.NumberOf(102456), 0);

    list.Withdraw(102427);
    EXPECT_EQ(list.NumberOf(102427), 0);
    EXPECT_EQ(list.NumberOf(102428), 2);
    EXPECT_EQ(list.CommandOf(2), 102428);
    EXPECT_EQ(list.CommandOf(1), 102426);
    EXPECT_EQ(list.CommandOf(30), 0);
}

TEST(KitRules, VolumeStepsOfFiveHundredthsAndTheClamp)
{
    EXPECT_FLOAT_EQ((float)SteppedVolume(1.0f, kVolumeDown), 0.95f);
    EXPECT_FLOAT_EQ((float)SteppedVolume(1.0f, kVolumeUp), 1.05f);
    EXPECT_FLOAT_EQ((float)SteppedVolume(0.5f, (VolumeDirection)7), 0.5f);

    float v = 1.0f;
    for (int i = 0; i < 21; i++)
        v = (float)SteppedVolume(v, kVolumeDown);
    EXPECT_NEAR(v, -0.05f, 1e-5);
    bool clamped = false;
    EXPECT_EQ(ClampedKitVolume(v, &clamped), 0.0f);
    EXPECT_TRUE(clamped);

    EXPECT_EQ(ClampedKitVolume(1.05f, &clamped), 1.0f);
    EXPECT_TRUE(clamped);
    EXPECT_EQ(ClampedKitVolume(0.95f, &clamped), 0.95f);
    EXPECT_FALSE(clamped);
    // Within a ten-millionth of the ends the value stands.
    EXPECT_EQ(ClampedKitVolume(-0.00000005f, &clamped), -0.00000005f);
    EXPECT_FALSE(clamped);
    EXPECT_EQ(ClampedKitVolume(1.0f, &clamped), 1.0f);
    EXPECT_FALSE(clamped);
}
