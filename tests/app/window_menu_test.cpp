// The main window, its menus, label and dispatcher, built by the very
// start-up steps the program runs, checked in-process.
#include "app/commands.h"
#include "app/startup.h"
#include "core/command_table.h"
#include "core/program.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

struct Item {
    std::string text;
    UINT id;
    HMENU sub;
};

std::vector<Item> ItemsOf(HMENU menu)
{
    std::vector<Item> items;
    int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; i++) {
        char text[256] = {};
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU;
        GetMenuItemInfoA(menu, i, TRUE, &info);
        items.push_back({text, info.wID, info.hSubMenu});
    }
    return items;
}

// Texts, ids and check marks of every menu: "nothing changed" means this
// snapshot is the same before and after.
std::string Snapshot()
{
    std::string all;
    for (HMENU menu : {Program().MenuBar.GetHandle(), Program().KitMenu.GetHandle(), Program().SoundMenu.GetHandle(),
                       Program().CardMenu.GetHandle(), Program().HelpMenu.GetHandle()}) {
        for (auto& item : ItemsOf(menu))
            all += item.text + "/" + std::to_string(item.id) + "/" +
                   std::to_string(GetMenuState(menu, item.id, MF_BYCOMMAND) & MF_CHECKED) + ";";
        all += "|";
    }
    return all + Program().KitLabel.LabelText() + "|" + Program().MainWindow.GetTitle();
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MakeProgramDir(TempFolder("yxyt_app_window_test"), false);
        // The title suffix is fetched while the window is created: from a
        // port where nothing listens, so it is empty at once.
        SetServerRoot("http://127.0.0.1:9");
        BuildMainWindow("欢迎", false);
    }
};

TEST_F(MainWindowTest, WindowIsAThirdOfTheScreenInTheMiddle)
{
    HWND window = Program().MainWindow.GetHandle();
    ASSERT_TRUE(IsWindow(window));
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    EXPECT_STREQ(cls, "YXYT");
    EXPECT_EQ(Program().MainWindow.GetTitle(), "逸响乐台 - ");
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, (int)(sw / 3.0));
    EXPECT_EQ(r.top, (int)(sh / 3.0));
    EXPECT_EQ(r.right - r.left, (int)(sw / 3.0));
    EXPECT_EQ(r.bottom - r.top, (int)(sh / 3.0));
    EXPECT_EQ(Program().MainWindow.Width(), r.right - r.left);
    EXPECT_EQ(Program().MainWindow.Height(), r.bottom - r.top);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU), WS_CAPTION | WS_CLIPSIBLINGS);
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(MainWindowTest, LabelSitsInTheMiddleThirdWithId501)
{
    HWND label = Program().KitLabel.GetHandle();
    ASSERT_TRUE(IsWindow(label));
    EXPECT_EQ(GetDlgCtrlID(label), 501);
    char cls[32] = {};
    GetClassNameA(label, cls, sizeof cls);
    EXPECT_STREQ(cls, "Static");
    EXPECT_EQ((DWORD)GetWindowLongA(label, GWL_STYLE) & 0x5C0001FF, 0x54000101u);
    EXPECT_EQ(Program().KitLabel.LabelText(), "欢迎");
    RECT r;
    GetWindowRect(label, &r);
    POINT topLeft = {r.left, r.top};
    ScreenToClient(Program().MainWindow.GetHandle(), &topLeft);
    EXPECT_EQ(topLeft.x, Program().MainWindow.Width() / 3);
    EXPECT_EQ(topLeft.y, Program().MainWindow.Height() / 3);
    EXPECT_EQ(r.right - r.left, Program().MainWindow.Width() / 3);
    EXPECT_EQ(r.bottom - r.top, Program().MainWindow.Height() / 3);

    // The label answers its colour question with its own opaque brush, not
    // the system's button-face brush that the default procedure gives.
    HDC dc = GetDC(label);
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkColor(dc, RGB(0, 0, 255));
    LRESULT brush = SendMessageA(Program().MainWindow.GetHandle(), WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)label);
    EXPECT_NE(brush, 0);
    EXPECT_EQ(brush, Program().KitLabel.ColorControl(dc));
    EXPECT_NE(brush, (LRESULT)GetSysColorBrush(COLOR_BTNFACE));
    LOGBRUSH info = {};
    ASSERT_EQ(GetObjectA((HBRUSH)brush, sizeof info, &info), (int)sizeof info);
    EXPECT_EQ(info.lbStyle, (UINT)BS_SOLID);
    EXPECT_EQ(info.lbColor, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    ReleaseDC(label, dc);
}

