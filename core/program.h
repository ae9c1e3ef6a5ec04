#pragma once
// Shared state of the program and the few operations every part uses:
// its folder, its fixed addresses, the main window with its label and
// menus, and its message boxes.
#include <windows.h>

#include "ui/label.h"
#include "ui/menu.h"
#include "ui/window.h"
#include "version.h"

#include <cstdint>
#include <string>
#include <vector>

// The core's whole state.
struct ProgramState {
    // Directory of the executable, always ending with "\".
    std::string ProgramDir;
    // Update server base address followed by "/YXProgect/yxyt/".
    std::string ServerBase;
    // The main window, its label and its five menus.
    Window MainWindow;
    Label KitLabel;
    Menu MenuBar, KitMenu, SoundMenu, CardMenu, HelpMenu;
    // Device names in device-number order: entry n-1 is device n.
    std::vector<std::string> SoundCards;
    // Card the engine was last opened on by a switch; 1 at start-up.
    int CurrentCardIndex = 0;
    // Command id of the card item with the check mark; 0 before any switch.
    int32_t MarkedCardCommand = 0;
};
ProgramState& Program();
// The folder the program's files are found in and written to.
void SetProgramDir(const std::string& folder);
// ServerBase on the server at `root` (scheme and host).
void SetServerRoot(const std::string& root);

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

// A file of the program that can go missing, so that the user needs a new copy.
enum class LostFile { AudioLibrary, HelpFile };
// The text of the box that says so: with a home page (a web address), its
// address and the promise to open it; without one, where to turn instead
// and that the program ends, promising nothing that would not happen.
std::string LostFileText(LostFile file, const std::string& homePage);
// That box with the configured home page; after OK the home page, if any,
// is opened and the program ends.
[[noreturn]] void ReportLostFile(LostFile file, HWND owner, const char* caption);

// Ends the own process at once with exit code 0; nothing after it runs.
[[noreturn]] void EndOwnProcess();
// Where an address was opened: through the desktop's shell, which starts
// the browser in the signed-in user's own context and not with this
// process's administrator rights; or, where there is no such desktop to
// ask (a shell that is not Explorer), in this process; or nowhere, when
// the desktop's shell is there and a step of it failed. Either of the
// last two leaves a line in the debug output saying why.
enum class OpenedIn { UserDesktop, ThisProcess, Nowhere };
OpenedIn OpenInBrowser(const char* address);
// A file such as the help file, with the program its type is associated
// with, the same way: the association is the user's to change, so it must
// not run with this process's rights.
OpenedIn OpenWithItsProgram(const char* path);
// How the desktop's window is found among the shell's windows: S_OK with
// its automation object, anything else when there is none. Null puts the
// system's way back; tests hand in their own.
struct IDispatch;
using DesktopFinder = HRESULT (*)(IDispatch** desktop);
void UseDesktopFinder(DesktopFinder finder);

// Every box of the program is task-modal and answers what MessageBoxA answers.
int ShowMessage(HWND owner, const std::string& text, const char* caption, UINT style);

// The main window's handle once it exists, else the foreground window:
// the owner of the program's message boxes.
HWND MessageOwner();
