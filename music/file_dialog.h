#pragma once
// The open-file dialog of the music player.
#include <windows.h>

#include <string>

// One GetOpenFileNameA call, starting in the program directory. A caller
// without title or filter gets "打开文件" and "所有文件(*.*)|*.*". The
// process's current directory is the same afterwards, wherever the user
// browsed. Returns the chosen full path, or the empty text when cancelled.
std::string ChooseFile(HWND owner, const char* title = nullptr, const char* filter = nullptr);
// The dialog both music commands open: music filter and title, owner the main window.
std::string ChooseMusicFile(HWND owner);
