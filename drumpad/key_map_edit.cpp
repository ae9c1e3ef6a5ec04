#include "drumpad/key_map_edit.h"

#include "core/program.h"
#include "drumpad/kits.h"

#include <string>

namespace {

struct FileStamp {
    bool exists = false;
    ULONGLONG size = 0;
    FILETIME written = {};
};

struct WatchedKeyMap {
    std::string path; // empty: nothing watched
    int kitIndex = 0;
    FileStamp stamp;
};
WatchedKeyMap Watched;

FileStamp StampOf(const std::string& path)
{
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        stamp.written = data.ftLastWriteTime;
    }
    return stamp;
}

bool SameStamp(const FileStamp& a, const FileStamp& b)
{
    return a.exists == b.exists && a.size == b.size && CompareFileTime(&a.written, &b.written) == 0;
}

// CREATE_NEW: a key map that appeared meanwhile is never overwritten.
bool WriteNewFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == text.size();
}

// The program runs elevated: the editor is started by its full path in the
// system folder, never found through a search of a bare name.
bool OpenInNotepad(const std::string& path)
{
    char folder[MAX_PATH];
    UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return false;
    std::string editor = std::string(folder, n) + "\\notepad.exe";
    std::string commandLine = "\"" + editor + "\" \"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(editor.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

void EditKeyMap()
{
    std::string folder = CurrentKitFolder();
    if (folder.empty())
        return;
    std::string path = folder + kKeyMapFileName;
    if (!StampOf(path).exists && !WriteNewFile(path, KeyMapText(Kits().KitFiles, Kits().KitKeys))) {
        ShowMessage(Program().MainWindow.GetHandle(), "无法在鼓源文件夹里写入" + path, "错误！", MB_ICONERROR);
        return;
    }
    Watched = {path, Kits().CurrentKitIndex, StampOf(path)};
    if (!OpenInNotepad(path))
        ShowMessage(Program().MainWindow.GetHandle(), "无法打开记事本，请自行编辑" + path, "错误！", MB_ICONERROR);
}

void ReloadKitIfKeyMapChanged()
{
    if (Watched.path.empty())
        return;
    if (Watched.kitIndex != Kits().CurrentKitIndex || Watched.path != CurrentKitFolder() + kKeyMapFileName) {
        Watched = WatchedKeyMap();
        return;
    }
    FileStamp now = StampOf(Watched.path);
    if (SameStamp(now, Watched.stamp))
        return;
    Watched.stamp = now;
    LoadKit(Kits().CurrentKitCommand, Kits().CurrentKitIndex);
}
