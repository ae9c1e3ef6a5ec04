#include "app/keyboard_hook.h"

#include "app/key_rows.h"
#include "core/program.h"
#include "core/window_ids.h"
#include "drumpad/hits.h"
#include "pads/pads.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace {

// The hook's state: its handle is written by its thread once installed,
// and cleared after that thread has ended.
struct HookState {
    HHOOK KeyboardHook = NULL;
    HANDLE HookThread = NULL;
    DWORD HookThreadId = 0;
    // Letters played by hook calls whose lights are not yet posted (bit i: 'A' + i).
    std::atomic<uint32_t> PlayedLetters{0};
    // The keys down now, seen by the hook alone whichever window is in
    // front: a press of a key already down is auto-repeat.
    HeldKeySet HeldKeys;
};
HookState State;
HookStartCalls StartCalls;
// The box that says the keys cannot be heard comes once a run.
bool HookFailureTold = false;

// What the hook's thread reports back before its starter goes on.
struct HookStart {
    HANDLE ready = NULL;
    DWORD error = 0;
};

// Windows calls a low-level hook on the thread that installed it, from
// inside that thread's message retrieval, and silently removes a hook that
// does not answer within about a second. Installed on a thread of its own
// that does nothing else, the hook answers at once whatever the window's
// thread is doing: a device open, a kit load, a box.
DWORD WINAPI RunHookThread(void* parameter)
{
    HookStart* start = static_cast<HookStart*>(parameter);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    MSG msg;
    // The thread's queue exists before anyone can post WM_QUIT to it.
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    HHOOK hook = StartCalls.setHook(WH_KEYBOARD_LL, KeyboardHookProc, NULL, 0);
    State.KeyboardHook = hook;
    if (!hook) {
        start->error = GetLastError();
        SetEvent(start->ready);
        return 1;
    }
    // `start` belongs to the starter from here on.
    SetEvent(start->ready);
    // Peeking runs the hook calls waiting for this thread; once they have
    // returned, and the system has the keys back, their pads are lit.
    for (;;) {
        MsgWaitForMultipleObjectsEx(0, NULL, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                UnhookWindowsHookEx(hook);
                return 0;
            }
        }
        PostPadLights();
    }
}

// Shift as the system has it at this press, not as the hook saw it go: a
// release the hook missed (the secure desktop of a UAC prompt takes the
// keys) must not leave every later hit soft.
bool ShiftDownNow()
{
    return GetAsyncKeyState(VK_SHIFT) < 0;
}

// Shift goes on to the system even in front: a key the hook swallows never
// reaches the system's key state, which ShiftDownNow reads.
bool IsShiftKey(DWORD vk)
{
    return vk == VK_SHIFT || vk == VK_LSHIFT || vk == VK_RSHIFT;
}

void TellHookMissing(DWORD error)
{
    if (HookFailureTold)
        return;
    HookFailureTold = true;
    ShowMessage(MessageOwner(),
                "程序无法接收键盘按键（错误代码 " + std::to_string(error) +
                    "），本次运行中字母键和功能键都不起作用；菜单和键盘图的鼠标点击仍可使用。",
                "错误！", MB_ICONERROR);
}

} // namespace

void UseHookStartCalls(const HookStartCalls& calls)
{
    StartCalls = calls;
}

void InstallKeyboardHook()
{
    RemoveKeyboardHook();
    HookStart start;
    start.ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    State.HookThread =
        start.ready ? StartCalls.createThread(NULL, 0, RunHookThread, &start, 0, &State.HookThreadId) : NULL;
    DWORD error = GetLastError();
    if (State.HookThread) {
        // Only as long as the thread takes to install the hook, or to end
        // when it could not.
        HANDLE either[] = {start.ready, State.HookThread};
        WaitForMultipleObjects(2, either, FALSE, INFINITE);
        error = start.error;
        if (!State.KeyboardHook) {
            WaitForSingleObject(State.HookThread, INFINITE);
            CloseHandle(State.HookThread);
            State.HookThread = NULL;
        }
    }
    if (start.ready)
        CloseHandle(start.ready);
    if (!State.KeyboardHook)
        TellHookMissing(error);
}

void RemoveKeyboardHook()
{
    if (!State.HookThread)
        return;
    PostThreadMessageA(State.HookThreadId, WM_QUIT, 0, 0);
    // The thread only unhooks and ends; a hook call under way finishes first.
    WaitForSingleObject(State.HookThread, 1000);
    CloseHandle(State.HookThread);
    State.HookThread = NULL;
    State.KeyboardHook = NULL;
}

// Runs on the hook's thread: a letter plays here, every other key of a row
// is posted to the window, so nothing here waits for the window's thread,
// writes Config.ini or opens a box.
void PostPadLights()
{
    if (uint32_t letters = State.PlayedLetters.exchange(0, std::memory_order_relaxed))
        PostMessageA(Program().MainWindow.GetHandle(), WM_PAD_HIT, letters, 0);
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record)
{
    DWORD vk = ((const KBDLLHOOKSTRUCT*)record)->vkCode;
    bool firstPress = true;
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)
        firstPress = State.HeldKeys.Press(vk);
    else if (message == WM_KEYUP || message == WM_SYSKEYUP)
        State.HeldKeys.Release(vk);
    HWND main = Program().MainWindow.GetHandle();
    if (GetForegroundWindow() != main)
        return CallNextHookEx(State.KeyboardHook, code, message, record);

    // Alt-held keys arrive as system keys: no row, swallowed all the same.
    const KeyRow* row = nullptr;
    if (message == WM_KEYDOWN || message == WM_KEYUP)
        row = FindKeyRow(vk, message == WM_KEYDOWN ? KeyEdge::Press : KeyEdge::Release);
    // Its pad lights after the play call, posted once this call has returned.
    const bool letter = row && row->action == KeyAction::kPlayLetter;
    if (letter && (firstPress || !HoldOnceOption()) &&
        HitLetter((char)vk, ShiftDownNow() ? kSoftNoteGain : 1.0f) && PadsShown())
        State.PlayedLetters.fetch_or(1u << (vk - 'A'), std::memory_order_relaxed);
    NoteKeyForPlayLock(message == WM_KEYDOWN);
    if (row && !letter)
        PostMessageA(main, WM_HOOK_KEY, vk, (LPARAM)row->edge);

    // Non-zero swallows the key; the keys that work the menu bar and the
    // window still get it, and so does a window that came in front meanwhile.
    LRESULT result = (LRESULT)main;
    if (GetForegroundWindow() != main || IsPassThroughKey(vk) || IsShiftKey(vk))
        result = CallNextHookEx(State.KeyboardHook, code, message, record);
    return result;
}
