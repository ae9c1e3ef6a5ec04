#include "app/commands.h"

#include "app/close_prompt.h"
#include "app/key_rows.h"
#include "app/sound_cards.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/exclusive_output.h"
#include "core/program.h"
#include "core/window_ids.h"
#include "drumpad/hits.h"
#include "drumpad/key_map_edit.h"
#include "drumpad/kit_removal.h"
#include "drumpad/kit_volume.h"
#include "drumpad/kits.h"
#include "music/music.h"
#include "online/notices.h"
#include "pads/pads.h"
#include "recorder/metronome.h"
#include "recorder/recorder.h"

#include <deque>
#include <utility>

namespace {

struct MenuRow {
    Menu& menu;
    const char* text;
    CommandEntry entry;
};

// The fixed items in the order they are appended; the kit and card items
// and "退出(&E)" follow once the kits and cards are known.
const MenuRow kFixedItems[] = {
    {Program().HelpMenu, "访问官方主页(&V)", kHomePageEntry},
    {Program().KitMenu, "删除当前选中鼓源(&D)", kRemoveKitEntry},
    {Program().SoundMenu, "增加鼓源音量(&U)", kKitVolumeUpEntry},
    {Program().SoundMenu, "减小鼓源音量(&D)", kKitVolumeDownEntry},
    {Program().SoundMenu, "打开背景音乐(&O)", kOpenMusicEntry},
    {Program().SoundMenu, "设置背景音乐循环(&R)", kLoopMusicEntry},
    {Program().SoundMenu, "暂停背景音乐(&S)", kPauseMusicEntry},
    {Program().SoundMenu, "增加背景音量(&M)", kMusicVolumeUpEntry},
    {Program().SoundMenu, "减小背景音量(&W)", kMusicVolumeDownEntry},
    {Program().SoundMenu, "背景音乐快进(&F)", kSeekForwardEntry},
    {Program().SoundMenu, "背景音乐快退(&B)", kSeekBackEntry},
    {Program().SoundMenu, "重复敲击(&P)", kRepeatHitEntry},
    {Program().SoundMenu, kExclusiveCaption, kExclusiveEntry}, // named: the caption changes while the wish is unmet
    {Program().SoundMenu, "开始录音(&T)", kRecordEntry},
    {Program().SoundMenu, "节拍器设置(&N)…", kMetronomeSettingsEntry},
    {Program().SoundMenu, "节拍器(&J)", kMetronomeEntry},
    {Program().SoundMenu, "余音叠加(&Y)", kRingOverEntry},
    {Program().SoundMenu, "按住只响一次(&E)", kHoldOnceEntry},
    {Program().HelpMenu, "阅读帮助文件(&R)", kHelpFileEntry},
    {Program().HelpMenu, "关于(&A)", kAboutEntry},
};

// The items after the kits, at the end of 鼓源设定.
const MenuRow kClosingItems[] = {
    {Program().KitMenu, "退出(&E)", kExitEntry},
    {Program().KitMenu, "显示键盘(&K)", kShowPadsEntry},
    {Program().KitMenu, "编辑键位(&M)", kEditKeyMapEntry},
};

struct CommandRow {
    CommandEntry entry;
    void (*action)();
};

const CommandRow kCommandActions[] = {
    {kHomePageEntry, OpenHomePage},
    {kRemoveKitEntry, RemoveCurrentKit},
    {kExitEntry, [] { ClosePrompt(); }},
    {kKitVolumeUpEntry, [] { ChangeKitVolume(kVolumeUp); }},
    {kKitVolumeDownEntry, [] { ChangeKitVolume(kVolumeDown); }},
    {kOpenMusicEntry, OpenMusic},
    {kLoopMusicEntry, ToggleLoop},
    {kPauseMusicEntry, TogglePlayPause},
    {kMusicVolumeUpEntry, [] { ChangeMusicVolume(kVolumeUp); }},
    {kMusicVolumeDownEntry, [] { ChangeMusicVolume(kVolumeDown); }},
    {kSeekForwardEntry, [] { SeekMusic(true); }},
    {kSeekBackEntry, [] { SeekMusic(false); }},
    {kHelpFileEntry, OpenHelpFile},
    {kAboutEntry, [] { ShowMessage(Program().MainWindow.GetHandle(), LoadAboutText(), "关于", MB_ICONINFORMATION); }},
    {kRepeatHitEntry, ToggleRepeatHit},
    {kRecordEntry, ToggleRecording},
    {kExclusiveEntry, ToggleExclusiveOutput},
    {kShowPadsEntry, TogglePads},
    {kMetronomeEntry, ToggleMetronome},
    {kMetronomeSettingsEntry, OpenMetronomeSettings},
    {kRingOverEntry, ToggleRingOver},
    {kHoldOnceEntry, ToggleHoldOnce},
    {kEditKeyMapEntry, EditKeyMap},
};

// Keys posted before the dispatcher was connected, and those that came
// after them while they waited for WM_QUEUED_KEYS.
std::deque<std::pair<WPARAM, LPARAM>> QueuedKeys;

LRESULT QueueKey(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_HOOK_KEY)
        return 0;
    QueuedKeys.push_back({wParam, lParam});
    return 1;
}

// What the main window's hook passes on after the pads: queued keys until
// start-up connects the dispatcher, then the dispatcher.
MessageHook Stage = QueueKey;

LRESULT MainWindowHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (LRESULT r = PadsMessage(window, message, wParam, lParam))
        return r;
    return Stage(window, message, wParam, lParam);
}

