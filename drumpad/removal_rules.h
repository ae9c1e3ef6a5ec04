#pragma once
// Rules of the kit removal that need no window: which paths may be handed
// to the removal script, the script's name stamp and its text. Paths are
// GBK bytes.
#include <string>

// A path with a drive letter, a ":\" or ":/", and more than a bare drive root.
bool IsSafeFolderPath(const std::string& path);

// Local date and time as GetLocalTime gives them.
struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
// Seconds from local 1970-01-01 08:00:00 to `t`, then its three millisecond
// digits, padded with "0" to 13 characters: for a clock on UTC+8 this is
// the Unix time in milliseconds.
std::string TimeStampOf(const LocalTime& t);

// A path as a batch file must spell it so that cmd passes it on unchanged
// inside double quotes: "%" doubled. A GBK trail byte is never "%", so
// bytes are handled one by one.
std::string BatchQuotedPath(const std::string& path);
// Two lines, CR LF between them and none after the last: remove the
// folder with everything in it, then delete the script itself.
std::string RemovalScriptText(const std::string& folderPath, const std::string& scriptPath);
