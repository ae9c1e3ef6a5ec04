#include "drumpad/hydrogen_kit.h"

#include <algorithm>
#include <map>

namespace {

// Hydrogen's own limits: a gain knob reaches 5, a volume fader 1.5.
constexpr double kMaxGain = 5.0;
constexpr double kMaxVolume = 1.5;

double Number(const XmlElement& e, const char* name, double fallback, double low, double high)
{
    const XmlElement* c = e.Child(name);
    double v;
    if (!c || !ParseKitNumber(c->text, &v))
        return fallback;
    return std::min(high, std::max(low, v));
}

bool HasNumber(const XmlElement& e, const char* name)
{
    double v;
    const XmlElement* c = e.Child(name);
    return c && ParseKitNumber(c->text, &v);
}

int64_t Integer(const XmlElement& e, const char* name, int64_t fallback)
{
    const XmlElement* c = e.Child(name);
    int64_t v;
    return c && ParseKitInteger(c->text, &v) ? v : fallback;
}

bool Flag(const XmlElement& e, const char* name, bool fallback)
{
    const XmlElement* c = e.Child(name);
    if (!c)
        return fallback;
    return c->text == "true" ? true : c->text == "false" ? false : fallback;
}

std::string Text(const XmlElement& e, const char* name)
{
    const XmlElement* c = e.Child(name);
    return c ? c->text : "";
}

bool ChoiceOf(const XmlElement& e, LayerChoice* choice)
{
    std::string algo = Text(e, "sampleSelectionAlgo");
    if (algo == "VELOCITY")
        *choice = LayerChoice::Velocity;
    else if (algo == "ROUND_ROBIN")
        *choice = LayerChoice::RoundRobin;
    else if (algo == "RANDOM")
        *choice = LayerChoice::Random;
    else
        return false;
    return true;
}

// Pan from the pair of channel levels Hydrogen kept before 1.2: the
// quieter side's level relative to the louder one's.
float PanOfLevels(double left, double right)
{
    if (left < 0 || right < 0 || (left == 0 && right == 0))
        return 0.0f;
    return (float)(left >= right ? right / left - 1.0 : 1.0 - left / right);
}

struct Component {
    const XmlElement* element; // the <instrumentComponent>, or the instrument of an older kit
    uint32_t index;
    double gain;
    LayerChoice choice;
};

class Reader {
public:
    explicit Reader(KitModel& kit) : kit_(kit) {}

    void ReadComponentVolumes(const XmlElement& root)
    {
        const XmlElement* list = root.Child("componentList");
        if (!list)
            return;
        for (const XmlElement& c : list->children)
            if (c.name == "drumkitComponent")
                volumes_[Integer(c, "id", -1)] = Number(c, "volume", 1.0, 0.0, kMaxVolume);
    }

    void ReadInstrument(const XmlElement& e)
    {
        int64_t id = Integer(e, "id", INT64_MIN);
        if (id == INT64_MIN)
            return; // Hydrogen drops an instrument without an id
        KitInstrument instrument;
        instrument.name = Text(e, "name");
        instrument.gain = (float)(Number(e, "gain", 1.0, 0.0, kMaxGain) * Number(e, "volume", 1.0, 0.0, kMaxVolume));
        instrument.muted = Flag(e, "isMuted", false);
        if (HasNumber(e, "pan"))
            instrument.pan = (float)Number(e, "pan", 0.0, -1.0, 1.0);
        else if (HasNumber(e, "pan_L") && HasNumber(e, "pan_R"))
            instrument.pan = PanOfLevels(Number(e, "pan_L", 1.0, 0.0, 1.0), Number(e, "pan_R", 1.0, 0.0, 1.0));
        int64_t note = Integer(e, "midiOutNote", std::min<int64_t>(id, 1000) + 36);
        instrument.note = (int)std::min<int64_t>(127, std::max<int64_t>(0, note));

        LayerChoice choice = LayerChoice::Velocity;
        ChoiceOf(e, &choice);
        int64_t group = Integer(e, "muteGroup", -1);
        KitLayer base;
        base.choice = choice;
        if (group != -1)
            base.chokeGroup = base.offBy = group;
        if (Integer(e, "isHihat", -1) >= 0) {
            int64_t low = Integer(e, "lower_cc", 0), high = Integer(e, "higher_cc", 127);
            base.pedalLow = (uint8_t)std::min<int64_t>(127, std::max<int64_t>(0, low));
            base.pedalHigh = (uint8_t)std::min<int64_t>(127, std::max<int64_t>(0, high));
        }
        VelocityRule rule;
        rule.kind = Flag(e, "applyVelocity", true) ? VelocityRule::Linear : VelocityRule::Constant;
        base.velocityRule = AddVelocityRule(kit_, rule);

        uint32_t index = 0;
        bool current = false;
        for (const XmlElement& c : e.children) {
            if (c.name != "instrumentComponent")
                continue;
            current = true;
            if (Flag(c, "isMuted", false)) {
                index++;
                continue;
            }
            Component component = {&c, index++, Number(c, "gain", 1.0, 0.0, kMaxGain), choice};
            ChoiceOf(c, &component.choice);
            auto volume = volumes_.find(Integer(c, "component_id", 0));
            if (volume != volumes_.end())
                component.gain *= volume->second;
            ReadLayers(component, base, instrument);
        }
        if (!current) {
            Component component = {&e, 0, 1.0, choice};
            if (e.Child("filename"))
                AddLayer(e, component, base, instrument);
            else
                ReadLayers(component, base, instrument);
        }
        kit_.instruments.push_back(std::move(instrument));
    }

private:
    void ReadLayers(const Component& component, const KitLayer& base, KitInstrument& instrument)
    {
        for (const XmlElement& l : component.element->children)
            if (l.name == "layer" && !Flag(l, "isMuted", false))
                AddLayer(l, component, base, instrument);
    }

    void AddLayer(const XmlElement& e, const Component& component, const KitLayer& base, KitInstrument& instrument)
    {
        std::string file = Text(e, "filename");
        if (file.empty())
            return;
        std::string path = KitRelativePath("", file, TextCoding::Utf8);
        if (path.empty()) {
            kit_.refused.push_back(file);
            return;
        }
        KitLayer layer = base;
        layer.sample = AddSample(kit_, path);
        layer.component = component.index;
        layer.choice = component.choice;
        layer.velocityLow = Number(e, "min", 0.0, 0.0, 1.0);
        layer.velocityHigh = Number(e, "max", 1.0, 0.0, 1.0);
        layer.gain = (float)(Number(e, "gain", 1.0, 0.0, kMaxGain) * component.gain);
        instrument.layers.push_back(layer);
    }

    KitModel& kit_;
    std::map<int64_t, double> volumes_;
};

} // namespace

const XmlElement* XmlElement::Child(const char* childName) const
{
    for (const XmlElement& c : children)
        if (c.name == childName)
            return &c;
    return nullptr;
}

KitModel HydrogenKitOfTree(const XmlElement& root)
{
    KitModel kit;
    kit.kind = KitModel::Kind::Hydrogen;
    kit.coding = TextCoding::Utf8;
    kit.name = Text(root, "name");
    Reader reader(kit);
    reader.ReadComponentVolumes(root);
    if (const XmlElement* list = root.Child("instrumentList"))
        for (const XmlElement& e : list->children)
            if (e.name == "instrument")
                reader.ReadInstrument(e);
    return kit;
}
