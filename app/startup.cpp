#include "app/startup.h"

#include "app/close_prompt.h"
#include "app/commands.h"
#include "app/instance.h"
#include "app/keyboard_hook.h"
#include "app/sound_cards.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/path_rules.h"
#include "core/program.h"
#include "drumpad/hits.h"
#include "drumpad/kit_rules.h"
#include "drumpad/kits.h"
#include "music/music.h"
#include "online/notices.h"
#include "online/version_check.h"
#include "pads/pads.h"
#include "recorder/practice_rules.h"
#include "recorder/recorder.h"

namespace {

bool CloseAskedDuringStartup = false;

// Until the close prompt is connected a close request is only noted:
// destroying the window then would leave a process without a window that
// still holds the instance marker, the keyboard hook and the audio device.
int NoteCloseRequest()
{
    CloseAskedDuringStartup = true;
    return 1;
}

// A hit's note is its key's: the note the kit's key map gives the letter,
// else the letter's drum, whatever file of the letter played and whichever
// kit it was loaded with. What no letter plays (music, a slot, Finish.wav)
// is no note.
int NoteOfChannel(DWORD channel)
{
    const ChannelKey* key = KeyOfChannel(channel);
    if (!key)
        return 0;
    return key->note >= 0 ? key->note : DrumNoteOfLetter(key->letter);
}

std::string ExecutableDirectory()
{
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(NULL, path, sizeof path - 1);
    return DirectoryOfPath(path);
}

} // namespace

void ConnectHitNotes()
{
    SetHitNotes({KeepChannelKeys, NoteOfChannel, ForgetChannelKeys});
}

void CreateMainWindow()
{
    // A third of the primary screen each way, quotients truncated.
    double screenWidth = GetSystemMetrics(SM_CXSCREEN);
    double screenHeight = GetSystemMetrics(SM_CYSCREEN);
    WindowCreateArgs args;
    args.title = kProductName;
    args.onCreate = AppendTitleNotice;
    args.x = (int)(screenWidth / 3);
    args.y = (int)(screenHeight / 3);
    args.width = (int)(screenWidth / 3);
    args.height = (int)(screenHeight / 3);
    args.style = WS_CAPTION;
    args.exStyle = WS_EX_APPWINDOW;
    args.show = 1;
    args.className = "YXYT";
    Program().MainWindow.Create(args);
}

void CreateWelcomeLabel(const std::string& text)
{
    double w = Program().MainWindow.Width();
    double h = Program().MainWindow.Height();
    Program().KitLabel.CreateLabel(Program().MainWindow.GetHandle(), text, SS_CENTER, (int)(w / 3), (int)(h / 3),
                                   (int)(w / 3), (int)(h / 3));
}

void RunStartup()
{
    SetServerRoot(ServerRoot());
    SetProgramDir(ExecutableDirectory());
    CheckStopNotice();
    CheckForUpdate();
    CheckOutputDevices();
    CheckAudioLibrary();
    Program().MainWindow.SetCloseHandler(NoteCloseRequest);
    CreateMainWindow();
    EnsureSingleInstance("yixiangyuetai", true, "逸响乐台已经运行，请不要重复启动啦！", MB_ICONINFORMATION, true);
    StartPeriodicCheck(Program().MainWindow.GetHandle());
    CreateWelcomeLabel(LoadWelcomeText());
    StartAudioEngine();
    LetNoticeSoundsPlay();
    BuildMenus();
    CheckKitFolder();
    AddSoundCardItems();
    DiscoverKits();
    AppendClosingItems();
    ReadKitVolume();
    LoadPlayOptions();
    QueueKeysUntilDispatch(Program().MainWindow.GetHandle());
    StartPads();
    InstallKeyboardHook();
    LoadInitialKit();
    Program().MainWindow.SetCloseHandler(ClosePrompt);
    // A close asked for while starting reaches the prompt from the message loop.
    if (CloseAskedDuringStartup)
        PostMessageA(Program().MainWindow.GetHandle(), WM_CLOSE, 0, 0);
    LoadRepeatHitOption();
    ConnectHitNotes();
    ConnectDispatcher(Program().MainWindow.GetHandle());
    PlayStartupSound();
    LoadMusicSlots();
    RunMessageLoop(Program().MainWindow, true);
}
