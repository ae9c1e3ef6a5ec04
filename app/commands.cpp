#include "app/commands.h"

#include "app/app.h"
#include "app/close_prompt.h"
#include "audio/engine.h"
#include "audio/keyboard.h"
#include "audio/kit_removal.h"
#include "audio/kit_volume.h"
#include "audio/kits.h"
#include "music/music.h"
#include "online/notices.h"

#include <shellapi.h>

void BuildMenus()
{
    MenuBar.CreateMenuBar();
    KitMenu.CreatePopup();
    SoundMenu.CreatePopup();
    CardMenu.CreatePopup();
    HelpMenu.CreatePopup();

    MenuBar.AppendSubMenu(KitMenu, "鼓源设定(&g)");
    MenuBar.AppendSubMenu(SoundMenu, "声效设定(&s)");
    SoundMenu.AppendSubMenu(CardMenu, "声卡选择(&c)");
    MenuBar.AppendSubMenu(HelpMenu, "帮助(&H)");

    MenuBar.AttachToWindow(MainWindow.GetHandle());

    HelpMenu.AppendItem("访问官方主页(&V)", CommandTable[2]);
    KitMenu.AppendItem("删除当前选中鼓源(&D)", CommandTable[3]);
    SoundMenu.AppendItem("增加鼓源音量(&U)", CommandTable[99]);
    SoundMenu.AppendItem("减小鼓源音量(&D)", CommandTable[98]);
    SoundMenu.AppendItem("打开背景音乐(&O)", CommandTable[97]);
    SoundMenu.AppendItem("设置背景音乐循环(&R)", CommandTable[96]);
    SoundMenu.AppendItem("暂停背景音乐(&S)", CommandTable[95]);
    SoundMenu.AppendItem("增加背景音量(&M)", CommandTable[94]);
    SoundMenu.AppendItem("减小背景音量(&W)", CommandTable[93]);
    SoundMenu.AppendItem("背景音乐快进(&F)", CommandTable[92]);
    SoundMenu.AppendItem("背景音乐快退(&B)", CommandTable[91]);
    SoundMenu.AppendItem("重复敲击(&P)", CommandTable[88]);
    HelpMenu.AppendItem("阅读帮助文件(&R)", CommandTable[90]);
    HelpMenu.AppendItem("关于(&A)", CommandTable[89]);
}

int32_t ReceivedCommandId(WPARAM wParam, LPARAM lParam)
{
    int32_t id = (int32_t)wParam;
    // Our ids exceed 16 bits; a menu command (lParam 0) that arrives with
    // only the low word is mapped back to the one entry with that low word.
    if (lParam == 0 && HIWORD(wParam) == 0 && CommandIndex(id) > kCommandCount) {
        for (int k = 1; k <= kCommandCount; k++)
            if (LOWORD(CommandTable[k]) == LOWORD(wParam))
                return CommandTable[k];
    }
    return id;
}

LRESULT DispatchCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MUSIC_END) {
        OnMusicEnd((DWORD)wParam);
        return 0;
    }
    if (message == WM_MUSIC_KEY) {
        OnMusicKey((DWORD)wParam);
        return 0;
    }
    if (message == WM_KIT_KEY) {
        StepKit((unsigned)wParam);
        return 0;
    }
    if (message != WM_COMMAND)
        return 0;
    int32_t id = ReceivedCommandId(wParam, lParam);

    if (id >= CommandTable[kFirstKitEntry] && id <= CommandTable[kLastKitEntry]) {
        // A withdrawn id, or one past the last kit, selects no kit.
        int n = KitNumberOfCommand(id);
        if (n >= 1 && n <= (int)KitList.size())
            LoadKit(id, n);
        return 0;
    }
    if (id >= CommandTable[kFirstCardEntry] && id <= CommandTable[kLastCardEntry]) {
        // SwitchSoundCard ignores a card past the list: it has no item.
        SwitchSoundCard(id, CommandIndex(id) - 33);
        return 0;
    }
    if (id == CommandTable[2])
        OpenHomePage();
    else if (id == CommandTable[3])
        RemoveCurrentKit();
    else if (id == CommandTable[100])
        ClosePrompt();
    else if (id == CommandTable[99])
        ChangeKitVolume(1);
    else if (id == CommandTable[98])
        ChangeKitVolume(0);
    else if (id == CommandTable[97])
        OpenMusic();
    else if (id == CommandTable[96])
        ToggleLoop();
    else if (id == CommandTable[95])
        TogglePlayPause();
    else if (id == CommandTable[94])
        ChangeMusicVolume(1);
    else if (id == CommandTable[93])
        ChangeMusicVolume(0);
    else if (id == CommandTable[92])
        SeekMusic(1);
    else if (id == CommandTable[91])
        SeekMusic(0);
    else if (id == CommandTable[90])
        OpenHelpFile();
    else if (id == CommandTable[89])
        ShowMessage(MainWindow.GetHandle(), LoadAboutText(), "关于", MB_ICONINFORMATION);
    else if (id == CommandTable[88])
        ToggleRepeatHit();
    return 0;
}

void OpenHomePage()
{
    if (HasHomePage())
        OpenInBrowser(HomePageAddress());
    else
        ShowMessage(MainWindow.GetHandle(), "本程序没有配置官方主页。", "友情提醒:", MB_ICONINFORMATION);
}

void OpenHelpFile()
{
    std::string path = ProgramDir + "ReadMe.txt";
    HINSTANCE result = ShellExecuteA(NULL, "open", path.c_str(), NULL, "", SW_SHOWNORMAL);
    if ((INT_PTR)result != ERROR_FILE_NOT_FOUND)
        return;
    std::string text = "程序检测到帮助文件已经丢失,请重新下载本程序的复本解压使用，请访问官方唯一地址";
    text += HomePageAddress();
    text += "进行下载，我们无法保证您从其他渠道获取本程序的安全性，谢谢您的支持。点击确定后程序会自动为您打开官网";
    ShowMessage(MainWindow.GetHandle(), text, "错误！", MB_ICONERROR);
    if (HasHomePage())
        OpenInBrowser(HomePageAddress());
    EndOwnProcess();
}
