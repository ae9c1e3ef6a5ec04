#include "core/ini_number.h"

#include <cstdio>
#include <cstdlib>

int ParseIniInt(const char* text)
{
    // atoi-like, but saturating instead of undefined on overflow.
    long long v = std::strtoll(text, nullptr, 10);
    if (v > 2147483647LL)
        return 2147483647;
    if (v < -2147483647LL - 1)
        return -2147483647 - 1;
    return (int)v;
}

float ParseIniFloat(const char* text)
{
    return (float)std::strtod(text, nullptr);
}

std::string FormatIniFloat(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}
