#pragma once
// Helpers of the decoding tests that compare with reference tools: one
// temporary folder per run, commands that make the reference files, raw
// samples read back, and a decoder read through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder.h"

// The run's folder, removed when the run ends.
inline std::string TestFolder()
{
    struct Folder {
        std::string path;
        Folder()
        {
            char pattern[] = "/tmp/bass_decode_testXXXXXX";
            if (const char* made = mkdtemp(pattern))
                path = made;
        }
        ~Folder()
        {
            std::error_code ignored;
            if (!path.empty())
                std::filesystem::remove_all(path, ignored);
        }
    };
    static Folder folder;
    return folder.path.empty() ? std::string("/tmp") : folder.path;
}

inline std::string Path(const std::string& name)
{
    return TestFolder() + "/" + name;
}

inline void Shell(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

template <typename T>
std::vector<T> ReadSamples(const std::string& path)
{
    std::vector<T> v;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        T x;
        while (fread(&x, sizeof x, 1, f) == 1)
            v.push_back(x);
        fclose(f);
    }
    return v;
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (FILE* f = fopen(path.c_str(), "wb")) {
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
}

// Every frame from the current position, read `chunk` frames at a time.
inline std::vector<float> ReadThrough(Decoder& d, size_t chunk = 4096)
{
    std::vector<float> all, buf(2 * chunk);
    for (size_t n; (n = d.Read(buf.data(), chunk)) > 0;)
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * n);
    return all;
}

inline double WorstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double worst = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::fabs(double(a[i]) - b[i]));
    return worst;
}
