#include "drumpad/kit_removal.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/exclusive_output.h"
#include "core/program.h"
#include "drumpad/folder_deletion.h"
#include "drumpad/kits.h"
#include "drumpad/removal_rules.h"

#include <shlwapi.h>

namespace {

std::string WithoutTrailingBackslash(std::string path)
{
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

void SayKitNotDeleted(KitDeletion deletion, const std::string& folder)
{
    ShowMessage(Program().MainWindow.GetHandle(), KitNotDeletedText(deletion, folder), "错误！", MB_ICONERROR);
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

// What a held folder is, as IdentifyFolder tells it of a name.
FolderIdentity IdentifyHeld(HANDLE held)
{
    FolderIdentity identity;
    identity.exists = true;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandle(held, &info) ||
        !GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, sizeof tag)) {
        identity.link = true;
        return identity;
    }
    identity.link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    identity.volume = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    return identity;
}

// A kit that was not deleted stays: the output, closed for the deletion,
// opens again and the kit loads with what is left of it.
void KeepKit(int32_t kitCommand)
{
    OpenEngine(Program().CurrentCardIndex);
    MarkExclusiveItem();
    LoadKit(kitCommand, KitNumberOfCommand(kitCommand));
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
        SayKitNotDeleted(KitDeletion::Changed, folder);
        return;
    }
    if (answer == IDYES && IsOrHoldsLinkedFolder(folder)) {
        SayKitNotDeleted(KitDeletion::Linked, folder);
        return;
    }
    BASS_Free();
    if (answer == IDYES) {
        const KitDeletion deletion = DeleteKitFolder(folder, identity);
        if (deletion != KitDeletion::Deleted) {
            SayKitNotDeleted(deletion, folder);
            KeepKit(kit.command);
            return;
        }
    } else {
        ExcludeKitFolder(folder);
    }
    ForgetKit(kit.command);
}

} // namespace

KitDeletion DeleteKitFolder(const std::string& folderPath)
{
    return DeleteKitFolder(folderPath, IdentifyFolder(folderPath));
}

KitDeletion DeleteKitFolder(const std::string& folderPath, const FolderIdentity& identity)
{
    if (!IsSafeFolderPath(folderPath))
        return KitDeletion::Unsafe;
    std::string folder = WithoutTrailingBackslash(folderPath);
    if (PathIsDirectoryA((folder + "\\").c_str()) != FILE_ATTRIBUTE_DIRECTORY)
        return KitDeletion::NotAFolder;
    if (IsOrHoldsLinkedFolder(folder))
        return KitDeletion::Linked;
    HANDLE held = OpenHeldFolder(folder);
    if (held == INVALID_HANDLE_VALUE)
        return KitDeletion::Incomplete;
    // Held now, it cannot be swapped any more; it must still be the folder
    // the user was asked about.
    const FolderIdentity now = IdentifyHeld(held);
    KitDeletion deletion = KitDeletion::Changed;
    if (now == identity && !now.link) {
        switch (DeleteHeldFolder(held, folder)) {
        case TreeDeletion::Deleted:
            deletion = KitDeletion::Deleted;
            break;
        case TreeDeletion::Changed:
            deletion = KitDeletion::Changed;
            break;
        case TreeDeletion::Incomplete:
            deletion = KitDeletion::Incomplete;
            break;
        }
    }
    // The folder goes when its last handle closes.
    CloseHandle(held);
    return deletion;
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
