#include "tests/support/box_watcher.h"

#include <algorithm>

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

BoxWatcher::BoxWatcher(int button) : button_(button)
{
    wake_ = CreateEventA(NULL, FALSE, FALSE, NULL);
    thread_ = std::thread([this] { Run(); });
}

BoxWatcher::~BoxWatcher()
{
    stop_ = true;
    SetEvent(wake_);
    thread_.join();
    CloseHandle(wake_);
}

void BoxWatcher::Run()
{
    // Boxes appear at moments the test does not know: look every 20 ms.
    while (WaitForSingleObject(wake_, 20) == WAIT_TIMEOUT && !stop_) {
        std::vector<HWND> skip;
        {
            std::lock_guard<std::mutex> hold(lock_);
            skip = answered_;
        }
        HWND found = FindVisibleDialog(GetCurrentProcessId(), skip);
        if (!found)
            continue;
        SeenBox box;
        box.caption = WindowTextOf(found);
        box.text = WindowTextOf(GetDlgItem(found, 0xFFFF));
        box.style = GetWindowLongA(found, GWL_STYLE);
        box.owner = GetWindow(found, GW_OWNER);
        {
            std::lock_guard<std::mutex> hold(lock_);
            seen_.push_back(box);
            answered_.push_back(found);
        }
        PostMessageA(found, WM_COMMAND, MAKEWPARAM(button_.load(), BN_CLICKED),
                     (LPARAM)GetDlgItem(found, button_.load()));
    }
}

std::vector<SeenBox> BoxWatcher::Seen()
{
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
}

bool BoxWatcher::WaitFor(size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (Seen().size() >= count)
            return true;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    return Seen().size() >= count;
}
