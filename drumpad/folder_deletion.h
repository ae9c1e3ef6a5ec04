#pragma once
// Deleting a folder with everything in it inside this process, through
// handles held while it runs: the folder is opened without following a
// link, every entry is opened relative to the handle of the folder that
// lists it, checked to be the very entry listed, and deleted through its
// own handle; a link is deleted as a link, never followed. Nobody can
// rename a folder while it is held.
#include <windows.h>

#include <string>

enum class TreeDeletion {
    Deleted,
    Changed,    // an entry was not what its folder listed (swapped, or a link that could not be held as one): stopped
    Incomplete, // something could not be deleted and is still there
};

// Deletes the held folder `folder` (opened by OpenHeldFolder) and all in
// it; `path` names it in the boxes. Each entry that cannot be deleted gets
// the box that says so. Messages are dispatched after each entry.
TreeDeletion DeleteHeldFolder(HANDLE folder, const std::string& path);

// The folder at `path` itself, not what a link there leads to, opened to
// be listed and deleted, and held so that nobody renames or deletes it
// meanwhile. INVALID_HANDLE_VALUE when it cannot be had.
HANDLE OpenHeldFolder(const std::string& path);

// For tests only: called with the path of each entry after its folder was
// listed and before the entry is opened, the moment another program could
// swap it.
void SetDeletionProbe(void (*probe)(const std::string& entryPath));
