#pragma once
// Rules of a kit's own key map (键位.ini) and of several takes per key,
// without windows.h: parsing a hostile file, which files a letter plays,
// the shuffled order of takes, the choke groups and the file 编辑键位 writes.
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

// The letters a press of `letter` (0..25) silences: the other letters of
// every group holding it.
uint32_t ChokedBy(const std::vector<uint32_t>& groups, int letter);

// The key map 编辑键位 writes for a kit without one: every letter with the
// file it plays now (take 1), letters without one and the files no letter
// plays as comment lines, CR LF. Read back unchanged it maps the same.
std::string KeyMapText(const std::vector<std::string>& files, const KeyAssignment& current);

// What a load reports in the label, a long name cut to a short one:
// "键位.ini：找不到 x", "键位.ini：不接受 x" (a name outside the folder),
// "无法解码 x" (a file the library cannot read), "超出鼓源内存上限 x" (a
// file the kit's decode budget had no room left for).
enum class KitProblem { MissingFile, RefusedName, Undecodable, OverBudget };
std::string KitProblemText(KitProblem problem, const std::string& name);
// The kit label with the load's problems under it, the first three and
// how many more.
std::string LabelWithProblems(const std::string& label, const std::vector<std::string>& problems);
