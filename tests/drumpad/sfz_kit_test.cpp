// SFZ kits read into the kit model: headers and their inheritance,
// #define and #include, note names, hostile texts.
#include "drumpad/sfz_kit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

class MapFiles : public SfzFiles {
public:
    std::map<std::string, std::string> files;
    int reads = 0;
    bool Read(const std::string& path, std::string* text) override
    {
        reads++;
        auto it = files.find(path);
        if (it == files.end())
            return false;
        *text = it->second;
        return true;
    }
};

KitModel Read(const std::string& text, const char* path = "kit.sfz")
{
    MapFiles files;
    files.files[path] = text;
    SfzKitResult r = ReadSfzKit(path, files);
    EXPECT_TRUE(r.ok) << r.error;
    return r.kit;
}

const KitInstrument* Key(const KitModel& kit, int note)
{
    for (const KitInstrument& ins : kit.instruments)
        if (ins.note == note)
            return &ins;
    return nullptr;
}

std::string SampleOf(const KitModel& kit, const KitLayer& l)
{
    return kit.samples[l.sample];
}

} // namespace

TEST(SfzKit, HeadersInheritDefinesExpandAndKeysMayBeNoteNames)
{
    KitModel kit = Read(R"(// a drum kit
<control> default_path=Samples\ label_key38=Snare set_cc4=10
#define $KICK 36
<global> volume=-6 amp_veltrack=50
<group> lovel=1 hivel=64 pan=-50
<region> sample=Kick Soft 01.wav key=$KICK
<region>sample=kick hard.wav key=$KICK lovel=65 hivel=127 volume=0
<master> loop_mode=one_shot
<group> seq_length=2
<region> sample=snare1.wav key=d2 seq_position=1   /* d2 is 38 */
<region> sample=snare2.wav key=D2 seq_position=2 pan=100
<region> sample=hat.wav lokey=d#2 hikey=42 group=1 // 39 .. 42
<region> sample=open.wav key=46 off_by=1 off_mode=normal ampeg_release=0.2 locc4=100 hicc4=127
         amp_velcurve_1=0.2 amp_velcurve_127=0.9 pitch_keycenter=46 tune=5
<curve> v000=0
)");
    std::vector<int> keys;
    for (const KitInstrument& ins : kit.instruments)
        keys.push_back(ins.note);
    EXPECT_EQ(keys, (std::vector<int>{36, 38, 39, 40, 41, 42, 46}));
    EXPECT_EQ(kit.coding, TextCoding::Utf8);
    EXPECT_EQ(kit.pedal, 10);

    const KitInstrument& kick = *Key(kit, 36);
    EXPECT_EQ(kick.name, "Kick Soft 01");
    ASSERT_EQ(kick.layers.size(), 2u);
    EXPECT_EQ(SampleOf(kit, kick.layers[0]), "Samples/Kick Soft 01.wav");
    EXPECT_NEAR(kick.layers[0].gain, std::pow(10.0, -6 / 20.0), 1e-6); // the global's volume
    EXPECT_FLOAT_EQ(kick.layers[1].gain, 1.0f);                        // the region's own
    EXPECT_DOUBLE_EQ(kick.layers[0].velocityHigh, 64 / 127.0);
    EXPECT_DOUBLE_EQ(kick.layers[1].velocityLow, 65 / 127.0);
    EXPECT_FLOAT_EQ(kick.layers[1].pan, -0.5f);
    EXPECT_FALSE(kick.layers[0].oneShot);
    EXPECT_FLOAT_EQ(kit.velocityRules[kick.layers[0].velocityRule].track, 0.5f);

    const KitInstrument& snare = *Key(kit, 38);
    EXPECT_EQ(snare.name, "Snare");
    ASSERT_EQ(snare.layers.size(), 2u);
    EXPECT_EQ(snare.layers[1].sequenceLength, 2);
    EXPECT_EQ(snare.layers[1].sequencePosition, 2);
    EXPECT_FLOAT_EQ(snare.layers[0].pan, 0.0f); // <master> ended the first group
    EXPECT_FLOAT_EQ(snare.layers[1].pan, 1.0f);
    EXPECT_DOUBLE_EQ(snare.layers[0].velocityLow, 1 / 127.0);
    EXPECT_TRUE(snare.layers[0].oneShot);
    EXPECT_EQ(Key(kit, 42)->layers[0].chokeGroup, 1);

    const KitLayer& open = Key(kit, 46)->layers[0];
    EXPECT_EQ(open.offBy, 1);
    EXPECT_FLOAT_EQ(open.chokeFadeMs, 200.0f);
    EXPECT_EQ(open.pedalLow, 100);
    const VelocityRule& curve = kit.velocityRules[open.velocityRule];
    EXPECT_EQ(curve.points, (std::vector<std::pair<uint8_t, float>>{{1, 0.2f}, {127, 0.9f}}));
    EXPECT_EQ(kit.unknownOpcodes, (std::vector<std::string>{"<curve>", "pitch_keycenter", "tune"}));
}

