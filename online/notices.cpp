#include "online/notices.h"

#include "core/bass_api.h"
#include "core/private_folder.h"
#include "core/program.h"
#include "online/http.h"
#include "online/url.h"

#include <atomic>

namespace {

OnlineState State;

std::atomic<bool> NoticeCheckRunning{false};

std::string NoticeBase()
{
    return ParentAddress(Program().ServerBase);
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

// The notice sound's bytes in a file of their own for the audio library,
// which opens files by name, in a folder only administrators may write.
// The file is held open without letting others write, rename or delete
// it, so what the library reads is what was fetched; file and folder are
// deleted when this object goes.
class NoticeSoundFile {
public:
    explicit NoticeSoundFile(const std::string& bytes) : folder_(MakePrivateFolder())
    {
        if (folder_.empty())
            return;
        path_ = folder_ + "notice.tmp";
        file_ = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY,
                            NULL);
        if (file_ == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        ready_ = WriteFile(file_, bytes.data(), DWORD(bytes.size()), &written, NULL) && written == bytes.size();
    }
    NoticeSoundFile(const NoticeSoundFile&) = delete;
    NoticeSoundFile& operator=(const NoticeSoundFile&) = delete;
    ~NoticeSoundFile()
    {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            DeleteFileA(path_.c_str());
        }
        if (!folder_.empty())
            RemoveDirectoryA(folder_.c_str());
    }
    bool Ready() const { return ready_; }
    const std::string& Path() const { return path_; }

private:
    std::string folder_;
    std::string path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    bool ready_ = false;
};

// Set once start-up has opened the audio output.
HANDLE OutputOpened = CreateEventA(NULL, TRUE, FALSE, NULL);
constexpr DWORD kOutputWaitMs = 30000;

void CALLBACK NoticeSoundEnded(DWORD, DWORD, DWORD, void* ended)
{
    SetEvent(static_cast<HANDLE>(ended));
}

} // namespace

void LetNoticeSoundsPlay()
{
    SetEvent(OutputOpened);
}

void PlayNoticeSound(const std::string& address, FetchGroup& fetches)
{
    if (address.empty())
        return;
    const std::string bytes = FetchBytes(address, fetches);
    // A body at the cap may have been cut short.
    if (bytes.size() >= kFetchBodyCap || !IsNoticeSound(bytes))
        return;
    NoticeSoundFile file(bytes);
    // The first check starts before the output is open.
    if (!file.Ready() || WaitForSingleObject(OutputOpened, kOutputWaitMs) != WAIT_OBJECT_0)
        return;
    const DWORD stream = BASS_StreamCreateFile(FALSE, file.Path().c_str(), 0, 0, 0);
    if (!stream)
        return;
    HANDLE ended = CreateEventA(NULL, TRUE, FALSE, NULL);
    // The file must outlive the playing; a reopened output ends the stream
    // without its end notice, so the wait is bounded.
    if (ended && BASS_ChannelSetSync(stream, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, NoticeSoundEnded, ended) &&
        BASS_ChannelPlay(stream, FALSE))
        WaitForSingleObject(ended, kNoticeSoundLongestMs);
    BASS_StreamFree(stream);
    if (ended)
        CloseHandle(ended);
}

void CheckStopNotice()
{
    if (!HasUpdateServer() || FetchText(Program().ServerBase + "jy.txt", State.StartupFetches) != "1")
        return;
    ShowMessage(GetForegroundWindow(), FetchText(Program().ServerBase + "jyts.txt", State.StartupFetches), "错误！",
                MB_ICONERROR);
    EndOwnProcess();
}

OnlineState& Online()
{
    return State;
}

bool ResetOnline()
{
    State.NoticeCheckGate = NoticeGate{};
    bool startup = RenewFetchGroup(State.StartupFetches);
    return RenewFetchGroup(State.NoticeFetches) && startup;
}

std::string LoadWelcomeText()
{
    if (!HasUpdateServer())
        return "欢迎使用逸响乐台！按字母键敲鼓，Home/End 切换鼓源。";
    return FetchText(Program().ServerBase + "hy.txt", State.StartupFetches);
}

std::string LoadAboutText()
{
    if (HasUpdateServer())
        return FetchText(Program().ServerBase + "gy.txt");
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
    SetWindowTextA(
        window,
        (WindowText(window) + " - " + FetchText(Program().ServerBase + "gg.txt", State.StartupFetches)).c_str());
}

void StartPeriodicCheck(HWND window)
{
    if (!HasUpdateServer())
        return;
    SetTimer(window, kNoticeTimerId, kNoticePeriodMs, NoticeTimerProc);
    // The first check still belongs to the start-up: a server that failed
    // it is not asked again now.
    if (!NoticeCheckRunning.exchange(true))
        StartCheckThread(State.StartupFetches);
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
    if (!RenewFetchGroup(State.NoticeFetches)) {
        NoticeCheckRunning = false;
        return false;
    }
    return StartCheckThread(State.NoticeFetches);
}

void RunNoticeCheck(FetchGroup& fetches)
{
    const std::string base = NoticeBase();
    if (FetchText(base + "EN.txt", fetches) == "close")
        return;
    if (FetchText(base + "EN.txt", fetches) != "open")
        return;
    if (!State.NoticeCheckGate.TryPass(GetTickCount64()))
        return;
    const std::string type = FetchText(base + "ENType.txt", fetches);
    if (type == "1") {
        PlayNoticeSound(WebAddressIn(FetchText(base + "ENIndex.txt", fetches)), fetches);
    } else if (type == "2") {
        OpenAddressFrom(base + "ENIndex.txt", fetches);
    } else if (type == "3") {
        ShowMessage(Program().MainWindow.GetHandle(), FetchText(base + "ENMessage.txt", fetches), "官方紧急提示",
                    MB_ICONINFORMATION);
        OpenAddressFrom(base + "ENIndex.txt", fetches);
    }
}
