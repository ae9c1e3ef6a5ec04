// The naive keyboard drum pad the key-to-sound benchmark measures against:
// a window with its own low-level keyboard hook that plays one WAV with
// PlaySoundA(SND_MEMORY | SND_ASYNC) on every letter press while the window
// is in front. Usage: baseline_pad.exe <wav file>
#include <windows.h>

#include <mmsystem.h>

#include <string>

namespace {

std::string Sample;
HWND MainWindow;

bool ReadSample(const char* path)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(f, NULL);
    Sample.resize(size);
    DWORD got = 0;
    bool ok = ReadFile(f, &Sample[0], size, &got, NULL) && got == size;
    CloseHandle(f);
    return ok && size > 44;
}

LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && GetForegroundWindow() == MainWindow) {
        const KBDLLHOOKSTRUCT* key = (const KBDLLHOOKSTRUCT*)lParam;
        if (key->vkCode >= 'A' && key->vkCode <= 'Z') {
            if (wParam == WM_KEYDOWN)
                PlaySoundA(Sample.data(), NULL, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
            return 1;
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int)
{
    std::string path = cmdLine;
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    if (!ReadSample(path.c_str()))
        return 2;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = "BaselinePad";
    RegisterClassA(&wc);
    MainWindow = CreateWindowA("BaselinePad", "BaselinePad", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 320, 200, NULL,
                               NULL, instance, NULL);
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardProc, instance, 0);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    UnhookWindowsHookEx(hook);
    return 0;
}
