#include "audio/kit_removal.h"

#include "app/app.h"
#include "audio/bass_api.h"
#include "audio/engine.h"
#include "audio/folder_listing.h"
#include "audio/kits.h"
#include "audio/removal_rules.h"

#include <shlwapi.h>

#include <vector>

namespace {

void DeleteKitFiles(const std::string& folder)
{
    for (const std::string& name : ListFolder(folder + "\\", FolderEntry::AllFiles, PumpMessages)) {
        std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), 0);
        if (!DeleteFileA(path.c_str()))
            ShowMessage(MainWindow.GetHandle(), "在尝试删除" + path + "时发生错误，请您手工删除这个文件", "错误！",
                        MB_ICONERROR);
    }
}

void ExcludeKitFolder(const std::string& folder)
{
    std::string excluded = folder + "_已排除";
    if (!MoveFileA(folder.c_str(), excluded.c_str()))
        ShowMessage(MainWindow.GetHandle(),
                    "在尝试修改鼓源路径" + folder + "时发生错误，请您关掉程序后手工将这个文件夹名称后面追加下划线已排除字样",
                    "错误！", MB_ICONERROR);
}

bool WriteWholeFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == text.size();
}

void RunHiddenAndWait(std::string commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace

std::string MakeTimeStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TimeStampOf({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds});
}

void DeleteKitFolder(const std::string& folderPath)
{
    if (!IsSafeFolderPath(folderPath))
        return;
    std::string folder = folderPath;
    if (folder.back() != '\\')
        folder += "\\";
    if (PathIsDirectoryA(folder.c_str()) != FILE_ATTRIBUTE_DIRECTORY)
        return;
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    std::string script = std::string(temp) + MakeTimeStamp() + "_Speed.bat";
    if (!WriteWholeFile(script, RemovalScriptText(folder, script)))
        return;
    // cmd is named so that AutoRun (/D) and delayed expansion (/V:OFF, which
    // would eat "!" in a folder name) are off whatever the registry says.
    RunHiddenAndWait("cmd.exe /D /V:OFF /C \"\"" + script + "\"\"");
}

void ForgetKit(int kitIndex, int32_t kitCommand)
{
    if (kitIndex >= 1 && kitIndex <= (int)KitList.size())
        KitList.erase(KitList.begin() + (kitIndex - 1));
    KitMenu.RemoveItem(kitCommand);
    WithdrawKitCommand(kitCommand);
    BASS_Init(CurrentCardIndex, 44100, BASS_DEVICE_3D, MainWindow.GetHandle(), NULL);
    LoadKit(KitCommandOfNumber(1), 1);
}

void RemoveCurrentKit()
{
    if (CurrentKitCommand <= 0 || KitList.size() < 2 || CurrentKitIndex < 1 ||
        CurrentKitIndex > (int)KitList.size()) {
        ShowMessage(MainWindow.GetHandle(), "程序检测到当前只有一个鼓源，不满足删除条件", "错误！", MB_ICONERROR);
        return;
    }
    int answer = ShowMessage(MainWindow.GetHandle(),
                             "您是否需要同事删除相关鼓源文件？单击是按钮程序将会彻底删除鼓源文件，单击否按钮程序将会对鼓源目录做排除操作，您仍可以手工恢复这些鼓源,单击取消按钮放弃此操作。",
                             "询问？", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer != IDYES && answer != IDNO)
        return;
    // Kept now: messages run while the files are listed, and a kit change
    // made meanwhile must not turn the removal onto another kit.
    int kitIndex = CurrentKitIndex;
    int32_t kitCommand = CurrentKitCommand;
    std::string folder = KitList[kitIndex - 1];
    BASS_Free();
    if (answer == IDYES) {
        DeleteKitFiles(folder);
        DeleteKitFolder(folder);
    } else {
        ExcludeKitFolder(folder);
    }
    ForgetKit(kitIndex, kitCommand);
}
