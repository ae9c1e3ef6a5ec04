#pragma once
// Taking the current kit out of the running program: delete its files for
// good or exclude its folder by renaming it.
#include "drumpad/removal_rules.h"

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

// Removes a kit folder with everything in it, in this process, through
// held handles (drumpad/folder_deletion.h): no link is followed, a link
// found inside is deleted as a link or stops it. Unsafe paths, non-folders
// and folders that are or hold a link are left alone. When it is opened to
// be deleted the folder must still be `identity` (by default, what it was
// at the call) and no link. Each file it cannot delete gets a box; what
// the whole came to is returned, for the caller to tell.
KitDeletion DeleteKitFolder(const std::string& folderPath);
KitDeletion DeleteKitFolder(const std::string& folderPath, const FolderIdentity& identity);
// A folder that is a link (junction, symbolic link; under Wine a Unix
// symbolic link too, all marked as reparse points) or holds one at any
// depth: deleting through it would delete the files it points to.
bool IsOrHoldsLinkedFolder(const std::string& folder);
// The common tail: the kit whose item has `kitCommand` leaves the list and
// the menu, its id is withdrawn, the engine reopens and kit 1 is loaded.
void ForgetKit(int32_t kitCommand);
