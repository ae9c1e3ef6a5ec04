#pragma once
// Rules for the program's own paths, free of Win32 so they are tested natively.
#include <string>

// "C:\YXYT" and "C:\YXYT\" both give "C:\YXYT\": exactly one final "\".
std::string WithTrailingBackslash(const std::string& directory);
// The directory part of an executable's full path, with its final "\".
std::string DirectoryOfPath(const std::string& path);
