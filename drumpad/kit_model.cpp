#include "drumpad/kit_model.h"

#include "core/ascii.h"
#include "drumpad/hits.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

bool IsGbkLead(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// Names Windows opens as devices whatever their extension or folder.
bool IsDeviceName(const std::string& part)
{
    std::string stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = UpperAscii(c);
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* d : devices)
        if (stem == d)
            return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

bool IsPathPart(const std::string& part, TextCoding coding)
{
    if (part.size() > 200 || !HasOnlyFileNameCharacters(part, coding))
        return false;
    // Windows drops a trailing dot or space, so "..." or ". ." could
    // become "..".
    return part.back() != '.' && part.back() != ' ' && !IsDeviceName(part);
}

// The parts of a path written with "/" or "\", empty ones included.
std::vector<std::string> PathParts(const std::string& path, TextCoding coding)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < path.size(); i++) {
        unsigned char c = (unsigned char)path[i];
        if (coding == TextCoding::Ansi && IsGbkLead(c) && i + 1 < path.size()) {
            parts.back() += path.substr(i, 2);
            i++;
        } else if (c == '/' || c == '\\') {
            parts.emplace_back();
        } else {
            parts.back() += (char)c;
        }
    }
    return parts;
}

} // namespace

bool HasOnlyFileNameCharacters(const std::string& name, TextCoding coding)
{
    if (name.empty())
        return false;
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = (unsigned char)name[i];
        if (coding == TextCoding::Ansi && IsGbkLead(c) && i + 1 < name.size()) {
            i++;
            continue;
        }
        if (c < 0x20 || std::string("\\/:*?\"<>|").find((char)c) != std::string::npos)
            return false;
    }
    return true;
}

float VelocityGain(const VelocityRule& rule, int velocity)
{
    double v = std::min(127, std::max(0, velocity));
    switch (rule.kind) {
    case VelocityRule::Constant:
        return 1.0f;
    case VelocityRule::Linear:
        return (float)(v / 127.0);
    case VelocityRule::LetterKit: {
        // Through a plain hit's (100, 1.0) and a soft note's (40, 0.316).
        static const double exponent = std::log((double)kSoftNoteGain) / std::log(40.0 / 100.0);
        return (float)std::min(1.0, std::pow(v / 100.0, exponent));
    }
    case VelocityRule::Curve:
        break;
    }
    double curve = (v / 127.0) * (v / 127.0);
    if (!rule.points.empty()) {
        // Linear between the kit's points, from (0, 0) to (127, 1) where
        // the kit gives no end of its own.
        std::vector<std::pair<uint8_t, float>> points = rule.points;
        if (points.front().first != 0)
            points.insert(points.begin(), {0, 0.0f});
        if (points.back().first != 127)
            points.push_back({127, 1.0f});
        size_t i = 1;
        while (i + 1 < points.size() && points[i].first < v)
            i++;
        double x0 = points[i - 1].first, x1 = points[i].first;
        double y0 = points[i - 1].second, y1 = points[i].second;
        curve = x1 > x0 ? y0 + (y1 - y0) * (v - x0) / (x1 - x0) : y1;
    }
    double track = std::min(1.0, std::max(-1.0, (double)rule.track));
    double gain = track >= 0 ? 1.0 - track * (1.0 - curve) : 1.0 + track * curve;
    return (float)std::min(1.0, std::max(0.0, gain));
}

uint32_t AddSample(KitModel& model, const std::string& sample)
{
    auto it = std::find(model.samples.begin(), model.samples.end(), sample);
    if (it != model.samples.end())
        return (uint32_t)(it - model.samples.begin());
    model.samples.push_back(sample);
    return (uint32_t)model.samples.size() - 1;
}

uint32_t AddVelocityRule(KitModel& model, const VelocityRule& rule)
{
    auto it = std::find(model.velocityRules.begin(), model.velocityRules.end(), rule);
    if (it != model.velocityRules.end())
        return (uint32_t)(it - model.velocityRules.begin());
    model.velocityRules.push_back(rule);
    return (uint32_t)model.velocityRules.size() - 1;
}

std::string KitRelativePath(const std::string& base, const std::string& name, TextCoding coding)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\' || name.size() > 1024)
        return "";
    std::vector<std::string> kept;
    for (const std::string& part : PathParts(base, coding))
        if (!part.empty())
            kept.push_back(part);
    for (const std::string& part : PathParts(name, coding)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (kept.empty())
                return "";
            kept.pop_back();
        } else if (IsPathPart(part, coding)) {
            kept.push_back(part);
        } else {
            return "";
        }
    }
    std::string path;
    for (const std::string& part : kept)
        path += (path.empty() ? "" : "/") + part;
    return path;
}

bool IsUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
        if (n == 9 || c == 0xC0 || c == 0xC1 || c > 0xF4 || (n > 0 && i + n >= text.size()))
            return false;
        uint32_t code = n == 0 ? c : c & (0x3F >> n);
        for (size_t k = 1; k <= n; k++) {
            unsigned char t = (unsigned char)text[i + k];
            if ((t >> 6) != 0x2)
                return false;
            code = (code << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((n == 2 && code < 0x800) || (n == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

namespace {

// The text without the spaces, tabs and line ends around it.
std::string Stripped(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    return text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1);
}

} // namespace

bool ParseKitNumber(const std::string& text, double* value)
{
    std::string s = Stripped(text);
    // from_chars takes no "+", and reads "nan" and "inf", which no kit means.
    size_t from = !s.empty() && s[0] == '+' ? 1 : 0;
    if (from == s.size() || (from == 1 && s[1] == '-') || s.find_first_of("nNiI") != std::string::npos)
        return false;
    double v = 0;
    auto r = std::from_chars(s.data() + from, s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool ParseKitInteger(const std::string& text, int64_t* value)
{
    std::string s = Stripped(text);
    size_t from = !s.empty() && s[0] == '+' ? 1 : 0;
    int64_t v = 0;
    auto r = std::from_chars(s.data() + from, s.data() + s.size(), v);
    if (from == s.size() || (from == 1 && s[1] == '-') || r.ec != std::errc() || r.ptr != s.data() + s.size())
        return false;
    *value = v;
    return true;
}

std::array<float, 2> PanGains(float pan)
{
    if (!(pan >= -1.0f))
        pan = pan > 1.0f ? 1.0f : pan != pan ? 0.0f : -1.0f;
    pan = std::min(1.0f, pan);
    return {pan > 0 ? 1.0f - pan : 1.0f, pan < 0 ? 1.0f + pan : 1.0f};
}

float CombinedPan(float instrumentPan, float layerPan)
{
    float pan = instrumentPan + layerPan * (1.0f - std::fabs(instrumentPan));
    return pan != pan ? 0.0f : std::min(1.0f, std::max(-1.0f, pan));
}

std::vector<ChokedLayer> ChokedLayers(const KitModel& model, uint32_t instrument)
{
    std::vector<int64_t> groups;
    for (const KitLayer& l : model.instruments[instrument].layers)
        if (l.chokeGroup != kNoChokeGroup)
            groups.push_back(l.chokeGroup);
    std::vector<ChokedLayer> choked;
    for (uint32_t i = 0; i < model.instruments.size(); i++) {
        if (i == instrument)
            continue;
        const std::vector<KitLayer>& layers = model.instruments[i].layers;
        for (uint32_t l = 0; l < layers.size(); l++)
            if (layers[l].offBy != kNoChokeGroup &&
                std::find(groups.begin(), groups.end(), layers[l].offBy) != groups.end())
                choked.push_back({i, l});
    }
    return choked;
}
