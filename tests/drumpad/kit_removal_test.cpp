// Kit removal in-process, with real folders, the real command processor,
// the real audio library and its trace. A removal started from another
// folder runs in a child copy of this program.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "app/startup.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/folder_deletion.h"
#include "drumpad/kit_removal.h"
#include "drumpad/kits.h"
#include "tests/support/audio_trace.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

namespace {

std::string Folder, Snd;

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

void MakeKit(const std::string& name)
{
    std::string kit = Snd + name;
    CreateDirectoryA(kit.c_str(), NULL);
    WriteToneWav(kit + "\\a.WAV", 0.1, 440);
    WriteToneWav(kit + "\\b.wav", 0.1, 550);
}

// Starts one of the system's Unix programs on the Unix names of `paths`
// and waits until `done` holds: Wine gives no handle of such a process.
// Wine 8 makes no links of its own (CreateSymbolicLinkA does nothing, a
// junction cannot be set), but it shows a Unix symbolic link as a folder
// with the reparse-point mark, as Windows shows its links.
bool RunUnixTool(const std::string& tool, const std::string& options, std::initializer_list<std::string> paths,
                 const std::function<bool()>& done)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = (UnixName)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    if (!unixName)
        return false;
    std::string command = tool + " " + options;
    for (const std::string& path : paths) {
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        char* name = unixName(wide);
        if (!name)
            return false;
        command += " \"" + std::string(name) + "\"";
        HeapFree(GetProcessHeap(), 0, name);
    }
    std::string program = "Z:" + tool;
    std::replace(program.begin(), program.end(), '/', '\\');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    return PumpUntil(done, 10000);
}