TEST(SfzKit, IncludesStayInsideTheKitReadOnceAndEndOnCycles)
{
    MapFiles files;
    files.files["Programs/kit.sfz"] = "#include \"parts/a.sfz\"\n"
                                      "#include \"../shared.sfz\"\n"
                                      "#include \"../../escape.sfz\"\n"
                                      "#include \"C:\\kits\\x.sfz\"\n"
                                      "#include \"gone.sfz\"\n"
                                      "#include \"deep0.sfz\"\n"
                                      "<region> sample=../Samples/tom.wav key=45\n"
                                      "<region> sample=../../secret.wav key=46\n";
    files.files["Programs/parts/a.sfz"] = "<region> sample=../Samples/a.wav key=36\n#include \"parts/b.sfz\"\n";
    files.files["Programs/parts/b.sfz"] = "<region> sample=../Samples/b.wav key=37\n#include \"parts/a.sfz\"\n"
                                          "#include \"parts/b.sfz\"\n";
    files.files["shared.sfz"] = "<region> sample=../Samples/shared.wav key=38\n"; // paths follow the kit.sfz
    for (int d = 0; d < 12; d++)
        files.files["Programs/deep" + std::to_string(d) + ".sfz"] =
            "<region> sample=d.wav key=" + std::to_string(60 + d) + "\n#include \"deep" + std::to_string(d + 1) +
            ".sfz\"\n";
    SfzKitResult r = ReadSfzKit("Programs/kit.sfz", files);
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<std::string> samples = r.kit.samples;
    EXPECT_EQ(samples, (std::vector<std::string>{"Samples/a.wav", "Samples/b.wav", "Samples/shared.wav",
                                                 "Programs/d.wav", "Samples/tom.wav"}));
    EXPECT_EQ(r.kit.refused, (std::vector<std::string>{"#include parts/a.sfz", "#include parts/b.sfz",
                                                       "#include ../../escape.sfz", "#include C:\\kits\\x.sfz",
                                                       "#include gone.sfz", "#include deep8.sfz",
                                                       "../../secret.wav"}));
    // Depth 8 is the last read: keys 60 .. 67 from deep0 .. deep7.
    EXPECT_NE(Key(r.kit, 67), nullptr);
    EXPECT_EQ(Key(r.kit, 68), nullptr);

    MapFiles none;
    EXPECT_FALSE(ReadSfzKit("kit.sfz", none).ok);
    EXPECT_FALSE(ReadSfzKit("../kit.sfz", none).ok);
    EXPECT_EQ(none.reads, 1); // the path leaving the kit is never read
}

TEST(SfzKit, HostileTextsGiveNoSoundOutsideTheirRanges)
{
    KitModel kit = Read("<region> sample=a.wav key=128\n"
                        "<region> sample=a.wav key=-1\n"
                        "<region> sample=a.wav key=h4\n"
                        "<region> sample=a.wav lokey=60 hikey=50\n"
                        "<region> sample=b.wav key=30 lovel=100 hivel=20 volume=nan pan=-1e9 seq_length=0\n"
                        "<region> sample=c.wav key=31 volume=1000 seq_length=1e9 seq_position=-4 lorand=2 hirand=-1\n"
                        "<region> sample=d.wav key=32 volume=1e400 amp_velcurve_999=1 amp_velcurve_64=nan\n"
                        "<region> sample=*sine key=33\n"
                        "<region> sample=r.wav key=34 trigger=release\n"
                        "<region> key=35\n"
                        "= lonely equals <region sample=x.wav key=36\n");
    std::vector<int> keys;
    for (const KitInstrument& ins : kit.instruments)
        keys.push_back(ins.note);
    EXPECT_EQ(keys, (std::vector<int>{30, 31, 32}));
    const KitLayer& b = Key(kit, 30)->layers[0];
    EXPECT_GT(b.velocityLow, b.velocityHigh);
    EXPECT_FLOAT_EQ(b.gain, 1.0f);
    EXPECT_FLOAT_EQ(b.pan, -1.0f);
    EXPECT_EQ(b.sequenceLength, 1);
    const KitLayer& c = Key(kit, 31)->layers[0];
    EXPECT_NEAR(c.gain, std::pow(10.0, 6 / 20.0), 1e-5);
    EXPECT_EQ(c.sequenceLength, 100);
    EXPECT_EQ(c.sequencePosition, 1);
    EXPECT_EQ(c.randomLow, 1.0);
    EXPECT_EQ(c.randomHigh, 0.0);
    EXPECT_FLOAT_EQ(Key(kit, 32)->layers[0].gain, 1.0f);
    EXPECT_TRUE(kit.velocityRules[Key(kit, 32)->layers[0].velocityRule].points.empty());
    EXPECT_EQ(kit.unknownOpcodes, (std::vector<std::string>{"amp_velcurve_999", "sample=*sine", "trigger=release"}));

    // A file past its limit; binary junk; an unclosed comment; GBK.
    MapFiles big;
    big.files["kit.sfz"] = std::string(kMaxSfzFileBytes + 1, ' ');
    EXPECT_FALSE(ReadSfzKit("kit.sfz", big).ok);
    std::string junk;
    uint32_t s = 7;
    while (junk.size() < 100000) {
        s = s * 1103515245u + 12345u;
        junk += (char)(s >> 24);
    }
    Read(junk);
    EXPECT_TRUE(Read("<region> sample=a.wav key=36 /* never closed <region> sample=b.wav key=37").instruments.size() == 1);
    KitModel gbk = Read("<region> sample=\xB9\xC4\x95\x5C.wav key=36\n");
    EXPECT_EQ(gbk.coding, TextCoding::Ansi);
    EXPECT_EQ(gbk.samples, (std::vector<std::string>{"\xB9\xC4\x95\x5C.wav"}));
}
