#pragma once
// Files the elevated program writes for itself to read back (a notice's
// sound) go into a folder of their own.
#include <string>

// A new folder, under a random name in the temporary folder, that only
// administrators and the system may write: the temporary folder is the
// user's, as is the environment that names it, so any program of the user
// could otherwise put its own file where the program looks. Its path with
// a trailing backslash; empty when it cannot be made. An existing folder
// of that name is never used.
std::string MakePrivateFolder();
