#include "drumpad/sfz_kit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>

namespace {

using Opcodes = std::map<std::string, std::string>;

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A key: a number, or a note name such as "c4" (60), "C#3", "eb-1".
bool ParseKey(const std::string& text, int* key)
{
    int64_t n;
    if (ParseKitInteger(text, &n)) {
        if (n < 0 || n > 127)
            return false;
        *key = (int)n;
        return true;
    }
    static const int semitones[7] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return false;
    char letter = (char)std::tolower((unsigned char)text[i]);
    if (letter < 'a' || letter > 'g')
        return false;
    int value = semitones[letter - 'a'];
    i++;
    if (i < text.size() && text[i] == '#')
        value++, i++;
    else if (i < text.size() && text[i] == 'b')
        value--, i++;
    int64_t octave;
    if (!ParseKitInteger(text.substr(i), &octave) || octave < -1 || octave > 9)
        return false;
    value += 12 * ((int)octave + 1);
    if (value < 0 || value > 127)
        return false;
    *key = value;
    return true;
}

double NumberOr(const Opcodes& o, const char* name, double fallback, double low, double high)
{
    auto it = o.find(name);
    double v;
    if (it == o.end() || !ParseKitNumber(it->second, &v))
        return fallback;
    return std::min(high, std::max(low, v));
}

int64_t IntegerOr(const Opcodes& o, const char* name, int64_t fallback)
{
    auto it = o.find(name);
    int64_t v;
    return it != o.end() && ParseKitInteger(it->second, &v) ? v : fallback;
}

// The value of an opcode: the sample's runs to the line's end, a comment,
// a header or the next "name=" (names may hold spaces); others end at
// the first space.
size_t ValueEnd(const std::string& t, size_t i)
{
    size_t end = i;
    while (end < t.size() && t[end] != '\n' && t[end] != '\r' && t[end] != '<' && t.compare(end, 2, "//") != 0 &&
           t.compare(end, 2, "/*") != 0) {
        if (IsSpace(t[end])) {
            size_t n = end;
            while (n < t.size() && (t[n] == ' ' || t[n] == '\t'))
                n++;
            size_t name = n;
            while (name < t.size() && IsNameChar(t[name]))
                name++;
            if (name > n && name < t.size() && t[name] == '=')
                break;
            end = n;
            continue;
        }
        end++;
    }
    return end;
}

std::string TrimmedRight(std::string s)
{
    while (!s.empty() && IsSpace(s.back()))
        s.pop_back();
    return s;
}

class SfzReader {
public:
    SfzReader(SfzFiles& files, const std::string& folder) : files_(files), folder_(folder) {}

    bool ReadFile(const std::string& path, int depth, std::string* error)
    {
        std::string text;
        if (!files_.Read(path, &text)) {
            *error = "找不到 " + path;
            return false;
        }
        if (text.size() > kMaxSfzFileBytes || total_ + text.size() > kMaxSfzTotalBytes) {
            *error = path + " 过大";
            return false;
        }
        total_ += text.size();
        if (depth == 0)
            kit_.coding = IsUtf8(text) ? TextCoding::Utf8 : TextCoding::Ansi;
        reading_.push_back(path);
        Parse(text, depth);
        reading_.pop_back();
        return true;
    }

    KitModel Finish()
    {
        EndRegion();
        BuildInstruments();
        kit_.kind = KitModel::Kind::Sfz;
        kit_.unknownOpcodes.assign(unknown_.begin(), unknown_.end());
        return std::move(kit_);
    }

private:
    struct Region {
        Opcodes opcodes;
        std::string defaultPath;
    };
    enum class Header { None, Control, Global, Master, Group, Region, Other };