// Presses and releases `vk` as a keyboard would, from the calling thread;
// returns how long the press took to be taken in, in milliseconds.
double TimedKeyPress(WORD vk)
{
    INPUT input[2] = {};
    for (INPUT& i : input) {
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.wScan = (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    }
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    SendInput(1, &input[0], sizeof(INPUT));
    QueryPerformanceCounter(&end);
    SendInput(1, &input[1], sizeof(INPUT));
    return (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

std::vector<UINT> KitItemIds()
{
    std::vector<UINT> ids;
    for (int i = 0; i < GetMenuItemCount(Program().KitMenu.GetHandle()); i++)
        ids.push_back(GetMenuItemID(Program().KitMenu.GetHandle(), i));
    return ids;
}

// Lists the kits of SND again, as at start-up, and loads kit `current`.
void Rediscover(int current)
{
    for (int k = kFirstKitEntry; k <= kLastKitEntry; k++)
        Program().KitMenu.RemoveItem(CommandTable[k]);
    DiscoverKits();
    LoadKit(KitCommandOfNumber(current), current);
}

// Every kit item still in the menu loads the folder its caption names.
void ExpectEveryItemLoadsItsOwnFolder()
{
    for (UINT id : KitItemIds()) {
        if (KitNumberOfCommand(id) < 1)
            continue; // the removal and exit items
        SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, id, 0);
        std::string caption = Program().KitMenu.GetItemText(id);
        ASSERT_GE(Kits().CurrentKitIndex, 1);
        ASSERT_LE(Kits().CurrentKitIndex, (int)Kits().KitList.size());
        EXPECT_EQ(Kits().KitList[Kits().CurrentKitIndex - 1], Snd + caption.substr(0, caption.find('('))) << caption;
    }
}

// Of K1 to K4 only K2 is gone, from the disk, the list and the menu.
void ExpectOnlyKitTwoOfFourRemoved()
{
    EXPECT_FALSE(FileExists(Snd + "K2"));
    for (const char* kept : {"K1", "K3", "K4"})
        EXPECT_TRUE(FileExists(Snd + kept + "\\a.WAV")) << kept;
    EXPECT_EQ(Kits().KitList, (std::vector<std::string>{Snd + "K1", Snd + "K3", Snd + "K4"}));
    ExpectEveryItemLoadsItsOwnFolder();
}

void PostRemoveCommand()
{
    PostMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandTable[kRemoveKitEntry], 0);
}

void DispatchPending()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Posts one more removal command when the first box of this thread closes:
// the removal then runs on into its folder listing, whose message pump is
// the first to see the command.
HHOOK BoxClosedHook;
bool BoxClosedPosted;
LRESULT CALLBACK PostRemoveWhenBoxCloses(int code, WPARAM wParam, LPARAM lParam)
{
    char name[16] = {};
    if (code == HCBT_DESTROYWND && !BoxClosedPosted && GetClassNameA((HWND)wParam, name, sizeof name) &&
        std::string(name) == "#32770") {
        BoxClosedPosted = true;
        PostRemoveCommand();
    }
    return CallNextHookEx(BoxClosedHook, code, wParam, lParam);
}

// Runs this program's child test with `folder` as program directory,
// pumping messages meanwhile; returns its exit code. `exe` is this program
// or a copy of it.
DWORD RunRemovalChild(const std::string& folder, const std::string& exe)
{
    return RunChild(exe, "--gtest_filter=RemovalChild.Run", {{"YXYT_CHILD_DIR", folder}}, 60000);
}

class KitRemoval : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Folder = TempFolder("yxyt_shell_test");
        Snd = Folder + "SND\\";
        MakeProgramDir(Folder, true);
        BuildMainWindow("", true);
        CheckOutputDevices();
    }

    static void TearDownTestSuite() { BASS_Free(); }

    void SetUp() override
    {
        DeleteFileA(SettingsPath().c_str());
        RemoveTree(Folder + "SND");
        CreateDirectoryA(Snd.c_str(), NULL);
        WriteToneWav(Snd + "Finish.wav", 0.1, 880);
        for (const char* kit : {"K1", "K2", "K3"})
            MakeKit(kit);
        // K2 holds what a plain delete would trip over.
        std::string k2 = Snd + "K2\\";
        WriteToneWav(k2 + "c.WAV", 0.1, 660);
        SetFileAttributesA((k2 + "c.WAV").c_str(), FILE_ATTRIBUTE_READONLY);
        std::ofstream(k2 + "notes.txt") << "hidden";
        SetFileAttributesA((k2 + "notes.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        CreateDirectoryA((k2 + "sub").c_str(), NULL);
        std::ofstream(k2 + "sub\\inner.txt") << "x";

        for (int k = kFirstKitEntry; k <= kLastKitEntry; k++)
            Program().KitMenu.RemoveItem(CommandTable[k]);
        OpenEngine(Program().CurrentCardIndex);
        DiscoverKits();
        LoadKit(KitCommandOfNumber(2), 2);
    }
};

TEST_F(KitRemoval, YesDeletesKitTwoWithReadOnlyAndHiddenFilesAndKitThreeKeepsItsItem)
{
    UiDriver ui(IDYES);
    size_t mark = Trace::Mark();
    RemoveCurrentKit();
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, "询问？");
    EXPECT_EQ(ui.Seen()[0].owner, Program().MainWindow.GetHandle());
    EXPECT_FALSE(FileExists(Snd + "K2"));
    EXPECT_TRUE(FileExists(Snd + "K1\\a.WAV"));
    EXPECT_TRUE(FileExists(Snd + "K3\\a.WAV"));

    std::vector<std::string> lines = Trace::Since(mark);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "BASS_Free() = 1");
    bool reopened = false;
    for (auto& l : lines)
        reopened |= l.rfind("BASS_Init(1, 44100, 4,", 0) == 0;
    EXPECT_TRUE(reopened);

    ASSERT_EQ(Kits().KitList.size(), 2u);
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
    EXPECT_EQ(ReadSetting(kKitSection, kKitIndexKey, ""), "1");
    // The removed kit's item is gone; kit 3's item keeps id and caption.
    std::vector<UINT> ids = KitItemIds();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), (UINT)CommandTable[5]), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), (UINT)CommandTable[6]), 1);
    EXPECT_EQ(Program().KitMenu.GetItemText(CommandTable[6]), "K3(&3)");
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandTable[6], 0);
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
    EXPECT_EQ(Kits().CurrentKitCommand, CommandTable[6]);
    EXPECT_EQ(Kits().KitList[1], Snd + "K3");
    EXPECT_NE(Program().KitLabel.LabelText().find("K3"), std::string::npos);
    // The menu's other commands keep their meaning.
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandTable[4], 0);
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
}

