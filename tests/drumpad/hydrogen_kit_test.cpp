// Hydrogen's drumkit.xml read into the kit model: the current format, the
// older ones, hostile files, and every real kit of Debian's
// hydrogen-drumkits package.
#include "drumpad/hydrogen_kit.h"
#include "real_kits.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::string Kit(const std::string& instruments, const std::string& root = "<drumkit_info xmlns=\"http://www.hydrogen-music.org/drumkit\">")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + root + "<name>T</name>" + instruments + "</drumkit_info>";
}

KitModel Read(const std::string& text)
{
    HydrogenKitResult r = ReadHydrogenKit(text);
    EXPECT_TRUE(r.ok) << r.error;
    return r.kit;
}

} // namespace

TEST(HydrogenKit, ComponentsGainsPanGroupsAndTheHiHatZone)
{
    KitModel kit = Read(Kit(R"(
        <componentList><drumkitComponent><id>4</id><name>Room</name><volume>0.5</volume></drumkitComponent></componentList>
        <instrumentList>
         <instrument><id>3</id><name>Hat</name><volume>0.5</volume><gain>2</gain><pan>-0.5</pan>
          <muteGroup>1</muteGroup><midiOutNote>42</midiOutNote><applyVelocity>false</applyVelocity>
          <sampleSelectionAlgo>RANDOM</sampleSelectionAlgo><isHihat>1</isHihat><lower_cc>0</lower_cc><higher_cc>20</higher_cc>
          <instrumentComponent><component_id>0</component_id><gain>1</gain><sampleSelectionAlgo>ROUND_ROBIN</sampleSelectionAlgo>
           <layer><filename>hat soft.flac</filename><min>0</min><max>0.5</max><gain>0.8</gain></layer>
           <layer><filename>hat hard.flac</filename><min>0.4</min><max>1</max></layer>
           <layer><filename>muted.flac</filename><isMuted>true</isMuted></layer>
          </instrumentComponent>
          <instrumentComponent><component_id>4</component_id><gain>0.5</gain>
           <layer><filename>room/hat.flac</filename></layer>
          </instrumentComponent>
          <instrumentComponent><component_id>4</component_id><isMuted>true</isMuted>
           <layer><filename>never.flac</filename></layer>
          </instrumentComponent>
         </instrument>
        </instrumentList>)"));
    ASSERT_EQ(kit.instruments.size(), 1u);
    const KitInstrument& hat = kit.instruments[0];
    EXPECT_EQ(hat.name, "Hat");
    EXPECT_EQ(hat.note, 42);
    EXPECT_FLOAT_EQ(hat.gain, 1.0f);
    EXPECT_FLOAT_EQ(hat.pan, -0.5f);
    EXPECT_EQ(kit.samples, (std::vector<std::string>{"hat soft.flac", "hat hard.flac", "room/hat.flac"}));
    ASSERT_EQ(hat.layers.size(), 3u);
    EXPECT_EQ(hat.layers[0].choice, LayerChoice::RoundRobin); // the component's, before the instrument's
    EXPECT_EQ(hat.layers[2].choice, LayerChoice::Random);
    EXPECT_EQ(hat.layers[2].component, 1u);
    EXPECT_DOUBLE_EQ(hat.layers[1].velocityLow, 0.4);
    EXPECT_FLOAT_EQ(hat.layers[0].gain, 0.8f);
    EXPECT_FLOAT_EQ(hat.layers[2].gain, 0.25f); // component gain times the kit component's volume
    EXPECT_EQ(hat.layers[0].chokeGroup, 1);
    EXPECT_EQ(hat.layers[0].offBy, 1);
    EXPECT_EQ(hat.layers[0].pedalHigh, 20);
    EXPECT_EQ(kit.velocityRules[hat.layers[0].velocityRule].kind, VelocityRule::Constant);
}

TEST(HydrogenKit, OlderKitsKeepTheirLayersInTheInstrument)
{
    KitModel kit = Read(Kit(R"(<instrumentList>
         <instrument><id>0</id><name>Kick</name><pan_L>1</pan_L><pan_R>0.5</pan_R>
          <layer><filename>k1.wav</filename><min>0</min><max>0.5</max></layer>
          <layer><filename>k2.wav</filename><min>0.5</min><max>1</max></layer></instrument>
         <instrument><id>2</id><filename>snare.flac</filename><name>Snare</name><pan_L>0.25</pan_L><pan_R>1</pan_R></instrument>
         <instrument><name>no id</name><layer><filename>x.wav</filename></layer></instrument>
        </instrumentList>)",
                            "<drumkit_info>"));
    ASSERT_EQ(kit.instruments.size(), 2u); // Hydrogen drops an instrument without an id
    EXPECT_EQ(kit.instruments[0].note, 36); // no midiOutNote: 36 + id
    EXPECT_EQ(kit.instruments[1].note, 38);
    EXPECT_FLOAT_EQ(kit.instruments[0].pan, -0.5f);
    EXPECT_FLOAT_EQ(kit.instruments[1].pan, 0.75f);
    EXPECT_EQ(kit.instruments[0].layers.size(), 2u);
    ASSERT_EQ(kit.instruments[1].layers.size(), 1u);
    EXPECT_EQ(kit.samples[kit.instruments[1].layers[0].sample], "snare.flac");
    EXPECT_EQ(kit.velocityRules[kit.instruments[0].layers[0].velocityRule].kind, VelocityRule::Linear);
}