TEST_F(MainWindowTest, BackgroundIsPaintedByTheWindowItself)
{
    // The class brush is swapped for red for the length of the test: the
    // default erase would paint red, the window's own painting its colour.
    HWND window = Program().MainWindow.GetHandle();
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    ULONG_PTR classBrush = SetClassLongPtrA(window, GCLP_HBRBACKGROUND, (LONG_PTR)red);
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    HBRUSH black = (HBRUSH)GetStockObject(BLACK_BRUSH);
    FillRect(dc, &client, black);
    EXPECT_EQ(SendMessageA(window, WM_ERASEBKGND, (WPARAM)dc, 0), 1);
    for (POINT p : {POINT{0, 0}, POINT{client.right - 1, client.bottom - 1}, POINT{client.right / 2, 1}})
        EXPECT_EQ(GetPixel(dc, p.x, p.y), GetSysColor(COLOR_BTNFACE)) << p.x << "," << p.y;
    ReleaseDC(window, dc);
    SetClassLongPtrA(window, GCLP_HBRBACKGROUND, (LONG_PTR)classBrush);
    DeleteObject(red);
}

TEST_F(MainWindowTest, MenusHoldEveryFixedItemInOrder)
{
    auto bar = ItemsOf(Program().MenuBar.GetHandle());
    ASSERT_EQ(bar.size(), 3u);
    EXPECT_EQ(bar[0].text, "鼓源设定(&g)");
    EXPECT_EQ(bar[0].sub, Program().KitMenu.GetHandle());
    EXPECT_EQ(bar[1].text, "声效设定(&s)");
    EXPECT_EQ(bar[1].sub, Program().SoundMenu.GetHandle());
    EXPECT_EQ(bar[2].text, "帮助(&H)");
    EXPECT_EQ(bar[2].sub, Program().HelpMenu.GetHandle());
    EXPECT_EQ(GetMenu(Program().MainWindow.GetHandle()), Program().MenuBar.GetHandle());

    auto kit = ItemsOf(Program().KitMenu.GetHandle());
    ASSERT_GE(kit.size(), 1u);
    EXPECT_EQ(kit[0].text, "删除当前选中鼓源(&D)");
    EXPECT_EQ(kit[0].id, 102425u);

    struct {
        const char* text;
        UINT id;
    } sound[] = {
        {"增加鼓源音量(&U)", 102521},     {"减小鼓源音量(&D)", 102520}, {"打开背景音乐(&O)", 102519},
        {"设置背景音乐循环(&R)", 102518}, {"暂停背景音乐(&S)", 102517}, {"增加背景音量(&M)", 102516},
        {"减小背景音量(&W)", 102515},     {"背景音乐快进(&F)", 102514}, {"背景音乐快退(&B)", 102513},
        {"重复敲击(&P)", 102510},         {"独占输出(&X)", 102524},     {"开始录音(&T)", 102523},
        {"节拍器设置(&N)…", 102527},      {"节拍器(&J)", 102526},
        {"余音叠加(&Y)", 102528},         {"按住只响一次(&E)", 102529},
    };
    auto items = ItemsOf(Program().SoundMenu.GetHandle());
    ASSERT_EQ(items.size(), 17u);
    EXPECT_EQ(items[0].text, "声卡选择(&c)");
    EXPECT_EQ(items[0].sub, Program().CardMenu.GetHandle());
    for (size_t i = 0; i < 16; i++) {
        EXPECT_EQ(items[i + 1].text, sound[i].text) << i;
        EXPECT_EQ(items[i + 1].id, sound[i].id) << i;
    }

    auto help = ItemsOf(Program().HelpMenu.GetHandle());
    ASSERT_EQ(help.size(), 3u);
    EXPECT_EQ(help[0].text, "访问官方主页(&V)");
    EXPECT_EQ(help[0].id, 102424u);
    EXPECT_EQ(help[1].text, "阅读帮助文件(&R)");
    EXPECT_EQ(help[1].id, 102512u);
    EXPECT_EQ(help[2].text, "关于(&A)");
    EXPECT_EQ(help[2].id, 102511u);
}

// Alt+S then a letter must reach one item: each item of 声效设定 has a
// letter of its own, the card submenu's included.
TEST_F(MainWindowTest, SoundMenuItemsHaveLettersOfTheirOwn)
{
    std::vector<char> letters;
    for (const Item& item : ItemsOf(Program().SoundMenu.GetHandle())) {
        const size_t amp = item.text.find('&');
        ASSERT_NE(amp, std::string::npos) << item.text;
        ASSERT_LT(amp + 1, item.text.size()) << item.text;
        const char letter = (char)toupper((unsigned char)item.text[amp + 1]);
        EXPECT_EQ(std::count(letters.begin(), letters.end(), letter), 0) << item.text;
        letters.push_back(letter);
    }
    EXPECT_EQ(letters.size(), 17u);
}

