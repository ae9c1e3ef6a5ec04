#include "drumpad/removal_rules.h"

#include "core/ascii.h"

#include <cstdint>

namespace {

void CollapseRepeats(std::string& text, const std::string& doubled)
{
    const std::string single = doubled.substr(0, 1);
    for (size_t at = text.find(doubled); at != std::string::npos; at = text.find(doubled, at))
        text.replace(at, doubled.size(), single);
}

} // namespace

bool IsSafeFolderPath(const std::string& path)
{
    std::string t = path;
    CollapseRepeats(t, "\\\\");
    CollapseRepeats(t, "//");
    if (t.empty())
        return false;
    char first = UpperAscii(t[0]);
    if (first < 'A' || first > 'Z')
        return false;
    if (t.find(":\\") == std::string::npos && t.find(":/") == std::string::npos)
        return false;
    return t.size() != 3;
}

std::string KitNotDeletedText(KitDeletion deletion, const std::string& folder)
{
    switch (deletion) {
    case KitDeletion::Deleted:
        return "";
    case KitDeletion::Unsafe:
        return "鼓源目录" + folder + "不是一个可以安全删除的位置，程序没有删除任何文件，这个鼓源仍然保留。";
    case KitDeletion::NotAFolder:
        return "找不到鼓源目录" + folder + "，程序没有删除任何文件，这个鼓源仍然保留。";
    case KitDeletion::Linked:
        return "鼓源目录" + folder +
               "是一个链接或含有链接，删除它会连带删除链接所指向的其他位置的文件，程序已放弃删除。您可以改用排除操作，"
               "或者手工删除这个链接。";
    case KitDeletion::Changed:
        return "鼓源目录" + folder + "在删除过程中被替换或变成了链接，程序已停止删除，剩下的文件请您核实后手工删除。";
    case KitDeletion::Incomplete:
        return "鼓源目录" + folder + "没有被完全删除，剩下的文件请您核实后手工删除，这个鼓源仍然保留。";
    }
    return "";
}
