#include "music/file_dialog.h"

#include "core/program.h"
#include "music/dialog_filter.h"

#include <commdlg.h>

#include <vector>

// The version-4 size of the record: older comdlg32 versions accept only this one.
constexpr DWORD kOpenFileNameSize = 76;

std::string ChooseFile(HWND owner, const char* title, const char* filter)
{
    std::string filterList = BuildDialogFilter(filter ? filter : "所有文件(*.*)|*.*");
    std::vector<char> file(512, 0), fileTitle(512, 0);
    // The current folder stays where it was: a folder of downloads chosen
    // here must not become where DLLs are looked for. OFN_NOCHANGEDIR does
    // not see to that for GetOpenFileName (documented), so it is put back here.
    char savedDirectory[MAX_PATH * 2] = {};
    const DWORD saved = GetCurrentDirectoryA(sizeof savedDirectory, savedDirectory);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = kOpenFileNameSize;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filterList.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = (DWORD)file.size();
    ofn.lpstrFileTitle = fileTitle.data();
    ofn.nMaxFileTitle = (DWORD)fileTitle.size();
    ofn.lpstrInitialDir = Program().ProgramDir.c_str();
    ofn.lpstrTitle = title ? title : "打开文件";
    ofn.Flags = OFN_NOCHANGEDIR; // honoured by other dialogs and by Wine's

    BOOL chosen = GetOpenFileNameA(&ofn);
    if (saved > 0 && saved < sizeof savedDirectory)
        SetCurrentDirectoryA(savedDirectory);
    return chosen ? std::string(file.data()) : std::string();
}

std::string ChooseMusicFile(HWND owner)
{
    return ChooseFile(owner, "请选择您要播放的文件",
                      "所有文件(*.*)|*.*|MP3文件(*.mp3)|*.mp3|WMA文件(*.wma)|*.wma|WAV文件(*.wav)|*.wav");
}