TEST_F(KitRemoval, NoRenamesTheFolderAsExcluded)
{
    UiDriver ui(IDNO);
    RemoveCurrentKit();
    EXPECT_EQ(ui.Seen().size(), 1u);
    EXPECT_FALSE(FileExists(Snd + "K2"));
    EXPECT_TRUE(FileExists(Snd + "K2_已排除\\c.WAV"));
    ASSERT_EQ(Kits().KitList.size(), 2u);
    EXPECT_EQ(Kits().KitList[1], Snd + "K3");
    // Discovery from scratch, as at the next start, skips it.
    DiscoverKits();
    EXPECT_EQ(Kits().KitList.size(), 2u);
}

TEST_F(KitRemoval, FailedRenameSaysSoAndTheKitIsForgottenAnyway)
{
    CreateDirectoryA((Snd + "K2_已排除").c_str(), NULL);
    std::ofstream(Snd + "K2_已排除\\block.txt") << "x";
    UiDriver ui(IDNO);
    RemoveCurrentKit();
    ASSERT_TRUE(ui.WaitFor(2));
    EXPECT_EQ(ui.Seen()[1].caption, "错误！");
    EXPECT_EQ(ui.Seen()[1].text, "在尝试修改鼓源路径" + Snd + "K2" +
                                     "时发生错误，请您关掉程序后手工将这个文件夹名称后面追加下划线已排除字样");
    EXPECT_TRUE(FileExists(Snd + "K2\\a.WAV"));
    EXPECT_EQ(Kits().KitList.size(), 2u);
}

TEST_F(KitRemoval, CancelTouchesNothing)
{
    UiDriver ui(IDCANCEL);
    size_t mark = Trace::Mark();
    RemoveCurrentKit();
    EXPECT_EQ(ui.Seen().size(), 1u);
    EXPECT_TRUE(Trace::Since(mark).empty());
    EXPECT_EQ(Kits().KitList.size(), 3u);
    EXPECT_TRUE(FileExists(Snd + "K2\\a.WAV"));
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
}

// A file another program holds is reported with its path, the rest goes;
// the kit, not deleted, stays in the list and loads again with what is left.
TEST_F(KitRemoval, LockedFileIsReportedWithItsPathAndTheFolderStays)
{
    std::string locked = Snd + "K2\\b.wav";
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    UiDriver ui(IDYES);
    RemoveCurrentKit();
    CloseHandle(hold);
    ASSERT_EQ(ui.Seen().size(), 3u);
    EXPECT_EQ(ui.Seen()[1].caption, "错误！");
    EXPECT_EQ(ui.Seen()[1].text, "在尝试删除" + locked + "时发生错误，请您手工删除这个文件");
    EXPECT_EQ(ui.Seen()[2].caption, "错误！");
    EXPECT_EQ(ui.Seen()[2].text,
              "鼓源目录" + Snd + "K2" + "没有被完全删除，剩下的文件请您核实后手工删除，这个鼓源仍然保留。");
    EXPECT_TRUE(FileExists(locked));
    EXPECT_FALSE(FileExists(Snd + "K2\\a.WAV"));
    EXPECT_FALSE(FileExists(Snd + "K2\\sub"));
    EXPECT_EQ(Kits().KitList.size(), 3u);
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
    EXPECT_EQ(Kits().SampleTable.front().fileName, "b.wav");
}