    void Parse(const std::string& t, int depth)
    {
        size_t i = 0;
        while (i < t.size()) {
            if (IsSpace(t[i])) {
                i++;
            } else if (t.compare(i, 2, "//") == 0) {
                i = std::min(t.size(), t.find('\n', i));
            } else if (t.compare(i, 2, "/*") == 0) {
                size_t end = t.find("*/", i + 2);
                i = end == std::string::npos ? t.size() : end + 2;
            } else if (t[i] == '<') {
                size_t end = t.find('>', i);
                if (end == std::string::npos)
                    return;
                std::string name = t.substr(i + 1, end - i - 1);
                name.erase(0, name.find_first_not_of(" \t"));
                StartHeader(TrimmedRight(name));
                i = end + 1;
            } else if (t[i] == '#') {
                i = Directive(t, i, depth);
            } else {
                size_t name = i;
                while (i < t.size() && IsNameChar(t[i]))
                    i++;
                if (i == name || i >= t.size() || t[i] != '=') {
                    // Not an opcode: skip the word.
                    while (i < t.size() && !IsSpace(t[i]))
                        i++;
                    continue;
                }
                size_t end = ValueEnd(t, i + 1);
                Opcode(Expanded(t.substr(name, i - name)), Expanded(TrimmedRight(t.substr(i + 1, end - i - 1))));
                i = end;
            }
        }
    }

    size_t Directive(const std::string& t, size_t i, int depth)
    {
        size_t lineEnd = std::min(t.size(), t.find('\n', i));
        std::string line = t.substr(i, lineEnd - i);
        if (line.compare(0, 8, "#define ") == 0 || line.compare(0, 8, "#define\t") == 0) {
            size_t name = line.find('$');
            size_t nameEnd = name;
            while (nameEnd != std::string::npos && nameEnd < line.size() && IsNameChar(line[nameEnd]) &&
                   (nameEnd == name || line[nameEnd] != '$'))
                nameEnd++;
            if (name != std::string::npos && nameEnd > name + 1 && defines_.size() < 1024) {
                size_t valueEnd = ValueEnd(line, nameEnd);
                std::string value = line.substr(nameEnd, valueEnd - nameEnd);
                value.erase(0, value.find_first_not_of(" \t"));
                defines_[line.substr(name, nameEnd - name)] = TrimmedRight(value);
            }
            return lineEnd;
        }
        if (line.compare(0, 8, "#include") == 0) {
            size_t open = line.find('"');
            size_t close = open == std::string::npos ? open : line.find('"', open + 1);
            if (close != std::string::npos)
                Include(Expanded(line.substr(open + 1, close - open - 1)), depth);
            return close == std::string::npos ? lineEnd : i + close + 1;
        }
        unknown_.insert(line.substr(0, line.find_first_of(" \t\r")));
        return lineEnd;
    }

    void Include(const std::string& name, int depth)
    {
        std::string path = KitRelativePath(folder_, name, kit_.coding);
        std::string error;
        if (path.empty() || depth + 1 > kMaxSfzIncludeDepth || ++includes_ > kMaxSfzIncludes ||
            std::find(reading_.begin(), reading_.end(), path) != reading_.end() ||
            !ReadFile(path, depth + 1, &error))
            kit_.refused.push_back("#include " + name);
    }

    // $NAME replaced by its #define, the longest defined name first.
    std::string Expanded(const std::string& s) const
    {
        if (defines_.empty() || s.find('$') == std::string::npos)
            return s;
        std::string out;
        for (size_t i = 0; i < s.size();) {
            size_t best = 0;
            const std::string* value = nullptr;
            if (s[i] == '$') {
                for (auto& d : defines_)
                    if (d.first.size() > best && s.compare(i, d.first.size(), d.first) == 0)
                        best = d.first.size(), value = &d.second;
            }
            if (value) {
                out += *value;
                i += best;
            } else {
                out += s[i++];
            }
        }
        return out;
    }

    void StartHeader(const std::string& name)
    {
        EndRegion();
        if (name == "control") {
            header_ = Header::Control;
        } else if (name == "global") {
            header_ = Header::Global;
            global_.clear(), master_.clear(), group_.clear();
        } else if (name == "master") {
            header_ = Header::Master;
            master_.clear(), group_.clear();
        } else if (name == "group") {
            header_ = Header::Group;
            group_.clear();
        } else if (name == "region") {
            header_ = Header::Region;
            region_ = Region{{}, defaultPath_};
            inRegion_ = true;
        } else {
            header_ = Header::Other;
            unknown_.insert("<" + name + ">");
        }
    }

