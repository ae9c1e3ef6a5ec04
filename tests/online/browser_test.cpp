// What the program opens in the browser, and what its boxes promise to open.
#include "core/program.h"
#include "core/web_address.h"
#include "online_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(OpenInBrowser, OpensThroughTheDesktopsShell)
{
    StandInBrowser browser;
    EXPECT_EQ(OpenInBrowser("http://127.0.0.1:9/desktop?a=1&b=%E4"), OpenedIn::UserDesktop);
    ASSERT_TRUE(browser.WaitFor("http://127.0.0.1:9/desktop?a=1&b=%E4\n", 20000)) << browser.Log();
    // Started by the desktop's shell process, not by this one: there the
    // browser gets the signed-in user's rights, not this process's.
    EXPECT_EQ(LowerAscii(browser.Starters()), "explorer.exe\n");
}

TEST(LostFileBox, PromisesToOpenTheHomePageOnlyWhenThereIsOne)
{
    const std::string home = "https://yxyt.example/";
    EXPECT_EQ(LostFileText(LostFile::AudioLibrary, home),
              "程序检测到所需音频组件丢失无法正常运行，请访问官方唯一发布渠道https://yxyt.example/"
              "获取新的复本后重新运行，我们不保证您从其他渠道获取此程序的安全性和完整性，点击确定按钮将会打开官网首页。");
    EXPECT_EQ(LostFileText(LostFile::HelpFile, home),
              "程序检测到帮助文件已经丢失,请重新下载本程序的复本解压使用，请访问官方唯一地址https://yxyt.example/"
              "进行下载，我们无法保证您从其他渠道获取本程序的安全性，谢谢您的支持。点击确定后程序会自动为您打开官网");

    // No home page, or one that is no web address and so is never opened.
    for (const std::string& none : {std::string(), std::string("yxyt.example")}) {
        for (LostFile file : {LostFile::AudioLibrary, LostFile::HelpFile}) {
            const std::string text = LostFileText(file, none);
            SCOPED_TRACE(text);
            EXPECT_EQ(text.find("打开"), std::string::npos);
            EXPECT_EQ(text.find("官网"), std::string::npos);
            EXPECT_EQ(text.find("官方唯一"), std::string::npos);
            EXPECT_NE(text.find("退出"), std::string::npos);
            if (!none.empty()) {
                EXPECT_EQ(text.find(none), std::string::npos);
            }
        }
    }
    EXPECT_EQ(LostFileText(LostFile::AudioLibrary, "").rfind("程序检测到所需音频组件丢失无法正常运行", 0), 0u);
    EXPECT_EQ(LostFileText(LostFile::HelpFile, "").rfind("程序检测到帮助文件已经丢失", 0), 0u);
}

} // namespace