TEST_F(KitRemoval, SingleKitRefuses)
{
    RemoveTree(Snd + "K2");
    RemoveTree(Snd + "K3");
    for (int k = kFirstKitEntry; k <= kLastKitEntry; k++)
        Program().KitMenu.RemoveItem(CommandTable[k]);
    DiscoverKits();
    LoadKit(KitCommandOfNumber(1), 1);
    UiDriver ui;
    size_t mark = Trace::Mark();
    RemoveCurrentKit();
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, "错误！");
    EXPECT_EQ(ui.Seen()[0].text, "程序检测到当前只有一个鼓源，不满足删除条件");
    EXPECT_TRUE(Trace::Since(mark).empty());
    EXPECT_TRUE(FileExists(Snd + "K1\\a.WAV"));
}

TEST_F(KitRemoval, ASecondRemovalInsideTheQuestionBoxDoesNothing)
{
    // Kits 1 to 4, kit 2 current; both commands are queued before the
    // first runs, so its question box dispatches the second.
    MakeKit("K4");
    Rediscover(2);
    UiDriver ui(IDYES);
    PostRemoveCommand();
    PostRemoveCommand();
    DispatchPending();
    EXPECT_EQ(ui.Seen().size(), 1u);
    ExpectOnlyKitTwoOfFourRemoved();
}

TEST_F(KitRemoval, ASecondRemovalInsideTheFolderListingDoesNothing)
{
    MakeKit("K4");
    Rediscover(2);
    UiDriver ui(IDYES);
    BoxClosedPosted = false;
    BoxClosedHook = SetWindowsHookExA(WH_CBT, PostRemoveWhenBoxCloses, NULL, GetCurrentThreadId());
    ASSERT_NE(BoxClosedHook, (HHOOK)NULL);
    RemoveCurrentKit();
    DispatchPending();
    UnhookWindowsHookEx(BoxClosedHook);
    EXPECT_TRUE(BoxClosedPosted);
    EXPECT_EQ(ui.Seen().size(), 1u);
    ExpectOnlyKitTwoOfFourRemoved();
}

TEST_F(KitRemoval, DeletionRemovesExactlyTheNamedFolder)
{
    // Each name is next to the sibling a command line would reach if it
    // read the name as unquoted or unescaped text: %b% expands to nothing,
    // a lone % is dropped.
    struct Case {
        const char* name;
        const char* sibling;
    } cases[] = {
        {"a%b%b", "ab"},
        {"100%", "100"},
        {"x&y", "x"},
        {"p^q", "pq"},
        {"e!x!t", "et"},
        {"with space", "with"},
        {"鼓源 %OS% 套", "鼓源  套"},
    };
    std::string root = TempFolder("yxyt_script_test");
    for (const Case& c : cases) {
        std::string target = root + c.name, sibling = root + c.sibling;
        CreateDirectoryA(target.c_str(), NULL);
        CreateDirectoryA((target + "\\deep").c_str(), NULL);
        std::ofstream(target + "\\deep\\f.txt") << "x";
        SetFileAttributesA((target + "\\deep\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        CreateDirectoryA(sibling.c_str(), NULL);
        std::ofstream(sibling + "\\keep.txt") << "x";
    }
    for (const Case& c : cases) {
        EXPECT_EQ(DeleteKitFolder(root + c.name), KitDeletion::Deleted) << c.name;
        EXPECT_FALSE(FileExists(root + c.name)) << c.name;
        EXPECT_TRUE(FileExists(root + c.sibling + "\\keep.txt")) << c.sibling;
    }
    RemoveTree(root.substr(0, root.size() - 1));
}

TEST_F(KitRemoval, UnsafeOrMissingFoldersAreLeftAlone)
{
    std::string file = Snd + "K1\\a.WAV";
    EXPECT_EQ(DeleteKitFolder(file), KitDeletion::NotAFolder);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(DeleteKitFolder("K1"), KitDeletion::Unsafe);
    EXPECT_EQ(DeleteKitFolder(Snd + "nothing here"), KitDeletion::NotAFolder);
    EXPECT_TRUE(FileExists(Snd + "K1\\a.WAV"));
}

// A kit that nests folders deeper than the deletion goes is told and kept,
// with what lies above that depth deleted.
TEST_F(KitRemoval, FoldersNestedTooDeepAreToldAndTheKitStays)
{
    std::string deep = Snd + "K2";
    for (int level = 0; level < 70; level++) {
        deep += "\\d";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL)) << level;
    }
    UiDriver ui(IDYES);
    RemoveCurrentKit();
    std::string limit = Snd + "K2";
    for (int level = 0; level <= 64; level++)
        limit += "\\d";
    ASSERT_EQ(ui.Seen().size(), 3u);
    EXPECT_EQ(ui.Seen()[1].text, "在尝试删除" + limit + "时发生错误，请您手工删除这个文件");
    EXPECT_TRUE(FileExists(deep));
    EXPECT_FALSE(FileExists(Snd + "K2\\a.WAV"));
    EXPECT_EQ(Kits().KitList.size(), 3u);
}