    void Opcode(const std::string& name, const std::string& value)
    {
        switch (header_) {
        case Header::Control:
            if (name == "default_path")
                defaultPath_ = value;
            else if (name == "set_cc4")
                SetPedal(value);
            else if (name.compare(0, 9, "label_key") == 0 && name.size() > 9)
                Label(name.substr(9), value);
            else
                unknown_.insert(name);
            return;
        case Header::Global:
            global_[name] = value;
            return;
        case Header::Master:
            master_[name] = value;
            return;
        case Header::Group:
            group_[name] = value;
            return;
        case Header::Region:
            region_.opcodes[name] = value;
            return;
        case Header::None:
        case Header::Other:
            return;
        }
    }

    void SetPedal(const std::string& value)
    {
        double v;
        if (ParseKitNumber(value, &v))
            kit_.pedal = (uint8_t)std::min(127.0, std::max(0.0, v));
    }

    void Label(const std::string& number, const std::string& value)
    {
        int key;
        if (ParseKey(number, &key))
            labels_[key] = value;
    }

    void EndRegion()
    {
        if (!inRegion_)
            return;
        inRegion_ = false;
        if (regions_.size() >= kMaxSfzRegions)
            return;
        Opcodes merged = global_;
        for (const Opcodes* level : {&master_, &group_, &region_.opcodes})
            for (auto& o : *level)
                merged[o.first] = o.second;
        regions_.push_back({std::move(merged), region_.defaultPath});
    }

    void BuildInstruments()
    {
        std::array<std::vector<KitLayer>, 128> byKey;
        std::array<std::string, 128> firstSample;
        for (const Region& r : regions_)
            AddRegion(r, byKey, firstSample);
        for (int key = 0; key < 128; key++) {
            if (byKey[key].empty())
                continue;
            KitInstrument instrument;
            auto label = labels_.find(key);
            instrument.name = label != labels_.end() ? label->second : Stem(firstSample[key]);
            instrument.note = key;
            instrument.layers = std::move(byKey[key]);
            kit_.instruments.push_back(std::move(instrument));
        }
    }

    static std::string Stem(const std::string& path)
    {
        std::string name = path.substr(path.rfind('/') + 1);
        return name.substr(0, name.rfind('.'));
    }

    // Counts every opcode of the region that is none of ours.
    void NoteUnknown(const Opcodes& o)
    {
        static const std::set<std::string> known = {
            "sample",     "key",      "lokey",       "hikey",         "lovel",     "hivel",
            "seq_length", "seq_position", "lorand",  "hirand",        "group",     "polyphony_group",
            "off_by",     "offby",    "off_mode",    "offmode",       "volume",    "gain",
            "pan",        "amp_veltrack", "loop_mode", "loopmode",    "trigger",   "locc4",
            "hicc4",      "ampeg_release"};
        for (auto& op : o) {
            if (known.count(op.first))
                continue;
            int64_t n;
            if (op.first.compare(0, 13, "amp_velcurve_") == 0 && ParseKitInteger(op.first.substr(13), &n) && n >= 0 &&
                n <= 127)
                continue;
            unknown_.insert(op.first);
        }
    }

    void AddRegion(const Region& r, std::array<std::vector<KitLayer>, 128>& byKey,
                   std::array<std::string, 128>& firstSample)
    {
        const Opcodes& o = r.opcodes;
        NoteUnknown(o);
        auto sample = o.find("sample");
        if (sample == o.end() || sample->second.empty())
            return;
        if (sample->second[0] == '*') {
            unknown_.insert("sample=" + sample->second); // a generator, not a file
            return;
        }
        auto trigger = o.find("trigger");
        if (trigger != o.end() && trigger->second != "attack") {
            unknown_.insert("trigger=" + trigger->second);
            return;
        }
        std::string path = KitRelativePath(folder_, r.defaultPath + sample->second, kit_.coding);
        if (path.empty()) {
            kit_.refused.push_back(r.defaultPath + sample->second);
            return;
        }
        int low = 0, high = 127;
        auto key = o.find("key");
        if (key != o.end() && !ParseKey(key->second, &low))
            return;
        if (key != o.end())
            high = low;
        auto lokey = o.find("lokey"), hikey = o.find("hikey");
        if (lokey != o.end() && !ParseKey(lokey->second, &low))
            return;
        if (hikey != o.end() && !ParseKey(hikey->second, &high))
            return;
        KitLayer layer = LayerOf(o);
        layer.sample = AddSample(kit_, path);
        for (int k = low; k <= high && layers_ < kMaxLayers; k++, layers_++) {
            if (byKey[k].empty())
                firstSample[k] = path;
            byKey[k].push_back(layer);
        }
    }

