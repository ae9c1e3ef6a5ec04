#pragma once
// Numbers as Config.ini holds them. Reads follow the C library's rules:
// leading blanks, an optional sign, then digits up to the first other
// character; text without digits reads as 0 ("12abc" is 12, "abc" is 0).
#include <string>

int ParseIniInt(const char* text);
float ParseIniFloat(const char* text);
// Six significant digits and no trailing zeros: 0.9 -> "0.9", 1 -> "1".
std::string FormatIniFloat(double value);
