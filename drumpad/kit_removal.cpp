#include "drumpad/kit_removal.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/exclusive_output.h"
#include "core/private_folder.h"
#include "core/program.h"
#include "drumpad/folder_listing.h"
#include "drumpad/kits.h"
#include "drumpad/removal_rules.h"

#include <shlwapi.h>

#include <vector>

namespace {

std::string WithoutTrailingBackslash(std::string path)
{
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// The same folder as when the removal began, and no link: every box and
// every message dispatched is a wait in which another program of the user
// could put a junction to any folder in its place.
bool StillTheSameFolder(const FolderIdentity& before, const std::string& folder)
{
    FolderIdentity now = IdentifyFolder(folder);
    return now == before && !now.link;
}

void SayFolderChanged(const std::string& folder)
{
    ShowMessage(Program().MainWindow.GetHandle(),
                "鼓源目录" + folder + "在删除过程中被替换或变成了链接，程序已停止删除，剩下的文件请您核实后手工删除。",
                "错误！", MB_ICONERROR);
}

// False when it stopped because the folder changed.
bool DeleteKitFiles(const std::string& folder, const FolderIdentity& identity)
{
    for (const std::string& name : ListFolder(folder + "\\", FolderEntry::AllFiles, PumpMessages)) {
        if (!StillTheSameFolder(identity, folder))
            return false;
        std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), 0);
        if (!DeleteFileA(path.c_str()))
            ShowMessage(Program().MainWindow.GetHandle(), "在尝试删除" + path + "时发生错误，请您手工删除这个文件",
                        "错误！", MB_ICONERROR);
    }
    return StillTheSameFolder(identity, folder);
}

void ExcludeKitFolder(const std::string& folder)
{
    std::string excluded = folder + "_已排除";
    if (!MoveFileA(folder.c_str(), excluded.c_str()))
        ShowMessage(Program().MainWindow.GetHandle(),
                    "在尝试修改鼓源路径" + folder +
                        "时发生错误，请您关掉程序后手工将这个文件夹名称后面追加下划线已排除字样",
                    "错误！", MB_ICONERROR);
}

// Created new, readable by all and writable or deletable by nobody else,
// and kept open until cmd has ended: cmd reads the script line by line
// while it runs elevated, so nobody may swap its text in between. cmd
// opens a batch file sharing read and write, which this handle allows.
HANDLE CreateHeldScript(const std::string& path, const std::string& text)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    DWORD written = 0;
    if (!WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) || written != text.size()) {
        CloseHandle(file);
        DeleteFileA(path.c_str());
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// This program runs elevated: a command processor found by name could be
// one planted in the program's folder or the current folder, which come
// first in that search. Empty when the system folder is unknown.
std::string SystemFolder()
{
    char folder[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryA(folder, sizeof folder);
    return length && length < sizeof folder ? std::string(folder, length) : std::string();
}

// Waits answering sent messages: the keyboard hook's calls come to this
// thread, and Windows drops a hook that stops answering.
void RunHiddenAndWait(const std::string& program, std::string commandLine, const std::string& workFolder)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, workFolder.c_str(),
                        &startup, &process))
        return;
    WaitAnsweringSentMessages(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The kit asked for last, with its own item: a load in progress may not
// have reached it yet, and the checked item is still the old kit's. Only
// its id is kept across the waits; its folder is looked up after them.
void RemoveKit(KitChoice kit)
{
    if (kit.command <= 0 || Kits().KitList.size() < 2 || KitNumberOfCommand(kit.command) < 1) {
        ShowMessage(Program().MainWindow.GetHandle(), "程序检测到当前只有一个鼓源，不满足删除条件", "错误！",
                    MB_ICONERROR);
        return;
    }
    FolderIdentity identity = IdentifyFolder(Kits().KitList[KitNumberOfCommand(kit.command) - 1]);
    int answer = ShowMessage(Program().MainWindow.GetHandle(),
                             "您是否需要同事删除相关鼓源文件？单击是按钮程序将会彻底删除鼓源文件，单击否按钮程序将会对"
                             "鼓源目录做排除操作，您仍可以手工恢复这些鼓源,单击取消按钮放弃此操作。",
                             "询问？", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer != IDYES && answer != IDNO)
        return;
    int kitIndex = KitNumberOfCommand(kit.command);
    if (kitIndex < 1 || kitIndex > (int)Kits().KitList.size())
        return;
    std::string folder = Kits().KitList[kitIndex - 1];
    if (!(IdentifyFolder(folder) == identity)) {
        SayFolderChanged(folder);
        return;
    }
    if (answer == IDYES && IsOrHoldsLinkedFolder(folder)) {
        ShowMessage(Program().MainWindow.GetHandle(),
                    "鼓源目录" + folder +
                        "是一个链接或含有链接，删除它会连带删除链接所指向的其他位置的文件，程序已放弃删除。您可以改用排"
                        "除操作，或者手工删除这个链接。",
                    "错误！", MB_ICONERROR);
        return;
    }
    BASS_Free();
    if (answer == IDYES) {
        if (!DeleteKitFiles(folder, identity) || !DeleteKitFolder(folder, identity))
            SayFolderChanged(folder);
    } else {
        ExcludeKitFolder(folder);
    }
    ForgetKit(kit.command);
}

} // namespace

