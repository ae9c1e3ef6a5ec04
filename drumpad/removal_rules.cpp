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

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
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

std::string TimeStampOf(const LocalTime& t)
{
    int64_t seconds =
        DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second - 8 * 3600;
    std::string ms = std::to_string(t.millisecond);
    while (ms.size() < 3)
        ms.insert(0, "0");
    std::string stamp = std::to_string(seconds) + ms;
    while (stamp.size() <= 12)
        stamp += "0";
    return stamp;
}

std::string BatchQuotedPath(const std::string& path)
{
    std::string quoted = "\"";
    for (char c : path) {
        quoted += c;
        if (c == '%')
            quoted += '%';
    }
    return quoted + "\"";
}

std::string RemovalScriptText(const std::string& folderPath, const std::string& scriptPath)
{
    return "Rd /s /q " + BatchQuotedPath(folderPath) + "\r\nDel /f /q " + BatchQuotedPath(scriptPath);
}
