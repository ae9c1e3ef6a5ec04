#pragma once
// Plays the user for in-process tests: a thread that waits for this
// process's dialogs and answers them. Open-file dialogs get the next queued
// path typed into their name field (an empty path cancels); message boxes
// get the current button pressed. The product has no test seam for its
// dialogs. Also the same look at another process's boxes.
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A visible dialog (class #32770) of process `pid` that is not in `skip`, or NULL.
HWND FindVisibleDialog(DWORD pid, const std::vector<HWND>& skip = {});
// A window's text as the program wrote it (GBK).
std::string WindowTextOf(HWND window);

struct SeenDialog {
    bool fileDialog = false;
    std::string caption; // GBK
    std::string text;    // message text of a box
    LONG style = 0;      // window style of the dialog
    HWND owner = NULL;
};

class UiDriver {
public:
    // Presses `button` (IDOK, IDYES, IDNO, IDCANCEL...) in every message box.
    explicit UiDriver(int button = IDOK);
    ~UiDriver();
    // The path the next open-file dialog returns; "" presses Cancel.
    void QueueFile(const std::string& path);
    void SetBoxButton(int button) { button_ = button; }
    // Appends `prefix` "caption|text" and, with `withOwner`, "|owned" or
    // "|none" of every dialog to `path` before answering it, for a child
    // process that ends inside the dialog's caller.
    void LogTo(const std::string& path, const std::string& prefix = "", bool withOwner = true);
    std::vector<SeenDialog> Seen();
    // Pumps this thread's messages until `count` dialogs have been answered.
    bool WaitFor(size_t count, DWORD timeoutMs = 10000);

private:
    void Run();
    void Answer(HWND dialog);
    std::atomic<int> button_;
    std::atomic<bool> stop_{false};
    HANDLE wake_;
    std::mutex lock_;
    std::deque<std::string> files_;
    std::string log_, logPrefix_;
    bool logOwner_ = true;
    std::vector<SeenDialog> seen_;
    std::vector<HWND> answered_;
    std::thread thread_;
};

// Pumps messages until `done` holds or the deadline passes; returns `done()`.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return done();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

// A box of this or another process, found without answering it.
struct FoundBox {
    HWND window = NULL;
    std::string caption;
    std::string text;
};

// Waits for a visible message box of process `pid` or the deadline.
FoundBox WaitForBox(DWORD pid, DWORD deadlineMs);
void PressButton(HWND dialog, int button);
