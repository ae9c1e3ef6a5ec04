#pragma once
// Real third-party kits as test data: Debian's hydrogen-drumkits package,
// which tools/setup.sh installs.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline const std::filesystem::path kRealKits = "/usr/share/hydrogen/data/drumkits";

inline std::string FileText(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
