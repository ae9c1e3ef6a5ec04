#pragma once
// Rules of the drum kits that need no window: names, the label text, the
// exclusion mark, which sample a key plays, the folder order and the
// kit-volume steps. Texts are GBK bytes as the file system gives them.
#include "core/direction.h"

#include <cstdint>
#include <string>
#include <vector>

// A sound of the loaded kit: its channel (0 when the file did not open)
// and file name.
struct Sample {
    uint32_t channel;
    std::string fileName;
};
using SampleList = std::vector<Sample>;

// The text after the last "\" of a kit folder's path.
std::string KitNameOfPath(const std::string& path);
// Menu item of kit n: name + "(&" + n + ")"; sound cards use the same form.
std::string NumberedItemText(const std::string& name, int n);
// "当前选中鼓源 - " + the item text cut before its first "(".
std::string KitLabelText(const std::string& itemText);
// A folder renamed to exclude it carries "已排除" somewhere in its path.
bool IsExcludedKit(const std::string& path);
// Whether fileName begins with name, ASCII letters compared without case.
bool SampleMatches(const std::string& fileName, const std::string& name);
// Whether a listed file is a kit sample: its name ends in ".wav", ".flac",
// ".ogg", ".aif" or ".aiff" in any case (without the 8.3 short-name extras
// a "*.wav" pattern would match).
bool HasSampleExtension(const std::string& fileName);
// Whether fileName is letter `letter`'s sample by the a-z rule: it begins
// with the letter, a dot and a sample extension ("a.WAV", "A.flac"), cases
// compared as in SampleMatches.
bool IsLetterSample(const std::string& fileName, char letter);
// The letter whose sample fileName is, exactly "<letter><extension>" in any
// case ('a' .. 'z'), or 0.
char LetterOfSample(const std::string& fileName);

// Folder listing order: names compared as UTF-16 code units with ASCII
// letters folded to upper case, as NTFS orders a directory.
bool ListsBefore(const std::u16string& a, const std::u16string& b);

// Kit numbers of the command ids still in use: the n-th id in the list
// selects kit n. Removing a kit withdraws its id, so later kits move up.
struct KitCommandList {
    std::vector<int32_t> ids;
    // 1-based position of id; 0 when the id is not in use.
    int NumberOf(int32_t id) const;
    // The n-th id in use; 0 when there is none.
    int32_t CommandOf(int n) const;
    void Withdraw(int32_t id);
};

// One step of the kit volume: v - 0.05 or v + 0.05, formed in double
// precision; any other direction leaves v as it is.
double SteppedVolume(float v, VolumeDirection direction);
// The remembered kit volume after a step: below -1e-7 it becomes 0,
// above 1 + 1e-7 it becomes 1. Sets *clamped when it changed.
float ClampedKitVolume(float v, bool* clamped);
