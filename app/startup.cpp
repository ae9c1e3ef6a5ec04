#include "app/startup.h"

#include "app/app.h"
#include "app/commands.h"
#include "app/path_rules.h"

Window MainWindow;
Label KitLabel;
Menu MenuBar, KitMenu, SoundMenu, CardMenu, HelpMenu;

HWND MessageOwner()
{
    HWND main = MainWindow.GetHandle();
    return main ? main : GetForegroundWindow();
}

namespace {

std::string ExecutableDirectory()
{
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(NULL, path, sizeof path - 1);
    return DirectoryOfPath(path);
}

void CreateMainWindow()
{
    // A third of the primary screen each way, quotients truncated.
    double screenWidth = GetSystemMetrics(SM_CXSCREEN);
    double screenHeight = GetSystemMetrics(SM_CYSCREEN);
    WindowCreateArgs args;
    args.title = kProductName;
    args.x = (int)(screenWidth / 3);
    args.y = (int)(screenHeight / 3);
    args.width = (int)(screenWidth / 3);
    args.height = (int)(screenHeight / 3);
    args.style = WS_CAPTION;
    args.exStyle = WS_EX_APPWINDOW;
    args.show = 1;
    args.className = "YXYT";
    MainWindow.Create(args);
}

void CreateWelcomeLabel(const std::string& text)
{
    double w = MainWindow.Width();
    double h = MainWindow.Height();
    KitLabel.CreateLabel(MainWindow.GetHandle(), text, SS_CENTER,
                         (int)(w / 3), (int)(h / 3), (int)(w / 3), (int)(h / 3));
}

} // namespace

void RunStartup()
{
    ServerBase = ServerRoot() + "/YXProgect/yxyt/";
    ProgramDir = ExecutableDirectory();
    FillCommandTable();
    CreateMainWindow();
    CreateWelcomeLabel("");
    BuildMenus();
    RegisterMessageHook(MainWindow.GetHandle(), DispatchCommand);
    RunMessageLoop(MainWindow, true);
}
