#pragma once
// Rules of the kit removal that need no window: which paths may be
// deleted, and what the user is told of a kit that was not. Paths are GBK
// bytes.
#include <string>

// A path with a drive letter, a ":\" or ":/", and more than a bare drive root.
bool IsSafeFolderPath(const std::string& path);

// What the deletion of a kit's folder came to.
enum class KitDeletion {
    Deleted,
    Unsafe,     // a path IsSafeFolderPath refuses: nothing was done
    NotAFolder, // nothing there, or no folder: nothing was done
    Linked,     // it is or holds a link: nothing was done
    Changed,    // it or something in it was swapped or made a link meanwhile: stopped
    Incomplete, // something in it could not be deleted and is still there
};
// The box that says why the kit at `folder` was not deleted; "" for one that was.
std::string KitNotDeletedText(KitDeletion deletion, const std::string& folder);