void RunCommandEntry(CommandEntry entry)
{
    for (const CommandRow& row : kCommandActions) {
        if (row.entry == entry) {
            row.action();
            return;
        }
    }
}

// A posted key's row: its menu command through the menu's own action row,
// or its own action. Letters are played in the hook call and never posted.
void RunKeyRow(const KeyRow& row, uint32_t vk)
{
    switch (row.action) {
    case KeyAction::kCommand:
        RunCommandEntry(row.entry);
        break;
    case KeyAction::kPreviousKit:
        SelectPreviousKit();
        break;
    case KeyAction::kNextKit:
        SelectNextKit();
        break;
    case KeyAction::kMusicSlot:
        PressMusicSlot(MusicSlotOfKey(vk));
        break;
    case KeyAction::kAskClearSlots:
        AskClearMusicSlots();
        break;
    case KeyAction::kStopSlots:
        StopMusicSlots();
        break;
    case KeyAction::kTapTempo:
        TapMetronomeTempo();
        break;
    default:
        break;
    }
}

void RunHookKey(WPARAM vk, LPARAM edge)
{
    if (const KeyRow* row = FindKeyRow((uint32_t)vk, (KeyEdge)edge))
        RunKeyRow(*row, (uint32_t)vk);
}

} // namespace

void BuildMenus()
{
    Program().MenuBar.CreateMenuBar();
    Program().KitMenu.CreatePopup();
    Program().SoundMenu.CreatePopup();
    Program().CardMenu.CreatePopup();
    Program().HelpMenu.CreatePopup();

    Program().MenuBar.AppendSubMenu(Program().KitMenu, "鼓源设定(&g)");
    Program().MenuBar.AppendSubMenu(Program().SoundMenu, "声效设定(&s)");
    Program().SoundMenu.AppendSubMenu(Program().CardMenu, "声卡选择(&c)");
    Program().MenuBar.AppendSubMenu(Program().HelpMenu, "帮助(&H)");

    Program().MenuBar.AttachToWindow(Program().MainWindow.GetHandle());

    for (const MenuRow& row : kFixedItems)
        row.menu.AppendItem(row.text, CommandOf(row.entry));
    MarkRecorderItem();
    LoadMetronome();
    MarkExclusiveItem();
}

void AppendClosingItems()
{
    for (const MenuRow& row : kClosingItems)
        row.menu.AppendItem(row.text, CommandOf(row.entry));
}

void QueueKeysUntilDispatch(HWND window)
{
    Stage = QueueKey;
    RegisterMessageHook(window, MainWindowHook);
}

void ConnectDispatcher(HWND window)
{
    Stage = DispatchCommand;
    RegisterMessageHook(window, MainWindowHook);
    if (!QueuedKeys.empty())
        PostMessageA(window, WM_QUEUED_KEYS, 0, 0);
}

int32_t ReceivedCommandId(WPARAM wParam, LPARAM lParam)
{
    int32_t id = (int32_t)wParam;
    // Our ids exceed 16 bits; a menu command (lParam 0) that arrives with
    // only the low word is mapped back to the one command with that low
    // word, in the table or after it.
    if (lParam == 0 && HIWORD(wParam) == 0 && CommandIndex(id) > kCommandCount) {
        for (int k = 1; k <= kLastCommandEntry; k++) {
            int32_t command = CommandOf((CommandEntry)k);
            if (LOWORD(command) == LOWORD(wParam))
                return command;
        }
    }
    return id;
}

LRESULT DispatchCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
        ReloadKitIfKeyMapChanged();
        return 0;
    }
    if (message == WM_MUSIC_END) {
        OnMusicEnd((DWORD)wParam);
        return 0;
    }
    if (message == WM_HOOK_KEY) {
        if (QueuedKeys.empty())
            RunHookKey(wParam, lParam);
        else
            QueuedKeys.push_back({wParam, lParam});
        return 0;
    }
    if (message == WM_QUEUED_KEYS) {
        // One at a time: a key may pump messages, and a key arriving then
        // joins the end of the queue.
        while (!QueuedKeys.empty()) {
            auto key = QueuedKeys.front();
            QueuedKeys.pop_front();
            RunHookKey(key.first, key.second);
        }
        return 0;
    }
    if (message != WM_COMMAND)
        return 0;
    int32_t id = ReceivedCommandId(wParam, lParam);

    if (id >= CommandOf(kFirstKitEntry) && id <= CommandOf(kLastKitEntry)) {
        // A withdrawn id, or one past the last kit, selects no kit.
        int n = KitNumberOfCommand(id);
        if (n >= 1 && n <= (int)Kits().KitList.size())
            LoadKit(id, n);
        return 0;
    }
    if (id >= CommandOf(kFirstCardEntry) && id <= CommandOf(kLastCardEntry)) {
        // SwitchSoundCard ignores a card past the list: it has no item.
        SwitchSoundCard(id, CardNumberOf(id));
        return 0;
    }
    for (const CommandRow& row : kCommandActions) {
        if (id == CommandOf(row.entry)) {
            row.action();
            break;
        }
    }
    return 0;
}

void OpenHomePage()
{
    if (HasHomePage())
        OpenInBrowser(HomePageAddress());
    else
        ShowMessage(Program().MainWindow.GetHandle(), "本程序没有配置官方主页。", "友情提醒:", MB_ICONINFORMATION);
}

void OpenHelpFile()
{
    std::string path = Program().ProgramDir + "ReadMe.txt";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        ReportLostFile(LostFile::HelpFile, Program().MainWindow.GetHandle(), "错误！");
    OpenWithItsProgram(path.c_str());
}
