#include "music/dialog_filter.h"

std::string BuildDialogFilter(const std::string& pipeSeparated)
{
    std::string list = pipeSeparated;
    for (char& c : list)
        if (c == '|')
            c = '\0';
    list.push_back('\0');
    list.push_back('\0');
    return list;
}
