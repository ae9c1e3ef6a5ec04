#include "app/close_prompt.h"

#include "app/keyboard_hook.h"
#include "core/bass_api.h"
#include "core/program.h"
#include "core/settings.h"

int ClosePrompt()
{
    if (ReadSetting(kOptionSection, kClosePromptKey, "0") != "0")
        ShutdownAndExit();
    int answer =
        ShowMessage(Program().MainWindow.GetHandle(),
                    "您是否希望退出逸响乐台,点击是按钮退出程序，点击否按钮放弃操作，点击取消按钮退出程序并下次不再提示",
                    "询问！", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDNO)
        return 1;
    if (answer != IDYES)
        WriteSetting(kOptionSection, kClosePromptKey, "1");
    ShutdownAndExit();
}

void ShutdownAndExit()
{
    BASS_Free();
    RemoveKeyboardHook();
    EndOwnProcess();
}
