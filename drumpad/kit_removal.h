#pragma once
// Taking the current kit out of the running program: delete its files for
// good or exclude its folder by renaming it.
#include <cstdint>
#include <string>

// The menu command: asks, then deletes or excludes, then loads kit 1. A
// second command while one removal runs (its box and its folder listing
// dispatch messages) does nothing.
void RemoveCurrentKit();
// What a folder is rather than what it is called: its volume and file id,
// and whether the name is a link (a reparse point).
struct FolderIdentity {
    bool exists = false;
    bool link = false;
    uint32_t volume = 0, indexHigh = 0, indexLow = 0;
    bool operator==(const FolderIdentity& o) const
    {
        return exists == o.exists && link == o.link && volume == o.volume && indexHigh == o.indexHigh &&
               indexLow == o.indexLow;
    }
};
FolderIdentity IdentifyFolder(const std::string& folder);

// Removes a kit folder with everything in it through a hidden batch script,
// written into a new folder of the temporary folder that only
// administrators may write, and waits for it. Unsafe paths, non-folders
// and linked folders are left alone. Right before the script runs the
// folder must still be `identity` (by default, what it was at the call)
// and no link; false when it was not, and nothing ran.
bool DeleteKitFolder(const std::string& folderPath);
bool DeleteKitFolder(const std::string& folderPath, const FolderIdentity& identity);
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
