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
    SetProgramDir(folder);
    if (audio) {
        // The program loads the library from its own directory.
        CopyFileA((ThisProgramFolder() + "bass.dll").c_str(), (Program().ProgramDir + "bass.dll").c_str(), FALSE);
        Trace::Start(Program().ProgramDir + "trace.txt");
    }
    return Program().ProgramDir;
}

void BuildMainWindow(const char* welcome, bool audio, bool dispatch)
{
    StartWindowFramework();
    CreateMainWindow();
    if (welcome)
        CreateWelcomeLabel(welcome);
    if (audio)
        StartAudioEngine();
    BuildMenus();
    if (dispatch)
        RegisterMessageHook(Program().MainWindow.GetHandle(), DispatchCommand);
}

LRESULT HookKey(DWORD vk, WPARAM message)
{
    KBDLLHOOKSTRUCT record = {};
    record.vkCode = vk;
    LRESULT result = KeyboardHookProc(HC_ACTION, message, (LPARAM)&record);
    PostPadLights();
    return result;
}
