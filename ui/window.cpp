#include "ui/window.h"

#include "ui/system_library.h"

#include <map>

namespace {

HINSTANCE Module = NULL;
int ControlIdCounter = 500;
std::map<HWND, WindowObject*> ObjectRegistry;
std::map<HWND, MessageHook> HookRegistry;

// Every framework window runs through this procedure first.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_QUIT) {
        auto hook = HookRegistry.find(window);
        if (hook != HookRegistry.end()) {
            LRESULT r = hook->second(window, message, wParam, lParam);
            if (r)
                return r;
        }
    }
    if (WindowObject* object = FindWindowObject(window))
        return object->HandleMessage(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// The procedure of the framework's window class: what the host procedure
// passes on reaches the top-level handler of the window's object.
LRESULT CALLBACK ClassWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (Window* object = dynamic_cast<Window*>(FindWindowObject(window)))
        return object->HandleTopLevel(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterFrameworkClass(const char* className)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = ClassWindowProc;
    wc.hInstance = ModuleHandle();
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszMenuName = "";
    wc.lpszClassName = className;
    RegisterClassExA(&wc); // fails harmlessly when the class exists
}

} // namespace

void StartWindowFramework()
{
    if (!Module)
        Module = GetModuleHandleA(NULL);
    ControlIdCounter = 500;
    // ActiveX hosting is part of the framework's start, for a control a
    // window might host; the program hosts none, so a missing atl.dll
    // changes nothing.
    if (HMODULE atl = LoadSystemLibrary("atl.dll")) {
        using AtlInit = BOOL(WINAPI*)();
        if (auto init = (AtlInit)GetProcAddress(atl, "AtlAxWinInit"))
            init();
    }
}

HINSTANCE ModuleHandle()
{
    if (!Module)
        Module = GetModuleHandleA(NULL);
    return Module;
}

int NextControlId()
{
    return ++ControlIdCounter;
}

void RegisterMessageHook(HWND window, MessageHook hook)
{
    HookRegistry[window] = hook;
}

WindowObject* FindWindowObject(HWND window)
{
    auto it = ObjectRegistry.find(window);
    return it == ObjectRegistry.end() ? nullptr : it->second;
}

void WindowObject::Adopt(HWND window)
{
    handle_ = window;
    ObjectRegistry[window] = this;
    WNDPROC current = (WNDPROC)GetWindowLongPtrA(window, GWLP_WNDPROC);
    if (current != HostWindowProc)
        previousProc_ = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)HostWindowProc);
    SendMessageA(window, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), 0);
}

void WindowObject::Release()
{
    if (backgroundBrush_)
        DeleteObject(backgroundBrush_);
    backgroundBrush_ = NULL;
    if (previousProc_)
        SetWindowLongPtrA(handle_, GWLP_WNDPROC, (LONG_PTR)previousProc_);
    ObjectRegistry.erase(handle_);
    handle_ = NULL;
}

void WindowObject::SetBackgroundColour(COLORREF colour, bool redraw)
{
    if (backgroundBrush_)
        DeleteObject(backgroundBrush_);
    backgroundColour_ = colour;
    backgroundBrush_ = CreateSolidBrush(colour);
    if (redraw && handle_)
        InvalidateRect(handle_, NULL, TRUE);
}

LRESULT WindowObject::CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (previousProc_)
        return CallWindowProcA(previousProc_, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT WindowObject::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCDESTROY: {
        WNDPROC previous = previousProc_;
        Release();
        previousProc_ = NULL;
        if (previous)
            return CallWindowProcA(previous, window, message, wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        if (WindowObject* control = FindWindowObject((HWND)lParam)) {
            if (LRESULT r = control->ColorControl((HDC)wParam))
                return r;
        }
        break;
    }
    return CallPrevious(window, message, wParam, lParam);
}

HWND Window::Create(const WindowCreateArgs& args)
{
    if (handle_)
        return NULL;
    RegisterFrameworkClass(args.className);
    onCreate_ = args.onCreate;

    HWND parent = args.parent;
    if (!parent && !args.standAlone)
        parent = CreateWindowExA(0, args.className, "", WS_POPUP, 0, 0, 250, 110, NULL, NULL, ModuleHandle(), NULL);

    SetBackgroundColour(GetSysColor(COLOR_BTNFACE), false);
    HWND window = CreateWindowExA(args.exStyle, args.className, args.title, args.style | WS_CLIPSIBLINGS, args.x,
                                  args.y, args.width, args.height, parent, NULL, ModuleHandle(), NULL);
    if (!window)
        return NULL;
    Adopt(window);
    if (parent) {
        for (WPARAM kind : {(WPARAM)ICON_SMALL, (WPARAM)ICON_BIG}) {
            LRESULT icon = SendMessageA(parent, WM_GETICON, kind, 0);
            SendMessageA(window, WM_SETICON, kind, icon);
        }
    }
    SendMessageA(window, WM_WINDOW_CREATED, 0, 0);
    if (args.show == 1) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return window;
}

int Window::Width() const
{
    RECT r = {};
    GetWindowRect(handle_, &r);
    return r.right - r.left;
}

int Window::Height() const
{
    RECT r = {};
    GetWindowRect(handle_, &r);
    return r.bottom - r.top;
}

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    int got = GetWindowTextA(window, &text[0], length + 1);
    text.resize(got > 0 ? got : 0);
    return text;
}

std::string Window::GetTitle() const
{
    return WindowText(handle_);
}

int Window::SetTitle(const std::string& title)
{
    return SetWindowTextA(handle_, title.c_str()) ? 1 : 0;
}

LRESULT Window::SendToWindow(UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageA(handle_, message, wParam, lParam);
}

LRESULT Window::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) {
        // The class brush is never used: the object paints its own colour.
        RECT client;
        GetClientRect(window, &client);
        FillRect((HDC)wParam, &client, backgroundBrush_);
        return 1;
    }
    return WindowObject::HandleMessage(window, message, wParam, lParam);
}

LRESULT Window::HandleTopLevel(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_WINDOW_CREATED:
        if (onCreate_) {
            onCreate_(window);
            RECT client;
            GetClientRect(window, &client);
            SendMessageA(window, WM_SIZE, 0, MAKELONG(client.right - client.left, client.bottom - client.top));
        }
        break;
    case WM_CLOSE:
        if (onCloseQuery_ && onCloseQuery_())
            return 1;
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

WPARAM RunMessageLoop(Window& window, bool forwardInput)
{
    HWND handle = window.GetHandle();
    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        bool input = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                     (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSEWHEEL);
        if (forwardInput && input) {
            HWND focus = GetFocus();
            if (focus && IsChild(handle, focus)) {
                HWND child = focus;
                while (GetParent(child) != handle)
                    child = GetParent(child);
                SendMessageA(child, WM_USER + 127, 0, (LPARAM)&msg);
            }
        }
        if (!IsDialogMessageA(handle, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!IsWindow(handle))
            break;
    }
    return msg.wParam;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs)
{
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            ULONGLONG spent = GetTickCount64() - start;
            left = spent >= timeoutMs ? 0 : DWORD(timeoutMs - spent);
        }
        DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        // Peeking delivers the sent messages; nothing posted is removed.
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
