#pragma once
// Shared state of the program and the few operations every part uses.
#include <windows.h>

#include "ui/label.h"
#include "ui/menu.h"
#include "ui/window.h"
#include "version.h"

#include <cstdint>
#include <string>

// Directory of the executable, always ending with "\".
extern std::string ProgramDir;
// Update server base address followed by "/YXProgect/yxyt/".
extern std::string ServerBase;
// Command ids of every menu item, entries 1..100 (entry k = 102422 + k);
// entry 0 is unused so that indices read as in the menu tables.
extern int32_t CommandTable[101];

constexpr int kCommandCount = 100;
// The entries by what their items do. Entry 1 and 64..87 belong to no item.
enum CommandEntry : int {
    kHomePageEntry = 2,
    kRemoveKitEntry = 3,
    kFirstKitEntry = 4, // kit n: entry n + 3
    kLastKitEntry = 33,
    kFirstCardEntry = 34, // card n: entry n + 33
    kLastCardEntry = 63,
    kRepeatHitEntry = 88,
    kAboutEntry = 89,
    kHelpFileEntry = 90,
    kSeekBackEntry = 91,
    kSeekForwardEntry = 92,
    kMusicVolumeDownEntry = 93,
    kMusicVolumeUpEntry = 94,
    kPauseMusicEntry = 95,
    kLoopMusicEntry = 96,
    kOpenMusicEntry = 97,
    kKitVolumeDownEntry = 98,
    kKitVolumeUpEntry = 99,
    kExitEntry = 100,
};
constexpr int kMaxKits = kLastKitEntry - kFirstKitEntry + 1;
constexpr int kMaxCards = kLastCardEntry - kFirstCardEntry + 1;

// The main window, its label and its five menus.
extern Window MainWindow;
extern Label KitLabel;
extern Menu MenuBar, KitMenu, SoundMenu, CardMenu, HelpMenu;

// The product's own version and its fixed addresses.
constexpr const char* kProductName = "逸响乐台";
constexpr const char* kOwnVersion = YXYT_VERSION_TEXT;
const char* HomePageAddress();
const char* SupportMail();
// The base address (scheme and host), empty when there is no update
// server. Builds for development and tests let YXYT_SERVER in the
// environment replace the built-in value; "none" or any other text that is
// no web address means no server.
std::string ServerRoot();
// Without a server the program makes no request and shows built-in texts.
bool HasUpdateServer();
bool HasHomePage();

void FillCommandTable();
// Position 1..100 of the first entry equal to id; 101 when none matches.
int CommandIndex(int32_t id);
inline int32_t CommandOf(CommandEntry entry) { return CommandTable[entry]; }
// The item of sound card n (1..kMaxCards), and the card of such an item.
inline int32_t CardCommand(int n) { return CommandTable[kFirstCardEntry + n - 1]; }
inline int CardNumberOf(int32_t id) { return CommandIndex(id) - kFirstCardEntry + 1; }

// Ends the own process at once with exit code 0; nothing after it runs.
[[noreturn]] void EndOwnProcess();
void OpenInBrowser(const char* address);

// Every box of the program is task-modal and answers what MessageBoxA answers.
int ShowMessage(HWND owner, const std::string& text, const char* caption, UINT style);

// The main window's handle once it exists, else the foreground window:
// the owner of the program's message boxes.
HWND MessageOwner();
