// System DLLs planted beside the program: a copy of this test program in a
// folder of its own, next to stand-ins named like the system's DLLs, loads
// them the program's ways and must get the system's own. (The current
// folder comes after the system folder in Wine's search, so only the
// program's folder can show a planted DLL being taken here.)
#include "core/dll_search.h"
#include "mf_decoder.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const char* const kPlanted[] = {"mfplat.dll", "mfreadwrite.dll", "atl.dll"};

std::string SystemFolder()
{
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

// True when the module loaded under `name` is the system folder's.
bool FromSystemFolder(const char* name)
{
    char path[MAX_PATH] = {};
    HMODULE module = GetModuleHandleA(name);
    return module && GetModuleFileNameA(module, path, MAX_PATH) &&
           lstrcmpiA(std::string(path).substr(0, std::string(path).rfind('\\')).c_str(), SystemFolder().c_str()) == 0;
}

TEST(PlantedDll, TheProgramAndTheDecoderLoadOnlyTheSystemsOwn)
{
    struct Case {
        const char* mode;
        const char* loads; // the stand-in that the old search would take
    } cases[] = {
        {"restricted", "atl.dll"}, // a load by bare name after start-up's restriction
        {"decoder", "mfplat.dll"}, // Media Foundation, without the restriction
    };
    std::string folder = TempFolder("yxyt_planted_dll");
    std::string copy = folder + "dll_search_copy.exe";
    ASSERT_TRUE(CopyFileA(ThisProgram().c_str(), copy.c_str(), FALSE));
    for (const char* name : kPlanted)
        ASSERT_TRUE(CopyFileA((ThisProgramFolder() + "planted_dll.dll").c_str(), (folder + name).c_str(), FALSE));
    for (const Case& c : cases) {
        for (const char* name : kPlanted)
            DeleteFileA((folder + name + ".loaded").c_str());
        EXPECT_EQ(RunChild(copy, "--gtest_filter=PlantedDllChild.Run", {{"YXYT_CHILD_MODE", c.mode}}, 60000), 0u)
            << c.mode;
        for (const char* name : kPlanted)
            EXPECT_FALSE(FileExists(folder + name + ".loaded")) << c.mode << " took the planted " << name;
    }
}

TEST(PlantedDllChild, Run)
{
    const char* mode = getenv("YXYT_CHILD_MODE");
    if (!mode || !*mode)
        GTEST_SKIP() << "runs only as a child copy";
    std::string m = mode;
    if (m == "restricted") {
        ASSERT_TRUE(RestrictDllSearch());
        ASSERT_TRUE(LoadLibraryA("atl.dll"));
        EXPECT_TRUE(FromSystemFolder("atl.dll"));
    } else if (m == "decoder") {
        // Media Foundation is loaded before the file is looked at.
        OpenMf("no such file.wma");
        EXPECT_TRUE(FromSystemFolder("mfplat.dll"));
        EXPECT_TRUE(FromSystemFolder("mfreadwrite.dll"));
    }
}

} // namespace
