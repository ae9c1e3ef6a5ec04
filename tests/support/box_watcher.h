#pragma once
// Answers the message boxes a test provokes, the way a user would: a
// thread waits for a dialog of this process, reads its caption and text,
// and presses a button. The product has no test seam for its boxes.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A visible dialog (class #32770) of process `pid` that is not in `skip`, or NULL.
HWND FindVisibleDialog(DWORD pid, const std::vector<HWND>& skip);
// A window's text as the program wrote it (GBK).
std::string WindowTextOf(HWND window);

struct SeenBox {
    std::string caption; // GBK, as the program wrote it
    std::string text;
    LONG style = 0;      // window style of the dialog
    HWND owner = NULL;
};

class BoxWatcher {
public:
    // Presses `button` (IDOK, IDYES, IDNO, IDCANCEL...) in every box that appears.
    explicit BoxWatcher(int button);
    ~BoxWatcher();
    void SetButton(int button) { button_ = button; }
    std::vector<SeenBox> Seen();
    // Waits until `count` boxes have been answered or the deadline passes.
    bool WaitFor(size_t count, DWORD timeoutMs);

private:
    void Run();
    std::atomic<int> button_;
    std::atomic<bool> stop_{false};
    HANDLE wake_;
    std::mutex lock_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> answered_;
    std::thread thread_;
};
