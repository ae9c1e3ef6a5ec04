#include "drumpad/key_map_rules.h"

#include "core/ascii.h"
#include "drumpad/kit_model.h"
#include "drumpad/kit_rules.h"

#include <algorithm>

namespace {

bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// Equal texts with ASCII letters compared without case; the trail byte of
// a GBK character is compared as it is.
bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (IsLeadByte((unsigned char)a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            i++;
        } else if (UpperAscii(a[i]) != UpperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Trimmed(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

int LetterOf(const std::string& key)
{
    if (key.size() != 1)
        return -1;
    char c = UpperAscii(key[0]);
    return (c >= 'A' && c <= 'Z') ? c - 'A' : -1;
}

// A decimal number of at most three digits, -1 for anything else.
int SmallNumber(const std::string& s)
{
    if (s.empty() || s.size() > 3)
        return -1;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

void ParseKeyLine(KeyMap& map, std::array<bool, kLetters>& seen, int letter, const std::string& value)
{
    if (letter < 0 || seen[letter])
        return;
    seen[letter] = true;
    std::string file = value;
    int note = -1;
    size_t comma = value.rfind(',');
    if (comma != std::string::npos) {
        int n = SmallNumber(Trimmed(value.substr(comma + 1)));
        if (n >= 0) {
            file = Trimmed(value.substr(0, comma));
            note = n <= 127 ? n : -1;
        }
    }
    if (file.empty())
        return;
    map.keys[letter].target = file;
    int target = file[0] == '#' ? SmallNumber(file.substr(1)) : -1;
    map.keys[letter].targetNote = target <= 127 ? target : -1;
    if (!IsKitLocalName(file)) {
        map.refused.push_back(file);
        return;
    }
    map.keys[letter].file = file;
    map.keys[letter].note = note;
}

uint32_t LetterMask(const std::string& letters)
{
    uint32_t mask = 0;
    for (size_t i = 0; i < letters.size(); i++) {
        if (IsLeadByte((unsigned char)letters[i])) {
            i++;
            continue;
        }
        int l = LetterOf(std::string(1, letters[i]));
        if (l >= 0)
            mask |= 1u << l;
    }
    return mask;
}

// The take order's pseudo-random numbers (xorshift32): the same seed
// gives the same order, which the tests rely on.
uint32_t NextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::string ShortName(const std::string& name)
{
    const size_t kMax = 60;
    if (name.size() <= kMax)
        return name;
    size_t i = 0;
    while (i < kMax)
        i += (IsLeadByte((unsigned char)name[i]) && i + 1 < name.size()) ? 2 : 1;
    if (i > kMax)
        i -= 2;
    return name.substr(0, i) + "…";
}

} // namespace

KeyMap ParseKeyMap(const std::string& whole)
{
    enum class Section { None, Keys, Choke } section = Section::None;
    KeyMap map;
    std::array<bool, kLetters> seen = {};
    std::string text = whole.substr(0, kMaxKeyMapBytes);
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = close == std::string::npos ? "" : Trimmed(line.substr(1, close - 1));
            section = name == "键位" ? Section::Keys : name == "闷音组" ? Section::Choke : Section::None;
            if (section == Section::Choke)
                map.hasChokeSection = true;
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = Trimmed(line.substr(0, eq));
        std::string value = Trimmed(line.substr(eq + 1));
        if (section == Section::Keys) {
            ParseKeyLine(map, seen, LetterOf(key), value);
        } else if (section == Section::Choke) {
            uint32_t mask = LetterMask(value);
            if (mask)
                map.chokeGroups.push_back(mask);
        }
    }
    return map;
}

bool IsKitLocalName(const std::string& name)
{
    return name.size() <= 200 && name != "." && name != ".." && HasOnlyFileNameCharacters(name, TextCoding::Ansi);
}

int TakeNumber(const std::string& fileName, const std::string& base)
{
    if (SameName(fileName, base))
        return 1;
    size_t dot = base.rfind('.');
    std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : base.substr(dot);
    if (fileName.size() < stem.size() + 2 + ext.size())
        return 0;
    if (!SameName(fileName.substr(0, stem.size()), stem) || fileName[stem.size()] != '-')
        return 0;
    if (!SameName(fileName.substr(fileName.size() - ext.size()), ext))
        return 0;
    std::string digits = fileName.substr(stem.size() + 1, fileName.size() - ext.size() - stem.size() - 1);
    if (digits.empty() || digits[0] == '0')
        return 0;
    int n = SmallNumber(digits);
    return (n >= 2 && n <= kMaxTakes) ? n : 0;
}

KeyAssignment AssignKeys(const std::vector<std::string>& files, const KeyMap* map)
{
    KeyAssignment result;
    for (int l = 0; l < kLetters; l++) {
        const std::string* mapped = (map && !map->keys[l].file.empty()) ? &map->keys[l].file : nullptr;
        size_t base = files.size();
        if (mapped) {
            for (size_t i = 0; i < files.size() && base == files.size(); i++)
                if (SameName(files[i], *mapped))
                    base = i;
            if (base == files.size()) {
                bool reported = std::any_of(result.missing.begin(), result.missing.end(),
                                            [&](const std::string& m) { return SameName(m, *mapped); });
                if (!reported)
                    result.missing.push_back(*mapped);
                continue;
            }
        } else {
            for (size_t i = 0; i < files.size(); i++)
                if (IsLetterSample(files[i], (char)('a' + l)))
                    base = i;
            if (base == files.size())
                continue;
        }
        std::array<size_t, kMaxTakes + 1> byNumber;
        byNumber.fill(files.size());
        byNumber[1] = base;
        for (size_t i = 0; i < files.size(); i++) {
            int n = TakeNumber(files[i], files[base]);
            if (n >= 2 && byNumber[n] == files.size())
                byNumber[n] = i;
        }
        for (int n = 1; n <= kMaxTakes; n++)
            if (byNumber[n] != files.size())
                result.takes[l].push_back(byNumber[n]);
    }
    return result;
}

std::vector<uint8_t> TakeOrder(size_t takes, size_t rounds, uint32_t seed)
{
    std::vector<uint8_t> order(takes * rounds);
    if (takes == 0)
        return order;
    uint32_t state = seed ? seed : 0x9E3779B9u;
    for (size_t r = 0; r < rounds; r++) {
        auto round = order.begin() + r * takes;
        for (size_t i = 0; i < takes; i++)
            round[i] = (uint8_t)i;
        for (size_t i = takes - 1; i > 0; i--)
            std::swap(round[i], round[NextRandom(state) % (i + 1)]);
        // The first rotation that follows the previous round without a
        // repeat, and in the last round also leads back to the start.
        bool last = r + 1 == rounds;
        for (size_t turn = 0; turn < takes && takes > 1; turn++) {
            bool fitsBefore = r == 0 || round[0] != round[-1];
            bool fitsAfter = !last || round[takes - 1] != order[0];
            if (fitsBefore && fitsAfter)
                break;
            std::rotate(round, round + 1, round + takes);
        }
    }
    return order;
}

std::string KeyMapText(const std::vector<std::string>& files, const KeyAssignment& current)
{
    std::string text = "; 逸响乐台的键位：每行“字母=文件名”，文件在本鼓源文件夹里；文件名后可加“,音符”（0-127）。\r\n"
                       "; 名为 x-2.wav、x-3.wav …… 的文件是 x.wav 的其他采样，按下时轮流随机播放。\r\n"
                       "; 闷音组：组内一个键会让组内其他键的声音淡出，例如：\r\n"
                       "; [闷音组]\r\n"
                       "; 踩镲=HJKL\r\n"
                       "[键位]\r\n";
    std::vector<bool> played(files.size(), false);
    for (int l = 0; l < kLetters; l++) {
        std::string letter(1, (char)('A' + l));
        if (current.takes[l].empty()) {
            text += ";" + letter + "=\r\n";
            continue;
        }
        for (size_t i : current.takes[l])
            played[i] = true;
        text += letter + "=" + files[current.takes[l].front()] + "\r\n";
    }
    bool heading = false;
    for (size_t i = 0; i < files.size(); i++) {
        if (played[i])
            continue;
        if (!heading)
            text += "; 没有键使用的文件：\r\n";
        heading = true;
        text += "; " + files[i] + "\r\n";
    }
    return text;
}

namespace {

// A letter's General MIDI note when the kit has it, -1 for the free letters.
constexpr int kDefaultNotes[kLetters] = {
    36, -1, -1, 37, 47, 39, 52, 44, 57, 42, 46, 55, -1, // A .. M
    -1, 51, 53, 50, 45, 38, 43, 49, -1, 48, -1, 41, -1, // N .. Z
};

int FirstWithNote(const std::vector<LetterInstrument>& instruments, int note)
{
    for (size_t i = 0; i < instruments.size(); i++)
        if (instruments[i].playable && instruments[i].note == note)
            return (int)i;
    return -1;
}

// The instrument a key map's target names: "#N", a name, or a file of one.
int InstrumentOfTarget(const std::vector<LetterInstrument>& instruments, const KeyMapEntry& entry)
{
    if (entry.targetNote >= 0)
        return FirstWithNote(instruments, entry.targetNote);
    for (size_t i = 0; i < instruments.size(); i++)
        if (instruments[i].name == entry.target)
            return (int)i;
    for (size_t i = 0; i < instruments.size(); i++)
        if (SameName(instruments[i].name, entry.target))
            return (int)i;
    for (size_t i = 0; i < instruments.size(); i++)
        for (const std::string& f : instruments[i].files)
            if (SameName(f, entry.target) || SameName(f.substr(f.rfind('/') + 1), entry.target))
                return (int)i;
    return -1;
}

// A name as one line of the key map holds it: no line end, no comment.
std::string OneLine(std::string name)
{
    for (char& c : name)
        if (c == '\r' || c == '\n')
            c = ' ';
    return Trimmed(name);
}

} // namespace

InstrumentLetters AssignInstrumentLetters(const std::vector<LetterInstrument>& instruments, const KeyMap* map)
{
    InstrumentLetters result;
    result.instrument.fill(-1);
    std::array<bool, kLetters> decided = {};
    for (int l = 0; map && l < kLetters; l++) {
        const KeyMapEntry& entry = map->keys[l];
        if (entry.target.empty())
            continue;
        decided[l] = true;
        result.instrument[l] = InstrumentOfTarget(instruments, entry);
        if (result.instrument[l] < 0 &&
            std::none_of(result.missing.begin(), result.missing.end(),
                         [&](const std::string& m) { return m == entry.target; }))
            result.missing.push_back(entry.target);
    }
    std::vector<bool> lettered(instruments.size(), false);
    for (int l = 0; l < kLetters; l++)
        if (result.instrument[l] >= 0)
            lettered[result.instrument[l]] = true;
    for (int l = 0; l < kLetters; l++) {
        if (decided[l] || kDefaultNotes[l] < 0)
            continue;
        int i = FirstWithNote(instruments, kDefaultNotes[l]);
        if (i < 0 && l == 'A' - 'A')
            i = FirstWithNote(instruments, 35);
        if (i < 0 && l == 'S' - 'A')
            i = FirstWithNote(instruments, 40);
        if (i >= 0) {
            result.instrument[l] = i;
            lettered[i] = decided[l] = true;
        }
    }
    int free = 0;
    for (size_t i = 0; i < instruments.size(); i++) {
        if (lettered[i] || !instruments[i].playable)
            continue;
        while (free < kLetters && decided[free])
            free++;
        if (free == kLetters)
            break;
        result.instrument[free] = (int)i;
        decided[free] = true;
    }
    return result;
}

std::string InstrumentKeyMapText(const std::vector<LetterInstrument>& instruments, const InstrumentLetters& current)
{
    std::string text = "; 逸响乐台的键位：每行“字母=乐器名”，也可写“字母=#音符”（0-127）或乐器的采样文件名。\r\n"
                       "[键位]\r\n";
    std::vector<bool> played(instruments.size(), false);
    for (int l = 0; l < kLetters; l++) {
        std::string letter(1, (char)('A' + l));
        int i = current.instrument[l];
        if (i < 0) {
            text += ";" + letter + "=\r\n";
            continue;
        }
        played[i] = true;
        // A name that is no name a line can hold is written as its note.
        std::string name = OneLine(instruments[i].name);
        bool byName = !name.empty() && name[0] != '#' && name[0] != ';' && InstrumentOfTarget(instruments, {"", -1, name, -1}) == i;
        text += letter + "=" + (byName ? name : "#" + std::to_string(instruments[i].note)) + "\r\n";
    }
    bool heading = false;
    for (size_t i = 0; i < instruments.size(); i++) {
        if (played[i] || !instruments[i].playable)
            continue;
        if (!heading)
            text += "; 没有键使用的乐器：\r\n";
        heading = true;
        text += "; " + OneLine(instruments[i].name) + " #" + std::to_string(instruments[i].note) + "\r\n";
    }
    return text;
}

std::string KitProblemText(KitProblem problem, const std::string& name)
{
    switch (problem) {
    case KitProblem::MissingFile:
        return "键位.ini：找不到 " + ShortName(name);
    case KitProblem::RefusedName:
        return "键位.ini：不接受 " + ShortName(name);
    case KitProblem::Undecodable:
        return "无法解码 " + ShortName(name);
    case KitProblem::OverBudget:
        return "超出鼓源内存上限 " + ShortName(name);
    }
    return ShortName(name);
}

std::string LabelWithProblems(const std::string& label, const std::vector<std::string>& problems)
{
    std::string text = label;
    const size_t kShown = 3;
    for (size_t i = 0; i < problems.size() && i < kShown; i++)
        text += "\r\n" + problems[i];
    if (problems.size() > kShown)
        text += "\r\n……另有 " + std::to_string(problems.size() - kShown) + " 处";
    return text;
}