TEST_F(MainWindowTest, MenuObjectsAddressItemsByCommand)
{
    Menu menu;
    ASSERT_EQ(menu.CreatePopup(), 1);
    HMENU first = menu.GetHandle();
    EXPECT_EQ(menu.CreatePopup(), 0);
    EXPECT_EQ(menu.CreateMenuBar(), 0);
    EXPECT_EQ(menu.GetHandle(), first);

    ASSERT_EQ(menu.AppendItem("鼓(&1)", 102426), 1);
    ASSERT_EQ(menu.AppendItem("镲(&2)", 102427), 1);
    EXPECT_EQ(menu.GetItemText(102427), "镲(&2)");
    EXPECT_EQ(menu.GetItemText(0, true), "鼓(&1)");
    EXPECT_EQ(menu.SetItemState(102426, MFS_CHECKED), 1);
    EXPECT_TRUE(GetMenuState(first, 102426, MF_BYCOMMAND) & MF_CHECKED);
    // A new state replaces the old one whole: a greyed item becomes enabled.
    EnableMenuItem(first, 102427, MF_BYCOMMAND | MF_GRAYED);
    EXPECT_EQ(menu.SetItemState(102427, 0), 1);
    EXPECT_FALSE(GetMenuState(first, 102427, MF_BYCOMMAND) & (MF_GRAYED | MF_CHECKED));
    EXPECT_EQ(menu.SetItemText(102426, "新名字(&1)"), 1);
    EXPECT_EQ(menu.GetItemText(102426), "新名字(&1)");
    EXPECT_EQ(menu.RemoveItem(102426), 1);
    EXPECT_EQ(GetMenuItemCount(first), 1);
    EXPECT_EQ(menu.GetItemText(102426), "");
    DestroyMenu(first);
}

TEST_F(MainWindowTest, CommandIndexFindsEveryEntry)
{
    for (int k = 1; k <= 100; k++)
        EXPECT_EQ(CommandIndex(102422 + k), k);
    for (int32_t id : {0, 1, 501, 102422, 102523, -102423, 36887})
        EXPECT_EQ(CommandIndex(id), 101) << id;
}

TEST_F(MainWindowTest, MenuIdsReportedInSixteenBitsAreMappedBack)
{
    for (int k = 1; k <= 100; k++) {
        EXPECT_EQ(ReceivedCommandId(CommandTable[k], 0), CommandTable[k]);
        EXPECT_EQ(ReceivedCommandId(LOWORD(CommandTable[k]), 0), CommandTable[k]);
    }
    // The commands added later lie past the table, and their low words are
    // no entry's.
    EXPECT_EQ(CommandOf(kRecordEntry), 102523);
    EXPECT_EQ(CommandOf(kExclusiveEntry), 102524);
    EXPECT_EQ(CommandOf(kRingOverEntry), 102528);
    EXPECT_EQ(CommandOf(kHoldOnceEntry), 102529);
    EXPECT_EQ(CommandOf(kEditKeyMapEntry), 102530);
    for (int32_t id : {102523, 102524, 102525, 102526, 102527, 102528, 102529, 102530}) {
        EXPECT_EQ(CommandIndex(id), 101);
        EXPECT_EQ(ReceivedCommandId(id, 0), id);
        EXPECT_EQ(ReceivedCommandId(LOWORD(id), 0), id);
    }
    // A control's notification keeps its own id.
    EXPECT_EQ(ReceivedCommandId(MAKEWPARAM(501, STN_CLICKED), (LPARAM)Program().KitLabel.GetHandle()),
              (int32_t)MAKEWPARAM(501, STN_CLICKED));
    EXPECT_EQ(ReceivedCommandId(1, 0), 1);
}

TEST_F(MainWindowTest, UnknownCommandsAndOtherMessagesChangeNothing)
{
    UiDriver boxes(IDOK);
    std::string before = Snapshot();
    HWND window = Program().MainWindow.GetHandle();
    for (WPARAM id : {(WPARAM)0, (WPARAM)1, (WPARAM)2, (WPARAM)102422, (WPARAM)102423, (WPARAM)102486, (WPARAM)102509,
                      (WPARAM)102531, (WPARAM)0xFFFFFFFF})
        EXPECT_EQ(DispatchCommand(window, WM_COMMAND, id, 0), 0) << id;
    EXPECT_EQ(DispatchCommand(window, WM_TIMER, 102424, 0), 0);
    EXPECT_EQ(DispatchCommand(window, WM_USER + 9, 102512, 0), 0);
    // A click on the label reaches the dispatcher and matches no command.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(501, STN_CLICKED), (LPARAM)Program().KitLabel.GetHandle());
    PumpMessages();
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_TRUE(IsWindow(window));
}

} // namespace