std::string MakeTimeStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TimeStampOf({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds});
}

bool DeleteKitFolder(const std::string& folderPath)
{
    return DeleteKitFolder(folderPath, IdentifyFolder(folderPath));
}

bool DeleteKitFolder(const std::string& folderPath, const FolderIdentity& identity)
{
    if (!IsSafeFolderPath(folderPath))
        return true;
    std::string folder = folderPath;
    if (folder.back() != '\\')
        folder += "\\";
    if (PathIsDirectoryA(folder.c_str()) != FILE_ATTRIBUTE_DIRECTORY)
        return true;
    if (IsOrHoldsLinkedFolder(folder))
        return true;
    std::string system = SystemFolder();
    std::string scripts = system.empty() ? "" : MakePrivateFolder();
    if (scripts.empty())
        return true;
    std::string script = scripts + MakeTimeStamp() + "_Speed.bat";
    HANDLE held = CreateHeldScript(script, RemovalScriptText(folder, script));
    bool same = true;
    if (held != INVALID_HANDLE_VALUE) {
        same = StillTheSameFolder(identity, folder);
        // AutoRun (/D) and delayed expansion (/V:OFF, which would eat "!"
        // in a folder name) are off whatever the registry says.
        std::string cmd = system + "\\cmd.exe";
        if (same)
            RunHiddenAndWait(cmd, "\"" + cmd + "\" /D /V:OFF /C \"\"" + script + "\"\"", system);
        // The script's own last line could not delete it while it was held.
        CloseHandle(held);
        DeleteFileA(script.c_str());
    }
    RemoveDirectoryA(scripts.c_str());
    return same;
}

FolderIdentity IdentifyFolder(const std::string& folder)
{
    FolderIdentity identity;
    std::string path = WithoutTrailingBackslash(folder);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return identity;
    // The entry itself, not what a link at that name leads to.
    HANDLE entry =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    BY_HANDLE_FILE_INFORMATION info = {};
    bool known = entry != INVALID_HANDLE_VALUE && GetFileInformationByHandle(entry, &info);
    if (entry != INVALID_HANDLE_VALUE)
        CloseHandle(entry);
    identity.exists = true;
    identity.link = ((attributes | info.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // An entry that cannot be opened counts as a link: nothing may be
    // deleted through what cannot be told apart.
    if (!known)
        identity.link = true;
    identity.volume = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    return identity;
}

bool IsOrHoldsLinkedFolder(const std::string& folder)
{
    std::string path = WithoutTrailingBackslash(folder);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return true;
    bool linked = false;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    do {
        std::string name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == "." || name == "..")
            continue;
        linked = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsOrHoldsLinkedFolder(path + "\\" + name);
    } while (!linked && FindNextFileA(find, &data));
    FindClose(find);
    return linked;
}

void ForgetKit(int32_t kitCommand)
{
    // By id, not by a number taken earlier: messages ran since, and a
    // number names whichever kit stands there now.
    int kitIndex = KitNumberOfCommand(kitCommand);
    if (kitIndex >= 1 && kitIndex <= (int)Kits().KitList.size())
        Kits().KitList.erase(Kits().KitList.begin() + (kitIndex - 1));
    Program().KitMenu.RemoveItem(kitCommand);
    WithdrawKitCommand(kitCommand);
    OpenEngine(Program().CurrentCardIndex);
    // The reopened output may be had exclusively where it was not, or not.
    MarkExclusiveItem();
    LoadKit(KitCommandOfNumber(1), 1);
}

void RemoveCurrentKit()
{
    // The question box and the folder listing dispatch messages: a second
    // removal arriving there is dropped rather than run inside this one.
    static bool removing = false;
    if (removing)
        return;
    removing = true;
    RemoveKit(Kits().AskedKit);
    removing = false;
}
