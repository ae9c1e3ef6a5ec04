#include "online/notices.h"

#include "core/program.h"
#include "online/http.h"
#include "online/url.h"

#include <mmsystem.h>

#include <atomic>

NoticeGate NoticeCheckGate;
FetchGroup NoticeFetches(kFetchDeadlineMs);

namespace {

std::atomic<bool> NoticeCheckRunning{false};

std::string NoticeBase()
{
    return ParentAddress(ServerBase);
}

DWORD WINAPI NoticeThread(void* fetches)
{
    RunNoticeCheck(*static_cast<FetchGroup*>(fetches));
    NoticeCheckRunning = false;
    return 0;
}

bool StartCheckThread(FetchGroup& fetches)
{
    HANDLE thread = CreateThread(NULL, 0, NoticeThread, &fetches, 0, NULL);
    if (!thread) {
        NoticeCheckRunning = false;
        return false;
    }
    CloseHandle(thread);
    return true;
}

} // namespace

void CheckStopNotice()
{
    if (!HasUpdateServer() || FetchText(ServerBase + "jy.txt", StartupFetches) != "1")
        return;
    ShowMessage(GetForegroundWindow(), FetchText(ServerBase + "jyts.txt", StartupFetches), "错误！", MB_ICONERROR);
    EndOwnProcess();
}

std::string LoadWelcomeText()
{
    if (!HasUpdateServer())
        return "欢迎使用逸响乐台！按字母键敲鼓，Home/End 切换鼓源。";
    return FetchText(ServerBase + "hy.txt", StartupFetches);
}

std::string LoadAboutText()
{
    if (HasUpdateServer())
        return FetchText(ServerBase + "gy.txt");
    std::string text = std::string(kProductName) + " " + kOwnVersion +
                       "\r\n键盘鼓机：字母键敲鼓，Home/End 切换鼓源，PageUp/PageDown 调节鼓源音量。"
                       "\r\n许可：MIT";
    if (HasHomePage())
        text += std::string("\r\n官方主页：") + HomePageAddress();
    return text;
}

void AppendTitleNotice(HWND window)
{
    if (!HasUpdateServer())
        return;
    SetWindowTextA(window, (WindowText(window) + " - " + FetchText(ServerBase + "gg.txt", StartupFetches)).c_str());
}

void StartPeriodicCheck(HWND window)
{
    if (!HasUpdateServer())
        return;
    SetTimer(window, kNoticeTimerId, kNoticePeriodMs, NoticeTimerProc);
    // The first check still belongs to the start-up: a server that failed
    // it is not asked again now.
    if (!NoticeCheckRunning.exchange(true))
        StartCheckThread(StartupFetches);
}

void CALLBACK NoticeTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    StartNoticeCheck();
}

bool StartNoticeCheck()
{
    if (!HasUpdateServer() || NoticeCheckRunning.exchange(true))
        return false;
    // An exchange of an earlier check still hanging keeps this one from
    // starting: a dead server leaves one stuck thread, not one per tick.
    if (!RenewFetchGroup(NoticeFetches)) {
        NoticeCheckRunning = false;
        return false;
    }
    return StartCheckThread(NoticeFetches);
}

void RunNoticeCheck(FetchGroup& fetches)
{
    const std::string base = NoticeBase();
    if (FetchText(base + "EN.txt", fetches) == "close")
        return;
    if (FetchText(base + "EN.txt", fetches) != "open")
        return;
    if (!NoticeCheckGate.TryPass(GetTickCount64()))
        return;
    const std::string type = FetchText(base + "ENType.txt", fetches);
    if (type == "1") {
        std::string command;
        if (SoundOpenCommand(WebAddressIn(FetchText(base + "ENIndex.txt", fetches)), command)) {
            mciSendStringA(command.c_str(), NULL, 0, NULL);
            mciSendStringA("play sound", NULL, 0, NULL);
        }
    } else if (type == "2") {
        OpenAddressFrom(base + "ENIndex.txt", fetches);
    } else if (type == "3") {
        ShowMessage(MainWindow.GetHandle(), FetchText(base + "ENMessage.txt", fetches), "官方紧急提示",
                    MB_ICONINFORMATION);
        OpenAddressFrom(base + "ENIndex.txt", fetches);
    }
}
