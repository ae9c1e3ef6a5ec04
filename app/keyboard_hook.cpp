#include "app/keyboard_hook.h"

#include "app/commands.h"
#include "app/key_rows.h"
#include "core/program.h"
#include "core/window_ids.h"
#include "drumpad/hits.h"

HHOOK KeyboardHook = NULL;

void InstallKeyboardHook()
{
    KeyboardHook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardHookProc, NULL, 0);
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record)
{
    DWORD vk = ((const KBDLLHOOKSTRUCT*)record)->vkCode;
    HWND main = MainWindow.GetHandle();
    if (GetForegroundWindow() != main)
        return CallNextHookEx(KeyboardHook, code, message, record);

    // Alt-held keys arrive as system keys: no row, swallowed all the same.
    const KeyRow* row = nullptr;
    if (message == WM_KEYDOWN || message == WM_KEYUP)
        row = FindKeyRow(vk, message == WM_KEYDOWN ? KeyEdge::Press : KeyEdge::Release);
    if (row && row->action == KeyAction::kPlayLetter)
        HitLetter((char)vk);
    NoteKeyForPlayLock(message == WM_KEYDOWN);
    if (row && row->action != KeyAction::kPlayLetter) {
        if (row->run == KeyRun::kPosted)
            PostMessageA(main, WM_HOOK_KEY, vk, (LPARAM)row->edge);
        else
            RunKeyRow(*row, vk);
    }

    // Non-zero swallows the key; a box or dialog opened above, and the
    // keys that work the menu bar and the window, still get it.
    LRESULT result = (LRESULT)main;
    if (GetForegroundWindow() != main || IsPassThroughKey(vk))
        result = CallNextHookEx(KeyboardHook, code, message, record);
    return result;
}
