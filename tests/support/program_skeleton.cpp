#include "tests/support/program_skeleton.h"

#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "app/startup.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "tests/support/audio_trace.h"
#include "tests/support/child_process.h"

std::string MakeProgramDir(const std::string& folder, bool audio)
{
    CreateDirectoryA(folder.c_str(), NULL);
    ProgramDir = folder;
    if (audio) {
        // The program loads the library from its own directory.
        CopyFileA((ThisProgramFolder() + "bass.dll").c_str(), (ProgramDir + "bass.dll").c_str(), FALSE);
        Trace::Start(ProgramDir + "trace.txt");
    }
    return ProgramDir;
}

void BuildMainWindow(const char* welcome, bool audio, bool dispatch)
{
    StartWindowFramework();
    FillCommandTable();
    CreateMainWindow();
    if (welcome)
        CreateWelcomeLabel(welcome);
    if (audio)
        StartAudioEngine();
    BuildMenus();
    if (dispatch)
        RegisterMessageHook(MainWindow.GetHandle(), DispatchCommand);
}

LRESULT HookKey(DWORD vk, WPARAM message)
{
    KBDLLHOOKSTRUCT record = {};
    record.vkCode = vk;
    LRESULT result = KeyboardHookProc(HC_ACTION, message, (LPARAM)&record);
    PostPadLights();
    return result;
}
