#pragma once
// Files the in-process tests lay out and read back.
#include <string>

// A folder `name` (made if missing) in the temporary folder, with a trailing backslash.
std::string TempFolder(const std::string& name);
bool FileExists(const std::string& path);
// The whole file, "" when it cannot be opened; other processes may hold it open for writing.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
