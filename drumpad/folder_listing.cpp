#include "drumpad/folder_listing.h"

#include "drumpad/kit_rules.h"

#include <windows.h>

#include <algorithm>

namespace {

std::u16string WideName(const char* name)
{
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH);
    return std::u16string(wide, wide + lstrlenW(wide));
}

bool Wanted(const WIN32_FIND_DATAA& data, FolderEntry kind)
{
    bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    switch (kind) {
    case FolderEntry::Folders:
        return isFolder && data.cFileName[0] != '.';
    case FolderEntry::SampleFiles:
        return !isFolder && HasSampleExtension(data.cFileName);
    case FolderEntry::AllFiles:
        return !isFolder;
    }
    return false;
}

struct Listed {
    std::string name;
    std::u16string key;
};

} // namespace

std::vector<std::string> ListFolder(const std::string& folder, FolderEntry kind, void (*each)())
{
    std::vector<Listed> found;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (Wanted(data, kind)) {
                found.push_back({data.cFileName, WideName(data.cFileName)});
                if (each)
                    each();
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    std::sort(found.begin(), found.end(), [](const Listed& a, const Listed& b) { return ListsBefore(a.key, b.key); });
    std::vector<std::string> names;
    for (auto& f : found)
        names.push_back(f.name);
    return names;
}