TEST_F(KitRemoval, LinkedFoldersAndWhatTheyPointToAreNotDeleted)
{
    // "is" is a link to "elsewhere"; "holds" is a folder holding one.
    std::string root = TempFolder("yxyt_linked_" + std::to_string(GetCurrentProcessId()));
    std::string elsewhere = root + "elsewhere", is = root + "is", holds = root + "holds";
    CreateDirectoryA(elsewhere.c_str(), NULL);
    CreateDirectoryA((elsewhere + "\\deep").c_str(), NULL);
    std::ofstream(elsewhere + "\\deep\\keep.txt") << "x";
    CreateDirectoryA(holds.c_str(), NULL);
    std::ofstream(holds + "\\own.txt") << "x";
    std::string more = holds + "\\more";
    ASSERT_TRUE(RunUnixTool("/bin/ln", "-s", {elsewhere, is}, [&] { return FileExists(is); }));
    ASSERT_TRUE(RunUnixTool("/bin/ln", "-s", {elsewhere, more}, [&] { return FileExists(more); }));

    EXPECT_TRUE(IsOrHoldsLinkedFolder(is));
    EXPECT_TRUE(IsOrHoldsLinkedFolder(holds + "\\"));
    EXPECT_FALSE(IsOrHoldsLinkedFolder(elsewhere));
    EXPECT_FALSE(IsOrHoldsLinkedFolder(Snd + "K2"));
    for (const std::string& folder : {is, holds}) {
        EXPECT_EQ(DeleteKitFolder(folder), KitDeletion::Linked) << folder;
        EXPECT_TRUE(FileExists(elsewhere + "\\deep\\keep.txt")) << folder;
    }
    EXPECT_TRUE(FileExists(holds + "\\own.txt"));
    EXPECT_TRUE(FileExists(more + "\\deep\\keep.txt"));
    EXPECT_TRUE(FileExists(is + "\\deep\\keep.txt"));
    // rm does not follow links; Windows calls cannot remove a Unix one.
    std::string top = root.substr(0, root.size() - 1);
    EXPECT_TRUE(RunUnixTool("/bin/rm", "-rf", {top}, [&] { return !FileExists(top); }));
}

