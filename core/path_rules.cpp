#include "core/path_rules.h"

std::string WithTrailingBackslash(const std::string& directory)
{
    if (directory.empty() || directory.back() != '\\')
        return directory + "\\";
    return directory;
}

std::string DirectoryOfPath(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return WithTrailingBackslash(slash == std::string::npos ? std::string() : path.substr(0, slash));
}
