#pragma once
// A thin object layer over Win32 windows: every framework window is
// subclassed by one host procedure that first offers each message to a
// registered message hook, then to the object's own handlers.
#include <windows.h>

#include <string>

using MessageHook = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
using CreationHandler = void (*)(HWND window);
using CloseQueryHandler = int (*)();

// What a top-level window and a child control have in common.
class WindowObject {
public:
    virtual ~WindowObject() = default;
    HWND GetHandle() const { return handle_; }
    // The generic message handler: the entry for messages both kinds share.
    virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Answer to WM_CTLCOLOR* when this object is the child control asked about.
    virtual LRESULT ColorControl(HDC dc) { return 0; }

protected:
    // Registers the new window and puts the host procedure in front of its own.
    void Adopt(HWND window);
    void Release();
    void SetBackgroundColour(COLORREF colour, bool redraw);
    LRESULT CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND handle_ = NULL;
    WNDPROC previousProc_ = NULL;
    HBRUSH backgroundBrush_ = NULL;
    COLORREF backgroundColour_ = 0;
};

struct WindowCreateArgs {
    HWND parent = NULL;
    const char* title = "";
    CreationHandler onCreate = nullptr;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    int width = 380, height = 250;
    DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    DWORD exStyle = 0;
    int show = 1;
    const char* className = "WTWindow";
    bool standAlone = true;
};

class Window : public WindowObject {
public:
    // Registers the class, creates the window, runs the creation handler
    // while it is still hidden, then shows it. 0 on failure, or when this
    // object already holds a window.
    HWND Create(const WindowCreateArgs& args);
    int Width() const; // outer size, frame and caption included
    int Height() const;
    std::string GetTitle() const;
    int SetTitle(const std::string& title);
    void SetCloseHandler(CloseQueryHandler handler) { onCloseQuery_ = handler; }
    LRESULT SendToWindow(UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Messages of top-level windows, reached through the class procedure.
    LRESULT HandleTopLevel(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    CreationHandler onCreate_ = nullptr;
    CloseQueryHandler onCloseQuery_ = nullptr;
};

// Message sent by Create to run the creation handler before the first show.
constexpr UINT WM_WINDOW_CREATED = WM_USER + 2;

// Module handle, control-id counter at 500, ActiveX hosting support:
// called once before any window is created.
void StartWindowFramework();
HINSTANCE ModuleHandle();
int NextControlId();

std::string WindowText(HWND window);

void RegisterMessageHook(HWND window, MessageHook hook);
WindowObject* FindWindowObject(HWND window);

// Runs the message loop of `window` until it no longer exists or a quit
// message arrives; returns the wParam of the last message.
WPARAM RunMessageLoop(Window& window, bool forwardInput);
// Dispatches every pending message of this thread, then returns.
void PumpMessages();
// Waits up to timeoutMs (INFINITE allowed) for `object` while still
// answering messages sent to this thread, the low-level keyboard hook's
// calls among them: Windows removes a hook whose thread stops answering.
// Posted messages stay queued. True when the object was signalled.
bool WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs);
