#pragma once
// The listing of a kit folder or of SND, the same for loading and removing.
#include <string>
#include <vector>

enum class FolderEntry {
    Folders,     // sub-folders, names beginning with "." left out (the kits of SND)
    SampleFiles, // files with a sample's extension (HasSampleExtension): a kit's samples
    AllFiles,    // every file, hidden ones included
};

// Names of the entries of `folder` (ending with "\"), sorted as NTFS lists
// them so that indices stay the same from one start to the next. `each`,
// when given, runs after every entry found (the long listings pump
// messages there).
std::vector<std::string> ListFolder(const std::string& folder, FolderEntry kind, void (*each)());