// Answers this thread's boxes from a thread of its own: Yes to the
// question, OK to the others; `swap` runs before the first box whose
// caption is `when` is answered.
class SwapInBox {
public:
    SwapInBox(const std::string& when, std::function<void()> swap) : when_(when), swap_(std::move(swap))
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~SwapInBox()
    {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return texts_;
    }

private:
    void Run()
    {
        std::vector<HWND> answered;
        // Boxes come at moments the test does not know: look every 20 ms.
        while (!stop_) {
            HWND box = FindVisibleDialog(GetCurrentProcessId(), answered);
            if (!box) {
                Sleep(20);
                continue;
            }
            std::string caption = WindowTextOf(box);
            {
                std::lock_guard<std::mutex> hold(lock_);
                texts_.push_back(WindowTextOf(GetDlgItem(box, 0xFFFF)));
            }
            if (caption == when_ && swap_) {
                swap_();
                swap_ = nullptr;
            }
            answered.push_back(box);
            PressButton(box, caption == "询问？" ? IDYES : IDOK);
        }
    }
    std::string when_;
    std::function<void()> swap_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> texts_;
    std::thread thread_;
};

struct Swapped {
    std::vector<std::string> boxes; // the texts of the boxes seen
    bool moved = false;             // the kit's folder could be moved away
};

// Removes kit K2 (Yes), putting in its place, during the box captioned
// `when`, a folder `replacement` of other files or a link to it, if the
// kit's folder can be moved away then.
Swapped RemoveWhileSwapped(const std::string& when, bool link, const std::string& replacement)
{
    std::string kit = Snd + "K2";
    CreateDirectoryA(replacement.c_str(), NULL);
    for (const char* name : {"b.wav", "c.WAV", "notes.txt"})
        std::ofstream(replacement + "\\" + name) << "not the kit's";
    // The kit's a.WAV cannot be deleted, which opens an error box.
    HANDLE lock = CreateFileA((kit + "\\a.WAV").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    Swapped swapped;
    SwapInBox boxes(when, [&] {
        CloseHandle(lock);
        lock = INVALID_HANDLE_VALUE;
        swapped.moved = MoveFileA(kit.c_str(), (kit + "_moved").c_str());
        if (!swapped.moved)
            return;
        if (link)
            RunUnixTool("/bin/ln", "-s", {replacement, kit}, [&] { return FileExists(kit); });
        else
            MoveFileA(replacement.c_str(), kit.c_str());
    });
    RemoveCurrentKit();
    if (lock != INVALID_HANDLE_VALUE)
        CloseHandle(lock);
    swapped.boxes = boxes.Texts();
    return swapped;
}

void ExpectStoppedAsChanged(const std::vector<std::string>& boxes, const std::string& replacement)
{
    std::string changed =
        "鼓源目录" + Snd + "K2" + "在删除过程中被替换或变成了链接，程序已停止删除，剩下的文件请您核实后手工删除。";
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), changed), 1);
    for (const char* name : {"b.wav", "c.WAV", "notes.txt"})
        EXPECT_TRUE(FileExists(replacement + "\\" + name)) << name;
}

TEST_F(KitRemoval, AFolderSwappedDuringTheQuestionIsNotTouched)
{
    Swapped swapped = RemoveWhileSwapped("询问？", false, Folder + "other");
    ASSERT_TRUE(swapped.moved);
    ExpectStoppedAsChanged(swapped.boxes, Snd + "K2");
    EXPECT_TRUE(FileExists(Snd + "K2_moved\\b.wav"));
    // Refused before anything was freed or deleted: the kit stays.
    EXPECT_EQ(Kits().KitList.size(), 3u);
}

// While its files are deleted the kit's folder is held: it cannot be
// moved away and a link put in its place, whatever box is up meanwhile.
TEST_F(KitRemoval, TheKitFolderCannotBeSwappedForALinkDuringAnErrorBox)
{
    std::string elsewhere = Folder + "elsewhere";
    Swapped swapped = RemoveWhileSwapped("错误！", true, elsewhere);
    EXPECT_FALSE(swapped.moved);
    for (const char* name : {"b.wav", "c.WAV", "notes.txt"})
        EXPECT_TRUE(FileExists(elsewhere + "\\" + name)) << name;
    // The rest went; a.WAV, locked when it was reached, keeps the kit.
    EXPECT_TRUE(FileExists(Snd + "K2\\a.WAV"));
    EXPECT_FALSE(FileExists(Snd + "K2\\b.wav"));
    ASSERT_EQ(swapped.boxes.size(), 3u);
    EXPECT_EQ(swapped.boxes[2],
              "鼓源目录" + Snd + "K2" + "没有被完全删除，剩下的文件请您核实后手工删除，这个鼓源仍然保留。");
    EXPECT_EQ(Kits().KitList.size(), 3u);
    RemoveTree(elsewhere);
}

