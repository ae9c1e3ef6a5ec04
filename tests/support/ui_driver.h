#pragma once
// Plays the user for in-process tests: a thread that waits for this
// process's dialogs and answers them. Open-file dialogs get the next queued
// path typed into their name field (an empty path cancels); message boxes
// get the current button pressed. Also small functions to lay out WAV files
// and read the audio library's trace.
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenDialog {
    bool fileDialog = false;
    std::string caption; // GBK
    std::string text;    // message text of a box
    HWND owner = NULL;
};

class UiDriver {
public:
    UiDriver();
    ~UiDriver();
    // The path the next open-file dialog returns; "" presses Cancel.
    void QueueFile(const std::string& path);
    void SetBoxButton(int button) { button_ = button; }
    // Appends "caption|text|owner" of every dialog to `path` before answering
    // it, for a child process that ends inside the dialog's caller.
    void LogTo(const std::string& path);
    std::vector<SeenDialog> Seen();
    // Pumps this thread's messages until `count` dialogs have been answered.
    bool WaitFor(size_t count, DWORD timeoutMs = 10000);

private:
    void Run();
    void Answer(HWND dialog);
    std::atomic<int> button_{IDOK};
    std::atomic<bool> stop_{false};
    HANDLE wake_;
    std::mutex lock_;
    std::deque<std::string> files_;
    std::string log_;
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

// A 16-bit stereo 44100 Hz sine: 176400 data bytes per second.
void WriteToneWav(const std::string& path, double seconds, double frequency);

// The audio library appends one line per call to the file named by
// YXYT_AUDIO_TRACE; tests read what was added since a mark.
class Trace {
public:
    // Sets the variable; call before the library's first call.
    static void Start(const std::string& path);
    static size_t Mark();
    static std::vector<std::string> Since(size_t mark);
    // Lines since mark that begin with `prefix`.
    static std::vector<std::string> Matching(size_t mark, const std::string& prefix);
};

std::string TempFolder(const std::string& name);
bool FileExists(const std::string& path);
