#include "app/keyboard_hook.h"

#include "core/program.h"
#include "drumpad/hits.h"
#include "drumpad/kit_volume.h"
#include "music/music.h"

HHOOK KeyboardHook = NULL;

namespace {

bool IsPassThroughKey(DWORD vk)
{
    switch (vk) {
    case VK_TAB:
    case VK_LMENU:
    case VK_RMENU:
    case VK_RETURN:
    case VK_F4:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_ESCAPE:
        return true;
    default:
        return false;
    }
}

} // namespace

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

    if (message == WM_KEYDOWN && vk >= 'A' && vk <= 'Z') {
        if (vk == 'H' || vk == 'J' || vk == 'K' || vk == 'L')
            MuteChokeGroup();
        PlaySample(std::string(1, (char)(vk - 'A' + 'a')) + ".WAV");
    }
    if (RepeatHitOption == 1)
        PlayLock = (message == WM_KEYDOWN);

    if (message == WM_KEYUP) {
        if (vk == VK_PRIOR)
            ChangeKitVolume(kVolumeUp);
        else if (vk == VK_NEXT)
            ChangeKitVolume(kVolumeDown);
        else if (vk == VK_HOME || vk == VK_END)
            PostMessageA(main, WM_KIT_KEY, vk, 0);
        else if (vk == VK_F7)
            PostMessageA(main, WM_RECORD_KEY, 0, 0);
        else if (vk == VK_INSERT)
            DeferMusicKey(vk);
    }
    if (message == WM_KEYDOWN) {
        if (vk == VK_SPACE)
            TogglePlayPause();
        else if (vk == VK_ADD)
            ChangeMusicVolume(kVolumeUp);
        else if (vk == VK_SUBTRACT)
            ChangeMusicVolume(kVolumeDown);
        else if (vk == VK_F3)
            SeekMusic(false);
        else if (vk == VK_F4)
            SeekMusic(true);
        else if ((vk >= '0' && vk <= '9') || vk == VK_F5)
            DeferMusicKey(vk);
        else if (vk == VK_F6)
            StopMusicSlots();
    }

    // Non-zero swallows the key; a box or dialog opened above, and the
    // keys that work the menu bar and the window, still get it.
    LRESULT result = (LRESULT)main;
    if (GetForegroundWindow() != main || IsPassThroughKey(vk))
        result = CallNextHookEx(KeyboardHook, code, message, record);
    return result;
}