    KitLayer LayerOf(const Opcodes& o)
    {
        KitLayer layer;
        layer.velocityLow = NumberOr(o, "lovel", 1, 0, 127) / 127.0;
        layer.velocityHigh = NumberOr(o, "hivel", 127, 0, 127) / 127.0;
        layer.randomLow = NumberOr(o, "lorand", 0, 0, 1);
        layer.randomHigh = NumberOr(o, "hirand", 1, 0, 1);
        layer.sequenceLength = (int)NumberOr(o, "seq_length", 1, 1, 100);
        layer.sequencePosition = (int)NumberOr(o, "seq_position", 1, 1, 100);
        double db = NumberOr(o, o.count("volume") ? "volume" : "gain", 0, -144, 6);
        layer.gain = (float)std::pow(10.0, db / 20.0);
        layer.pan = (float)(NumberOr(o, "pan", 0, -100, 100) / 100.0);
        const char* group = o.count("group") ? "group" : "polyphony_group";
        layer.chokeGroup = IntegerOr(o, group, 0);
        layer.offBy = IntegerOr(o, o.count("off_by") ? "off_by" : "offby", kNoChokeGroup);
        auto mode = o.find(o.count("off_mode") ? "off_mode" : "offmode");
        if (mode != o.end() && mode->second == "normal")
            layer.chokeFadeMs = (float)std::max(5.0, NumberOr(o, "ampeg_release", 0, 0, 100) * 1000.0);
        else if (mode != o.end() && mode->second != "fast")
            unknown_.insert("off_mode=" + mode->second);
        auto loop = o.find(o.count("loop_mode") ? "loop_mode" : "loopmode");
        layer.oneShot = loop != o.end() && loop->second == "one_shot";
        if (loop != o.end() && loop->second != "one_shot" && loop->second != "no_loop")
            unknown_.insert("loop_mode=" + loop->second);
        layer.pedalLow = (uint8_t)NumberOr(o, "locc4", 0, 0, 127);
        layer.pedalHigh = (uint8_t)NumberOr(o, "hicc4", 127, 0, 127);
        layer.velocityRule = AddVelocityRule(kit_, RuleOf(o));
        return layer;
    }

    static VelocityRule RuleOf(const Opcodes& o)
    {
        VelocityRule rule;
        rule.kind = VelocityRule::Curve;
        rule.track = (float)(NumberOr(o, "amp_veltrack", 100, -100, 100) / 100.0);
        std::map<uint8_t, float> points;
        for (auto& op : o) {
            int64_t n;
            double v;
            if (op.first.compare(0, 13, "amp_velcurve_") == 0 && ParseKitInteger(op.first.substr(13), &n) && n >= 0 &&
                n <= 127 && ParseKitNumber(op.second, &v))
                points[(uint8_t)n] = (float)std::min(1.0, std::max(0.0, v));
        }
        rule.points.assign(points.begin(), points.end());
        return rule;
    }

    // Layers over all keys: one region may cover all 128 keys.
    static constexpr size_t kMaxLayers = 262144;

    SfzFiles& files_;
    std::string folder_;
    KitModel kit_;
    std::vector<std::string> reading_;
    size_t total_ = 0;
    int includes_ = 0;
    std::map<std::string, std::string> defines_;
    std::set<std::string> unknown_;
    Header header_ = Header::None;
    Opcodes global_, master_, group_;
    Region region_;
    bool inRegion_ = false;
    std::string defaultPath_;
    std::map<int, std::string> labels_;
    std::vector<Region> regions_;
    size_t layers_ = 0;
};

} // namespace

SfzKitResult ReadSfzKit(const std::string& path, SfzFiles& files)
{
    SfzKitResult result;
    std::string normal = KitRelativePath("", path, TextCoding::Ansi);
    if (normal.empty()) {
        result.error = "不接受 " + path;
        return result;
    }
    size_t slash = normal.rfind('/');
    SfzReader reader(files, slash == std::string::npos ? "" : normal.substr(0, slash));
    result.ok = reader.ReadFile(normal, 0, &result.error);
    if (result.ok)
        result.kit = reader.Finish();
    return result;
}
