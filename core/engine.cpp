#include "core/engine.h"

#include "core/bass_api.h"
#include "core/exclusive_output.h"
#include "core/program.h"

#include <mmsystem.h>

void CheckOutputDevices()
{
    if (waveOutGetNumDevs() == 0) {
        ShowMessage(GetForegroundWindow(),
                    "程序检测到您的电脑上没有任何有效的声音输出设备，请连接有效声音输出设备后重新启动此程序！",
                    "错误！", MB_ICONERROR);
        EndOwnProcess();
    }
    Program().CurrentCardIndex = 1;
}

void MarkSwitchedCard(int32_t command, int card, bool opened)
{
    if (opened)
        Program().CurrentCardIndex = card;
    Program().CardMenu.SetItemState(Program().MarkedCardCommand, 0);
    Program().MarkedCardCommand = command;
    Program().CardMenu.SetItemState(Program().MarkedCardCommand, MFS_CHECKED);
}

void CheckAudioLibrary()
{
    std::string path = Program().ProgramDir + "bass.dll";
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    ReportLostFile(LostFile::AudioLibrary, GetForegroundWindow(), "错误~");
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
        Program().SoundCards.push_back(info.name ? info.name : "");
    }
    TellExclusiveFallback();
}
