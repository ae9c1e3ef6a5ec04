#include "audio/engine.h"

#include "app/app.h"
#include "audio/bass_api.h"
#include "audio/kit_rules.h"
#include "audio/kits.h"
#include "music/music.h"

#include <mmsystem.h>

#include <algorithm>

std::vector<std::string> SoundCards;
int CurrentCardIndex = 0;
int32_t MarkedCardCommand = 0;

void CheckOutputDevices()
{
    if (waveOutGetNumDevs() == 0) {
        ShowMessage(GetForegroundWindow(),
                    "程序检测到您的电脑上没有任何有效的声音输出设备，请连接有效声音输出设备后重新启动此程序！",
                    "错误！", MB_ICONERROR);
        EndOwnProcess();
    }
    CurrentCardIndex = 1;
}

void CheckAudioLibrary()
{
    std::string path = ProgramDir + "bass.dll";
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    std::string text = "程序检测到所需音频组件丢失无法正常运行，请访问官方唯一发布渠道";
    text += HomePageAddress();
    text += "获取新的复本后重新运行，我们不保证您从其他渠道获取此程序的安全性和完整性，点击确定按钮将会打开官网首页。";
    ShowMessage(GetForegroundWindow(), text, "错误~", MB_ICONERROR);
    if (HasHomePage())
        OpenInBrowser(HomePageAddress());
    EndOwnProcess();
}

void StartAudioEngine()
{
    OpenEngine(-1);
    BASS_Set3DFactors(0.3048f, -10.0f, 0.0f);
    // One record for every call: a device the library does not know leaves
    // it untouched, so that card repeats the previous name.
    BASS_DEVICEINFO info = {};
    UINT count = waveOutGetNumDevs();
    for (UINT n = 1; n <= count; n++) {
        BASS_GetDeviceInfo(n, &info);
        SoundCards.push_back(info.name ? info.name : "");
    }
}

void AddSoundCardItems()
{
    // The command table has ids for 30 cards; later cards get no item.
    int shown = std::min((int)SoundCards.size(), kMaxCards);
    for (int n = 1; n <= shown; n++)
        CardMenu.AppendItem(NumberedItemText(SoundCards[n - 1], n).c_str(), CardCommand(n));
}

void SwitchSoundCard(int32_t commandId, int cardNumber)
{
    // A card without an item: reopening on it would leave the program
    // without an engine.
    if (cardNumber < 1 || cardNumber > std::min((int)SoundCards.size(), kMaxCards))
        return;
    SaveMusicPositions();
    BASS_Free();
    OpenEngine(cardNumber);
    // The kit asked for last, with its own item: a load in progress may not
    // have reached it yet.
    if (AskedKit.command > 0) {
        LoadKit(AskedKit.command, AskedKit.index);
        CurrentCardIndex = cardNumber;
    }
    CardMenu.SetItemState(MarkedCardCommand, 0);
    MarkedCardCommand = commandId;
    CardMenu.SetItemState(MarkedCardCommand, MFS_CHECKED);
    RestoreMusicAfterDeviceChange();
}
