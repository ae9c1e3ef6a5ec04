#pragma once
// Rules of a kit's own key map (键位.ini) and of several takes per key,
// without windows.h: parsing a hostile file, which files a letter plays,
// the shuffled order of takes, the choke groups' lines and the file
// 编辑键位 writes.
// Texts are GBK bytes as the file and the file system give them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kLetters = 26;
// The key map file in a kit folder.
constexpr const char* kKeyMapFileName = "键位.ini";
// Beyond this a file is no key map a person wrote; the rest is not read.
constexpr size_t kMaxKeyMapBytes = 64 * 1024;
// Takes of one key: the file and its "-2" .. "-16" siblings.
constexpr int kMaxTakes = 16;

struct KeyMapEntry {
    std::string file; // empty: the letter is not mapped
    int note = -1;    // General MIDI note 0..127 after ",", -1 when none
    // What the line names, also when it is refused as a file: in a kit of
    // instruments an instrument's name, a file of one, or "#36", a note.
    std::string target;
    int targetNote = -1; // N of "#N", 0..127; -1 when the target is no note
};

struct KeyMap {
    std::array<KeyMapEntry, kLetters> keys;
    // [闷音组]: one mask of letters (bit 0 = A) per line; when the section
    // is there, only these groups choke.
    bool hasChokeSection = false;
    std::vector<uint32_t> chokeGroups;
    // Names refused because they would reach outside the kit folder.
    std::vector<std::string> refused;
};

// The key map in `text`: sections [键位] and [闷音组], a UTF-8 byte-order
// mark skipped, lines without "=", unknown keys and comments (";", "#")
// ignored; the first line of a letter counts.
KeyMap ParseKeyMap(const std::string& text);
// Whether `name` names a file directly inside the kit folder: no "\" or
// "/" (GBK-aware), no drive or stream ":", no wildcard, not "." or "..".
bool IsKitLocalName(const std::string& name);

// 1 when fileName is base itself, n (2..kMaxTakes) when it is base's
// stem + "-n" + base's extension, else 0; ASCII letters compared without
// case, n written without leading zeros.
int TakeNumber(const std::string& fileName, const std::string& base);

// What each letter plays: indices into the kit's file list, take 1 first.
struct KeyAssignment {
    std::array<std::vector<size_t>, kLetters> takes;
    // Mapped names the folder lacks, each once, in letter order.
    std::vector<std::string> missing;
};
// Letters the map names play that file and its takes; the others keep the
// a-z rule (the last file whose name begins with "x.wav", and its takes
// "x-2.wav" ...). Without a map every letter keeps the rule.
KeyAssignment AssignKeys(const std::vector<std::string>& files, const KeyMap* map);

// The order in which `takes` takes play: `rounds` shuffled rounds, each
// holding every take once, no take twice in a row, also from the last
// entry back to the first, so a counter can walk it round and round.
std::vector<uint8_t> TakeOrder(size_t takes, size_t rounds, uint32_t seed);

// The key map 编辑键位 writes for a kit without one: every letter with the
// file it plays now (take 1), letters without one and the files no letter
// plays as comment lines, CR LF. Read back unchanged it maps the same.
std::string KeyMapText(const std::vector<std::string>& files, const KeyAssignment& current);

// An instrument of a Hydrogen or SFZ kit as the letters see it: texts in
// the key map's coding.
struct LetterInstrument {
    std::string name;
    int note = -1; // General MIDI
    std::vector<std::string> files;
    bool playable = true; // not muted, with at least one layer
};
// Which instrument each letter plays (an index, -1: none).
struct InstrumentLetters {
    std::array<int, kLetters> instrument;
    // Targets of the key map that name nothing of the kit, each once.
    std::vector<std::string> missing;
};
// The default letter of each General MIDI drum note: A kick 36 (35 when
// the kit has no 36), S snare 38 (40), D 37, F 39, H 44, J 42, K 46,
// Q W E R T Y toms 50 48 47 45 43 41, U 49, I 57, O 51, P 53, L 55, G 52.
// A key map's letters come first (a note "#N", an instrument's name, or
// a file of one, ASCII letters in any case); playable instruments the
// letters leave over take the free letters in kit order.
InstrumentLetters AssignInstrumentLetters(const std::vector<LetterInstrument>& instruments, const KeyMap* map);
// The key map 编辑键位 writes for a kit of instruments without one: each
// letter with the instrument it plays now, the instruments no letter
// plays as comments, CR LF. Read back unchanged it maps the same.
std::string InstrumentKeyMapText(const std::vector<LetterInstrument>& instruments, const InstrumentLetters& current);

// What a load reports in the label, a long name cut to a short one:
// "键位.ini：找不到 x", "键位.ini：不接受 x" (a name outside the folder),
// "无法解码 x" (a file the library cannot read), "超出鼓源内存上限 x" (a
// file the kit's decode budget had no room left for).
enum class KitProblem { MissingFile, RefusedName, Undecodable, OverBudget };
std::string KitProblemText(KitProblem problem, const std::string& name);
// The kit label with the load's problems under it, the first three and
// how many more.
std::string LabelWithProblems(const std::string& label, const std::vector<std::string>& problems);
