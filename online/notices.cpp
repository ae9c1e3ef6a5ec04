#include "online/notices.h"

#include "app/app.h"
#include "online/http.h"
#include "online/url.h"

#include <mmsystem.h>

#include <atomic>

NoticeGate NoticeCheckGate;

namespace {

std::atomic<bool> NoticeCheckRunning{false};

std::string NoticeBase() { return ParentAddress(ServerBase); }

DWORD WINAPI NoticeThread(void*)
{
    RunNoticeCheck();
    NoticeCheckRunning = false;
    return 0;
}

} // namespace

void CheckStopNotice()
{
    if (FetchText(ServerBase + "jy.txt") != "1")
        return;
    ShowMessage(GetForegroundWindow(), FetchText(ServerBase + "jyts.txt"), "错误！", MB_ICONERROR);
    EndOwnProcess();
}

std::string LoadWelcomeText()
{
    return FetchText(ServerBase + "hy.txt");
}

void AppendTitleNotice(HWND window)
{
    SetWindowTextA(window, (WindowText(window) + " - " + FetchText(ServerBase + "gg.txt")).c_str());
}

void CALLBACK NoticeTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    StartNoticeCheck();
}

bool StartNoticeCheck()
{
    if (NoticeCheckRunning.exchange(true))
        return false;
    HANDLE thread = CreateThread(NULL, 0, NoticeThread, NULL, 0, NULL);
    if (!thread) {
        NoticeCheckRunning = false;
        return false;
    }
    CloseHandle(thread);
    return true;
}

void RunNoticeCheck()
{
    const std::string base = NoticeBase();
    if (FetchText(base + "EN.txt") == "close")
        return;
    if (FetchText(base + "EN.txt") != "open")
        return;
    if (!NoticeCheckGate.TryPass(GetTickCount64()))
        return;
    const std::string type = FetchText(base + "ENType.txt");
    if (type == "1") {
        std::string command;
        if (SoundOpenCommand(FetchText(base + "ENIndex.txt"), command)) {
            mciSendStringA(command.c_str(), NULL, 0, NULL);
            mciSendStringA("play sound", NULL, 0, NULL);
        }
    } else if (type == "2") {
        OpenAddressFrom(base + "ENIndex.txt");
    } else if (type == "3") {
        ShowMessage(MainWindow.GetHandle(), FetchText(base + "ENMessage.txt"), "官方紧急提示",
                    MB_ICONINFORMATION);
        OpenAddressFrom(base + "ENIndex.txt");
    }
}
