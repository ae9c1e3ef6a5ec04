#pragma once
// Taking the current kit out of the running program: delete its files for
// good or exclude its folder by renaming it.
#include <cstdint>
#include <string>

// The menu command: asks, then deletes or excludes, then loads kit 1. A
// second command while one removal runs (its box and its folder listing
// dispatch messages) does nothing.
void RemoveCurrentKit();
// Removes a kit folder with everything in it through a hidden batch script
// in the temporary folder, and waits for it. Unsafe paths, non-folders and
// linked folders are left alone.
void DeleteKitFolder(const std::string& folderPath);
// A folder that is a link (junction, symbolic link; under Wine a Unix
// symbolic link too, all marked as reparse points) or holds one at any
// depth: deleting through it would delete the files it points to, and
// Wine's "Rd /s" follows links inside the folder it removes.
bool IsOrHoldsLinkedFolder(const std::string& folder);
// 13-digit millisecond stamp of the local time (the script's name).
std::string MakeTimeStamp();
// The common tail: the kit whose item has `kitCommand` leaves the list and
// the menu, its id is withdrawn, the engine reopens and kit 1 is loaded.
void ForgetKit(int32_t kitCommand);
