// The kit model's rules against tables: which sample paths stay inside a
// kit folder, kits' numbers, how velocity and pan become gains, and what
// a hit silences.
#include "drumpad/kit_model.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(KitRelativePath, PathsInsideTheKitFolderAreKeptAndAllOthersRefused)
{
    struct Case {
        const char* base;
        const char* name;
        const char* path; // "" refused
    } cases[] = {
        {"", "kick.wav", "kick.wav"},
        {"", "Samples\\Kick Hard 01.wav", "Samples/Kick Hard 01.wav"},
        {"", "./a//b/./c.flac", "a/b/c.flac"},
        {"Programs", "../Samples/kick.wav", "Samples/kick.wav"}, // an SFZ in a folder of its kit
        {"Programs", "..\\..\\kick.wav", ""},
        {"", "../kick.wav", ""},
        {"", "a/../../kick.wav", ""},
        {"", "/etc/passwd", ""},
        {"", "\\Windows\\win.ini", ""},
        {"", "\\\\server\\share\\x.wav", ""},
        {"", "C:\\kit\\x.wav", ""},
        {"", "C:x.wav", ""},
        {"", "x.wav:stream", ""},
        {"", "a/.../x.wav", ""}, // Windows would drop the dots
        {"", "a/.. /x.wav", ""},
        {"", "x.wav.", ""},
        {"", "CON", ""},
        {"", "sub/nul.wav", ""},
        {"", "com1.flac", ""},
        {"", "console.wav", "console.wav"},
        {"", "a\x01.wav", ""},
        {"", "a*.wav", ""},
        {"", "", ""},
        {"", "..", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KitRelativePath(c.base, c.name, TextCoding::Utf8), c.path) << c.base << " + " << c.name;

    // GBK: a trail byte 0x5C is no separator, a lead byte hides no "..".
    EXPECT_EQ(KitRelativePath("", "\xB9\xC4\x95\x5C.wav", TextCoding::Ansi), "\xB9\xC4\x95\x5C.wav");
    EXPECT_EQ(KitRelativePath("", "\xB9\xC4\\..\\..\\x.wav", TextCoding::Ansi), "");
    // UTF-8: "中" ends in 0xAD, which GBK would take as a lead byte
    // hiding the ":" after it.
    EXPECT_EQ(KitRelativePath("", "\xE4\xB8\xAD:x.wav", TextCoding::Utf8), "");
    EXPECT_EQ(KitRelativePath("", "\xE4\xB8\xAD/x.wav", TextCoding::Utf8), "\xE4\xB8\xAD/x.wav");
    EXPECT_EQ(KitRelativePath("", std::string(1100, 'a'), TextCoding::Utf8), "");
}

TEST(KitNumbers, OnlyFiniteDecimalsCount)
{
    double v = -1;
    for (const char* good : {"0", "1.5", " -0.25 ", "+3", "1e2", "0.000001"})
        EXPECT_TRUE(ParseKitNumber(good, &v)) << good;
    EXPECT_EQ((ParseKitNumber("1e2", &v), v), 100.0);
    for (const char* bad : {"", " ", "nan", "NaN", "inf", "-Infinity", "1e400", "1.5x", "0x10", "+-1", "--1", "1,5"})
        EXPECT_FALSE(ParseKitNumber(bad, &v)) << bad;
    int64_t n = 0;
    EXPECT_TRUE(ParseKitInteger(" 42\n", &n));
    EXPECT_EQ(n, 42);
    EXPECT_TRUE(ParseKitInteger("-1", &n));
    EXPECT_EQ(n, -1);
    for (const char* bad : {"", "4.5", "99999999999999999999", "+-1", "12a"})
        EXPECT_FALSE(ParseKitInteger(bad, &n)) << bad;
    EXPECT_TRUE(IsUtf8("plain \xE4\xB8\xAD \xF0\x9F\xA5\x81"));
    for (const char* bad : {"\xB9\xC4", "\xC0\xAF", "\xE4\xB8", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"})
        EXPECT_FALSE(IsUtf8(bad)) << bad;
}

TEST(VelocityGain, EachKitsRuleGivesItsGain)
{
    VelocityRule constant, linear, letters, square, half, none, inverted, points;
    linear.kind = VelocityRule::Linear;
    letters.kind = VelocityRule::LetterKit;
    square.kind = half.kind = none.kind = inverted.kind = points.kind = VelocityRule::Curve;
    half.track = 0.5f;
    none.track = 0.0f;
    inverted.track = -1.0f;
    points.points = {{64, 0.8f}}; // from (0, 0) through (64, 0.8) to (127, 1)
    struct Case {
        const VelocityRule* rule;
        int velocity;
        double gain;
    } cases[] = {
        {&constant, 1, 1.0},      {&constant, 127, 1.0},   {&linear, 127, 1.0},
        {&linear, 100, 100 / 127.0}, {&linear, 0, 0.0},     {&letters, 100, 1.0},
        {&letters, 40, 0.316},    {&letters, 127, 1.0},    {&letters, 70, 0.6386},
        {&square, 127, 1.0},      {&square, 64, 0.2540},   {&half, 64, 0.6270},
        {&half, 0, 0.5},          {&none, 1, 1.0},         {&inverted, 127, 0.0},
        {&inverted, 0, 1.0},      {&points, 64, 0.8},      {&points, 32, 0.4},
        {&points, 96, 0.9016},    {&points, 200, 1.0},     {&linear, -5, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(VelocityGain(*c.rule, c.velocity), c.gain, 0.0005) << c.rule->kind << " at " << c.velocity;
}

TEST(Pan, FarSideFallsAndALayerMovesInsideItsInstrument)
{
    EXPECT_EQ(PanGains(0.0f), (std::array<float, 2>{1.0f, 1.0f}));
    EXPECT_EQ(PanGains(-1.0f), (std::array<float, 2>{1.0f, 0.0f}));
    EXPECT_EQ(PanGains(0.5f), (std::array<float, 2>{0.5f, 1.0f}));
    EXPECT_EQ(PanGains(7.0f), (std::array<float, 2>{0.0f, 1.0f}));
    EXPECT_EQ(PanGains(NAN), (std::array<float, 2>{1.0f, 1.0f}));
    EXPECT_FLOAT_EQ(CombinedPan(0.0f, 0.3f), 0.3f);
    EXPECT_FLOAT_EQ(CombinedPan(-0.4f, 0.3f), -0.22f);
    EXPECT_FLOAT_EQ(CombinedPan(1.0f, -1.0f), 1.0f); // hard-panned stays there
}

TEST(ChokedLayers, AHitSilencesTheLayersItsGroupsTurnOffButNeverItsOwn)
{
    // Hydrogen: three instruments of mute group 2, one without a group.
    KitModel hydrogen;
    for (int64_t group : {int64_t(2), int64_t(2), kNoChokeGroup, int64_t(2)}) {
        KitInstrument ins;
        KitLayer l;
        l.chokeGroup = l.offBy = group;
        ins.layers = {l, l};
        hydrogen.instruments.push_back(ins);
    }
    std::vector<ChokedLayer> choked = ChokedLayers(hydrogen, 0);
    ASSERT_EQ(choked.size(), 4u);
    EXPECT_EQ(choked[0].instrument, 1u);
    EXPECT_EQ(choked[3].instrument, 3u);
    EXPECT_EQ(choked[3].layer, 1u);
    EXPECT_TRUE(ChokedLayers(hydrogen, 2).empty());

    // SFZ hi-hat: the closed (group 1) and pedal (group 2) hats turn the
    // open one off; the open one turns nothing off.
    KitModel sfz;
    sfz.kind = KitModel::Kind::Sfz;
    auto instrument = [](int64_t group, int64_t offBy) {
        KitInstrument ins;
        KitLayer l;
        l.chokeGroup = group;
        l.offBy = offBy;
        ins.layers = {l};
        return ins;
    };
    sfz.instruments = {instrument(1, kNoChokeGroup), instrument(2, kNoChokeGroup), instrument(3, 1), instrument(4, 2)};
    choked = ChokedLayers(sfz, 0);
    ASSERT_EQ(choked.size(), 1u);
    EXPECT_EQ(choked[0].instrument, 2u);
    EXPECT_EQ(ChokedLayers(sfz, 1)[0].instrument, 3u);
    EXPECT_TRUE(ChokedLayers(sfz, 2).empty());
}
