// The window object on its own: creation, the close handler, the loop.
#include "ui/window.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int CloseAnswer;
int CloseAsked;
int AskClose()
{
    CloseAsked++;
    return CloseAnswer;
}

bool VisibleDuringCreation;
std::string TitleDuringCreation;
void OnTestWindowCreated(HWND window)
{
    VisibleDuringCreation = IsWindowVisible(window);
    TitleDuringCreation = WindowText(window);
    SetWindowTextA(window, (TitleDuringCreation + " - 后缀").c_str());
}

LRESULT SwallowClose(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_CLOSE ? 7 : 0;
}

TEST(WindowObject, CreationHandlerRunsBeforeTheWindowIsShown)
{
    Window window;
    WindowCreateArgs args;
    args.title = "测试";
    args.onCreate = OnTestWindowCreated;
    args.className = "YXYTTest";
    ASSERT_TRUE(window.Create(args));
    EXPECT_FALSE(VisibleDuringCreation);
    EXPECT_EQ(TitleDuringCreation, "测试");
    EXPECT_EQ(window.GetTitle(), "测试 - 后缀");
    EXPECT_TRUE(IsWindowVisible(window.GetHandle()));
    // One object holds one window.
    EXPECT_EQ(window.Create(args), (HWND)NULL);
    DestroyWindow(window.GetHandle());
    EXPECT_EQ(window.GetHandle(), (HWND)NULL);
}

TEST(WindowObject, CloseHandlerDecidesWhetherTheWindowStays)
{
    Window window;
    WindowCreateArgs args;
    args.className = "YXYTTest";
    ASSERT_TRUE(window.Create(args));
    HWND handle = window.GetHandle();
    window.SetCloseHandler(AskClose);

    CloseAnswer = 1;
    CloseAsked = 0;
    EXPECT_EQ(SendMessageA(handle, WM_CLOSE, 0, 0), 1);
    EXPECT_EQ(CloseAsked, 1);
    EXPECT_TRUE(IsWindow(handle));

    // A message hook that answers non-zero ends the message: nobody is asked.
    RegisterMessageHook(handle, SwallowClose);
    EXPECT_EQ(SendMessageA(handle, WM_CLOSE, 0, 0), 7);
    EXPECT_EQ(CloseAsked, 1);
    EXPECT_TRUE(IsWindow(handle));
    RegisterMessageHook(handle, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });

    CloseAnswer = 0;
    SendMessageA(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(CloseAsked, 2);
    EXPECT_FALSE(IsWindow(handle));
}

TEST(WindowObject, MessageLoopEndsWhenTheWindowIsGone)
{
    Window window;
    WindowCreateArgs args;
    args.className = "YXYTTest";
    ASSERT_TRUE(window.Create(args));
    PostMessageA(window.GetHandle(), WM_CLOSE, 0, 0);
    RunMessageLoop(window, true);
    EXPECT_FALSE(IsWindow(window.GetHandle()));
}

} // namespace
