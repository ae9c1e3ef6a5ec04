#include "drumpad/kit_rules.h"

#include "core/ascii.h"

#include <algorithm>
#include <cstring>

std::string KitNameOfPath(const std::string& path)
{
    // GBK trail bytes can equal "\" (0x5C), so the scan walks characters.
    size_t cut = 0;
    for (size_t i = 0; i < path.size(); i++) {
        unsigned char c = (unsigned char)path[i];
        if (c >= 0x81 && c <= 0xFE && i + 1 < path.size())
            i++;
        else if (c == '\\')
            cut = i + 1;
    }
    return path.substr(cut);
}

std::string NumberedItemText(const std::string& name, int n)
{
    return name + "(&" + std::to_string(n) + ")";
}

std::string KitLabelText(const std::string& itemText)
{
    return "当前选中鼓源 - " + itemText.substr(0, itemText.find('('));
}

bool IsExcludedKit(const std::string& path)
{
    return path.find("已排除") != std::string::npos;
}

bool SampleMatches(const std::string& fileName, const std::string& name)
{
    if (fileName.size() < name.size())
        return false;
    for (size_t i = 0; i < name.size(); i++)
        if (UpperAscii(fileName[i]) != UpperAscii(name[i]))
            return false;
    return true;
}

namespace {

// The formats the audio library decodes for a kit.
const char* const kSampleExtensions[] = {".WAV", ".FLAC", ".OGG", ".AIF", ".AIFF"};

bool EndsWith(const std::string& fileName, const std::string& ext)
{
    return fileName.size() >= ext.size() && SampleMatches(fileName.substr(fileName.size() - ext.size()), ext);
}

} // namespace

bool HasSampleExtension(const std::string& fileName)
{
    for (const char* ext : kSampleExtensions)
        if (EndsWith(fileName, ext))
            return true;
    return false;
}

bool IsLetterSample(const std::string& fileName, char letter)
{
    for (const char* ext : kSampleExtensions)
        if (SampleMatches(fileName, letter + std::string(ext)))
            return true;
    return false;
}

char LetterOfSample(const std::string& fileName)
{
    const char letter = (char)(UpperAscii(fileName.empty() ? char(0) : fileName[0]) - 'A' + 'a');
    if (letter < 'a' || letter > 'z')
        return 0;
    for (const char* ext : kSampleExtensions)
        if (fileName.size() == 1 + strlen(ext) && EndsWith(fileName, ext))
            return letter;
    return 0;
}

bool ListsBefore(const std::u16string& a, const std::u16string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char16_t x, char16_t y) { return UpperAscii(x) < UpperAscii(y); });
}

int KitCommandList::NumberOf(int32_t id) const
{
    auto it = std::find(ids.begin(), ids.end(), id);
    return it == ids.end() ? 0 : (int)(it - ids.begin()) + 1;
}

int32_t KitCommandList::CommandOf(int n) const
{
    return (n >= 1 && n <= (int)ids.size()) ? ids[n - 1] : 0;
}

void KitCommandList::Withdraw(int32_t id)
{
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
}

double SteppedVolume(float v, VolumeDirection direction)
{
    if (direction == kVolumeDown)
        return (double)v - 0.05;
    if (direction == kVolumeUp)
        return (double)v + 0.05;
    return v;
}

float ClampedKitVolume(float v, bool* clamped)
{
    *clamped = true;
    if (v < -0.0000001)
        return 0.0f;
    if (v > 1.0000001)
        return 1.0f;
    *clamped = false;
    return v;
}
