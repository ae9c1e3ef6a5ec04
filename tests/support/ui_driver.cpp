#include "tests/support/ui_driver.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

struct Search {
    DWORD pid;
    HWND found;
    const std::vector<HWND>* skip;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    auto* search = (Search*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == search->pid && strcmp(cls, "#32770") == 0 && IsWindowVisible(window) &&
        std::find(search->skip->begin(), search->skip->end(), window) == search->skip->end()) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The name field of the open-file dialog: the combo box of the Explorer
// style (cmb13) or the edit field of the old style (edt1).
HWND FileNameField(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, 0x47C);
    if (combo) {
        HWND edit = FindWindowExA(combo, NULL, "Edit", NULL);
        return edit ? edit : combo;
    }
    return GetDlgItem(dialog, 0x480);
}

} // namespace

HWND FindVisibleDialog(DWORD pid, const std::vector<HWND>& skip)
{
    Search search = {pid, NULL, &skip};
    EnumWindows(FindDialog, (LPARAM)&search);
    return search.found;
}

std::string WindowTextOf(HWND window)
{
    char buf[8192] = {};
    GetWindowTextA(window, buf, sizeof buf);
    return buf;
}

UiDriver::UiDriver(int button) : button_(button)
{
    wake_ = CreateEventA(NULL, FALSE, FALSE, NULL);
    thread_ = std::thread([this] { Run(); });
}

UiDriver::~UiDriver()
{
    stop_ = true;
    SetEvent(wake_);
    thread_.join();
    CloseHandle(wake_);
}

void UiDriver::QueueFile(const std::string& path)
{
    std::lock_guard<std::mutex> hold(lock_);
    files_.push_back(path);
}

void UiDriver::LogTo(const std::string& path, const std::string& prefix, bool withOwner)
{
    std::lock_guard<std::mutex> hold(lock_);
    log_ = path;
    logPrefix_ = prefix;
    logOwner_ = withOwner;
}

std::vector<SeenDialog> UiDriver::Seen()
{
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
}

bool UiDriver::WaitFor(size_t count, DWORD timeoutMs)
{
    return PumpUntil([&] { return Seen().size() >= count; }, timeoutMs);
}

void UiDriver::Run()
{
    // Dialogs appear at moments the test does not know: look every 20 ms.
    while (WaitForSingleObject(wake_, 20) == WAIT_TIMEOUT && !stop_) {
        std::vector<HWND> skip;
        {
            std::lock_guard<std::mutex> hold(lock_);
            skip = answered_;
        }
        HWND found = FindVisibleDialog(GetCurrentProcessId(), skip);
        if (found)
            Answer(found);
    }
}

void UiDriver::Answer(HWND dialog)
{
    SeenDialog seen;
    seen.caption = WindowTextOf(dialog);
    seen.owner = GetWindow(dialog, GW_OWNER);
    seen.style = GetWindowLongA(dialog, GWL_STYLE);
    HWND field = FileNameField(dialog);
    seen.fileDialog = field != NULL;
    int button = button_;
    if (seen.fileDialog) {
        std::string path;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!files_.empty()) {
                path = files_.front();
                files_.pop_front();
            }
        }
        if (path.empty()) {
            button = IDCANCEL;
        } else {
            SendMessageA(field, WM_SETTEXT, 0, (LPARAM)path.c_str());
            button = IDOK;
        }
    } else {
        seen.text = WindowTextOf(GetDlgItem(dialog, 0xFFFF));
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        seen_.push_back(seen);
        answered_.push_back(dialog);
        if (!log_.empty()) {
            std::ofstream out(log_, std::ios::binary | std::ios::app);
            out << logPrefix_ << seen.caption << "|" << seen.text;
            if (logOwner_)
                out << "|" << (seen.owner ? "owned" : "none");
            out << "\n";
        }
    }
    PressButton(dialog, button);
}

FoundBox WaitForBox(DWORD pid, DWORD deadlineMs)
{
    FoundBox box;
    // Another process shows it at a moment the test does not know: look every 20 ms.
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = FindVisibleDialog(pid)) {
            box.window = found;
            box.caption = WindowTextOf(found);
            box.text = WindowTextOf(GetDlgItem(found, 0xFFFF));
            return box;
        }
        if (GetTickCount() - start >= deadlineMs)
            return box;
        Sleep(20);
    }
}

void PressButton(HWND dialog, int button)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, button));
}
