#pragma once
// The menu bar, its fixed items and the dispatcher of menu commands.
#include <windows.h>

#include <cstdint>

// Creates the bar and the pop-ups, attaches the bar, appends the fixed items.
void BuildMenus();
// The main window's message hook: carries out menu commands, always answers 0.
LRESULT DispatchCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Start-up, once the kits are listed: "退出(&E)" and "显示键盘(&K)".
void AppendClosingItems();
// Start-up, before the keyboard hook: the keys it posts wait, in order,
// until ConnectDispatcher; every other message goes on to the window, for
// which no command is connected yet.
void QueueKeysUntilDispatch(HWND window);
// Start-up: from now on menu commands are carried out, the queued keys first.
void ConnectDispatcher(HWND window);
// The full command id of a WM_COMMAND, also where the system reports menu
// ids in 16 bits.
int32_t ReceivedCommandId(WPARAM wParam, LPARAM lParam);
void OpenHomePage();
void OpenHelpFile();