// The deletion stops at a subfolder swapped for a link between its
// folder's listing and its own opening, and what the link leads to is
// untouched; the kit, not deleted, stays.
std::string SwapPoint, LinkTarget, MovedAway;
bool SubfolderSwapped = false;

void SwapForALink(const std::string& entry)
{
    if (entry != SwapPoint || SubfolderSwapped)
        return;
    SubfolderSwapped = MoveFileA(entry.c_str(), MovedAway.c_str()) &&
                       RunUnixTool("/bin/ln", "-s", {LinkTarget, entry}, [&] { return FileExists(entry); });
}

TEST_F(KitRemoval, ASubfolderSwappedForALinkInTheMiddleOfTheDeletionIsNotFollowed)
{
    SwapPoint = Snd + "K2\\sub";
    LinkTarget = Folder + "linked";
    MovedAway = Folder + "sub_moved";
    SubfolderSwapped = false;
    CreateDirectoryA(LinkTarget.c_str(), NULL);
    CreateDirectoryA((LinkTarget + "\\deep").c_str(), NULL);
    std::ofstream(LinkTarget + "\\keep.txt") << "x";
    std::ofstream(LinkTarget + "\\deep\\keep.txt") << "x";
    SetDeletionProbe(SwapForALink);
    UiDriver ui(IDYES);
    RemoveCurrentKit();
    SetDeletionProbe(nullptr);
    ASSERT_TRUE(SubfolderSwapped);
    EXPECT_TRUE(FileExists(LinkTarget + "\\keep.txt"));
    EXPECT_TRUE(FileExists(LinkTarget + "\\deep\\keep.txt"));
    EXPECT_TRUE(FileExists(MovedAway + "\\inner.txt"));
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[1].text, "鼓源目录" + Snd + "K2" +
                                     "在删除过程中被替换或变成了链接，程序已停止删除，剩下的文件请您核实后手工删除。");
    EXPECT_EQ(Kits().KitList.size(), 3u);
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
    // Windows calls cannot remove a Unix link; rm removes the link alone.
    EXPECT_TRUE(RunUnixTool("/bin/rm", "", {SwapPoint}, [&] { return !FileExists(SwapPoint); }));
    EXPECT_TRUE(FileExists(LinkTarget + "\\keep.txt"));
    RemoveTree(LinkTarget);
    RemoveTree(MovedAway);
}

// A key pressed in the middle of the deletion, whose walk dispatches
// messages after each entry, reaches the hook at once.
struct {
    bool pressed = false, hookRan = false, duringRemoval = false;
    double ms = 0;
} KeyDuringRemoval;

void PressAKey(const std::string&)
{
    if (KeyDuringRemoval.pressed)
        return;
    KeyDuringRemoval.pressed = true;
    size_t mark = Trace::Mark();
    KeyDuringRemoval.ms = TimedKeyPress('A');
    // The engine is closed now, so the hook's hit is silent; its call to
    // the library is in the trace all the same.
    KeyDuringRemoval.hookRan = !Trace::Matching(mark, "BASS_ChannelPlay(").empty();
    KeyDuringRemoval.duringRemoval = FileExists(Snd + "K2");
}