TEST(HydrogenKit, HostileFilesAreRefusedOrHeldToTheirRanges)
{
    struct Refused {
        const char* why;
        std::string text;
    } refused[] = {
        {"empty", ""},
        {"not XML", "drumkit"},
        {"truncated", Kit("<instrumentList><instrument><id>0</id>").substr(0, 90)},
        {"unclosed", Kit("<instrumentList><instrument><id>0</id></instrumentList>")},
        {"other root", "<?xml version=\"1.0\"?><song><name>x</name></song>"},
        {"other default namespace", Kit("", "<drumkit_info xmlns=\"urn:not-hydrogen\">")},
        {"other prefixed namespace", "<h:drumkit_info xmlns:h=\"urn:x\"><h:name>x</h:name></h:drumkit_info>"},
        {"too large", Kit(std::string(kMaxDrumkitXmlBytes, ' '))},
    };
    for (const Refused& r : refused) {
        HydrogenKitResult result = ReadHydrogenKit(r.text);
        EXPECT_FALSE(result.ok) << r.why;
        EXPECT_FALSE(result.error.empty()) << r.why;
    }
    EXPECT_TRUE(ReadHydrogenKit("<h:drumkit_info xmlns:h=\"http://www.hydrogen-music.org/drumkit\"/>").ok);
    // Entities of a DOCTYPE are never expanded.
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'j'; c++)
        laughs += std::string("<!ENTITY ") + c + " \"&" + (char)(c - 1) + ";&" + (char)(c - 1) + ";&" + (char)(c - 1) + ";\">";
    EXPECT_EQ(Read(laughs + "]><drumkit_info><name>&j;</name></drumkit_info>").name, "&j;");

    KitModel kit = Read(Kit(R"(<instrumentList>
         <instrument><id>9223372036854775807</id><gain>1e30</gain><volume>nan</volume><pan>-7</pan>
          <midiOutNote>99999999999999999999999</midiOutNote><muteGroup>abc</muteGroup>
          <layer><filename>ok.wav</filename><min>NaN</min><max>-3</max><gain>-2</gain></layer>
          <layer><filename>../../secret.wav</filename></layer>
          <layer><filename>/etc/passwd</filename></layer>
          <layer><filename>C:\Windows\win.ini</filename></layer>
          <layer><filename>sub\..\..\x.wav</filename></layer>
          <layer><filename>CON</filename></layer>
          <layer><filename></filename></layer>
         </instrument>
         <instrument><id>-5</id><midiOutNote>-40</midiOutNote></instrument>
        </instrumentList>)"));
    ASSERT_EQ(kit.instruments.size(), 2u);
    const KitInstrument& ins = kit.instruments[0];
    EXPECT_EQ(ins.note, 127);       // an id past any note, and a note that is no number
    EXPECT_FLOAT_EQ(ins.gain, 5.0f); // Hydrogen's largest gain; NaN volume keeps its 1
    EXPECT_FLOAT_EQ(ins.pan, -1.0f);
    ASSERT_EQ(ins.layers.size(), 1u);
    EXPECT_EQ(ins.layers[0].chokeGroup, kNoChokeGroup);
    EXPECT_EQ(ins.layers[0].velocityLow, 0.0);
    EXPECT_EQ(ins.layers[0].velocityHigh, 0.0);
    EXPECT_EQ(ins.layers[0].gain, 0.0f);
    EXPECT_EQ(kit.refused.size(), 5u);
    EXPECT_EQ(kit.instruments[1].note, 0);
    EXPECT_TRUE(kit.instruments[1].layers.empty());
}

TEST(HydrogenKit, TinyXmlByteEscapesAreReadBackAsTheBytes)
{
    // Without a declaration TinyXML wrote the file: "&#xC3;&#xA9;" is é.
    KitModel old = Read("<drumkit_info><name>Caf&#xC3;&#xA9; &#x3C;</name></drumkit_info>");
    EXPECT_EQ(old.name, "Caf\xC3\xA9 <");
    // With one, the same escapes are the characters Ã and ©.
    KitModel current = Read("<?xml version=\"1.0\"?><drumkit_info><name>&#xC3;&#xA9;</name></drumkit_info>");
    EXPECT_EQ(current.name, "\xC3\x83\xC2\xA9");
}

TEST(HydrogenKit, EveryRealKitOfDebianParsesAndFindsItsSamples)
{
    // Debian's hydrogen-drumkits (2017.09.19) lacks these files of one kit:
    // Hydrogen's own empty placeholder and a cowbell.
    const std::set<std::string> knownMissing = {"Millo_MultiLayered2/emptySample.flac",
                                                "Millo_MultiLayered2/misc_Cowbell.flac"};
    int kits = 0, layers = 0;
    std::set<std::string> missing;
    for (const auto& folder : std::filesystem::directory_iterator(kRealKits)) {
        if (!std::filesystem::exists(folder.path() / "drumkit.xml"))
            continue;
        kits++;
        HydrogenKitResult r = ReadHydrogenKit(FileText(folder.path() / "drumkit.xml"));
        ASSERT_TRUE(r.ok) << folder.path() << ": " << r.error;
        EXPECT_FALSE(r.kit.instruments.empty()) << folder.path();
        EXPECT_TRUE(r.kit.refused.empty()) << folder.path();
        for (const KitInstrument& ins : r.kit.instruments) {
            EXPECT_GE(ins.note, 0);
            EXPECT_LE(ins.note, 127);
            for (const KitLayer& l : ins.layers) {
                layers++;
                ASSERT_LT(l.sample, r.kit.samples.size());
                if (!std::filesystem::exists(folder.path() / r.kit.samples[l.sample]))
                    missing.insert(folder.path().filename().string() + "/" + r.kit.samples[l.sample]);
            }
        }
    }
    EXPECT_GE(kits, 14) << "hydrogen-drumkits is not installed";
    EXPECT_GE(layers, 700);
    EXPECT_EQ(missing, knownMissing);
}