TEST_F(KitRemoval, KeysReachTheHookWhileTheRemovalWaitsAndPlayAgainAfterIt)
{
    InstallKeyboardHook();
    struct Unhook {
        ~Unhook() { RemoveKeyboardHook(); }
    } unhook;
    HWND main = Program().MainWindow.GetHandle();
    SetForegroundWindow(main);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == main; }, 5000));

    KeyDuringRemoval = {};
    SetDeletionProbe(PressAKey);
    UiDriver ui(IDYES);
    RemoveCurrentKit();
    SetDeletionProbe(nullptr);
    ASSERT_TRUE(KeyDuringRemoval.pressed);
    printf("a key pressed during the removal was taken in after %.2f ms\n", KeyDuringRemoval.ms);
    EXPECT_TRUE(KeyDuringRemoval.hookRan);
    EXPECT_TRUE(KeyDuringRemoval.duringRemoval);
    // Wine gives up on an unanswered hook after 2 s and passes the key on.
    EXPECT_LT(KeyDuringRemoval.ms, 1000.0);
    EXPECT_FALSE(FileExists(Snd + "K2"));

    // The hook is still installed: after the removal a letter plays kit 1.
    ASSERT_EQ(Kits().CurrentKitIndex, 1);
    DWORD a = 0;
    for (auto& sample : Kits().SampleTable)
        if (sample.fileName == "a.WAV")
            a = sample.channel;
    SetForegroundWindow(main);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == main; }, 5000));
    size_t mark = Trace::Mark();
    std::atomic<bool> pressed{false};
    std::thread press([&] {
        TimedKeyPress('A');
        pressed = true;
    });
    // This thread answers the hook, so it pumps until the press is done.
    bool played = PumpUntil(
        [&] { return pressed && !Trace::Matching(mark, "BASS_ChannelPlay(" + std::to_string(a) + ", 1) = 1").empty(); },
        10000);
    PumpUntil([&] { return pressed.load(); }, 30000);
    press.join();
    EXPECT_TRUE(played);
}

TEST(PlantedCommandProcessor, NeitherTheProgramFolderNorTheCurrentFolderIsSearched)
{
    // A copy of this program, started in another folder, removes a folder
    // while a stand-in cmd.exe lies in its own folder or in the current one
    // (each first in the search for a program given by name).
    std::string root = TempFolder("yxyt_planted");
    std::string program = TempFolder("yxyt_planted\\program"), current = TempFolder("yxyt_planted\\current");
    std::string copy = program + "shell_copy.exe";
    ASSERT_TRUE(CopyFileA(ThisProgram().c_str(), copy.c_str(), FALSE));
    for (const std::string& planted : {program, current}) {
        for (const std::string& folder : {program, current}) {
            DeleteFileA((folder + "cmd.exe").c_str());
            DeleteFileA((folder + "ran.txt").c_str());
        }
        ASSERT_TRUE(CopyFileA((ThisProgramFolder() + "standin_cmd.exe").c_str(), (planted + "cmd.exe").c_str(), FALSE));
        std::string kit = root + "kit";
        CreateDirectoryA(kit.c_str(), NULL);
        CreateDirectoryA((kit + "\\sub").c_str(), NULL);
        std::ofstream(kit + "\\sub\\f.txt") << "x";

        EXPECT_EQ(RunRemovalChild(root, copy), 0u) << planted;
        EXPECT_FALSE(FileExists(planted + "ran.txt")) << planted;
        EXPECT_FALSE(FileExists(kit)) << planted;
    }
    RemoveTree(root.substr(0, root.size() - 1));
}

// The child copy: removes the kit folder of its program directory from a
// current folder of its own.
TEST(RemovalChild, Run)
{
    const char* folder = getenv("YXYT_CHILD_DIR");
    if (!folder || !*folder)
        GTEST_SKIP() << "runs only as a child copy";
    ASSERT_TRUE(SetCurrentDirectoryA((std::string(folder) + "current").c_str()));
    DeleteKitFolder(std::string(folder) + "kit");
}

} // namespace
