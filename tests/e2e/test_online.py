"""The on-line services of the running program against the local update server."""
import subprocess

from conftest import COMMAND_BASE, PRODUCT, TOOLS
from online_util import browser  # noqa: F401  (fixture)

OWN = "/YXProgect/yxyt/"
CAPTION_STOP = "错误！"
CAPTION_UPDATE = "逸响乐台发现新版本！"
CAPTION_UNREACHABLE = "出错啦！"
CAPTION_URGENT = "官方紧急提示"
SUPPORT_MAIL = "support@yxyt.example"


def test_stop_notice_shows_its_text_and_ends(app, server):
    server.put(OWN + "jy.txt", "1")
    server.put(OWN + "jyts.txt", "此版本已停止服务。")
    a = app(wait=False)
    box = a.wait_box(CAPTION_STOP)
    assert box["text"] == "此版本已停止服务。"
    a.answer("IDOK", box=box)
    assert a.wait_exit() == 0
    assert server.paths() == [OWN + "jy.txt", OWN + "jyts.txt"]


def test_stop_notice_with_a_line_break_does_not_stop(app, server):
    server.put(OWN + "jy.txt", "1\n")
    a = app()
    assert a.running()
    assert OWN + "jyts.txt" not in server.paths()


def test_new_version_accepted_opens_the_download_page_and_ends(app, server, browser):
    server.put(OWN + "ver.txt", "1.2.0.0")
    server.put(OWN + "ChangeLog.txt", "1.2.0.0：新增鼓源。")
    server.put(OWN + "upindex.txt", "http://127.0.0.1:9/download")
    a = app(wait=False, env=browser.env)
    box = a.wait_box(CAPTION_UPDATE)
    assert box["text"] == "1.2.0.0：新增鼓源。"
    assert OWN + "upindex.txt" not in server.paths()
    a.answer("IDOK", box=box)
    assert a.wait_exit() == 0
    browser.wait_opened("http://127.0.0.1:9/download")


def test_new_version_declined_goes_on(app, server):
    server.put(OWN + "ver.txt", "1.1.0.0\r\n")
    server.put(OWN + "ChangeLog.txt", "换行也算新版本")
    a = app(wait=False)
    box = a.wait_box(CAPTION_UPDATE)
    assert box["text"] == "换行也算新版本"
    a.answer("IDCANCEL", box=box)
    a.wait_window()
    assert OWN + "upindex.txt" not in server.paths()


def test_download_page_that_is_not_a_web_address_is_not_opened(app, server, browser, probe):
    server.put(OWN + "ver.txt", "9")
    server.put(OWN + "upindex.txt", "yxtest:not-a-web-page")
    a = app(wait=False, env=browser.env)
    a.answer("IDOK", box=a.wait_box(CAPTION_UPDATE))
    assert a.wait_exit() == 0
    server.wait_request(OWN + "upindex.txt")
    # The same scheme opened through the shell does reach the stand-in.
    probe_env_open(probe, browser, "yxtest:control")
    assert "yxtest:not-a-web-page" not in browser.opened()


def probe_env_open(probe, browser, address):
    """Opens an address through Wine's shell the way the program does, as
    a control that the stand-in sees what the shell opens."""
    subprocess.run([str(TOOLS / "wine-run.sh"), "start", address], env=dict(probe.session.env, **browser.env),
                   check=True, timeout=60)
    browser.wait_opened(address)


def test_one_byte_change_log_means_unreachable(app, server):
    server.put(OWN + "ver.txt", "2.0.0.0")
    server.put(OWN + "ChangeLog.txt", "x")
    a = app(wait=False)
    box = a.wait_box(CAPTION_UNREACHABLE)
    assert box["text"] == ("连接更新服务器出错！请检查网络连接或防火墙设置，如果问题仍然存在请发送邮件到"
                           + SUPPORT_MAIL + "谢谢支持。当前版本仍然可以正常使用。")
    a.answer("IDOK", box=box)
    a.wait_window()


def test_empty_title_suffix(app, server):
    server.put(OWN + "gg.txt", "")
    assert app().title() == PRODUCT + " - "


def test_label_starts_with_the_welcome_text(app, server, progdir):
    server.put(OWN + "hy.txt", "欢迎！今天也要开心敲鼓")
    # A broken kit index holds start-up in a box after the label exists and
    # before the first kit replaces its text.
    progdir.write_config({"鼓源": {"鼓源索引": "0"}})
    a = app(wait=False)
    box = a.wait_box("错误！")
    a.wait_window()
    assert a.label_text() == "欢迎！今天也要开心敲鼓"
    a.answer("IDOK", box=box)


def test_about_box_shows_the_remote_text(app, server):
    server.put(OWN + "gy.txt", "逸响乐台\r\n关于文本")
    a = app()
    a.wait_label()
    before = len(server.requests_for(OWN + "gy.txt"))
    a.post_command(COMMAND_BASE + 89)
    box = a.wait_box("关于")
    assert box["text"] == "逸响乐台\r\n关于文本"
    assert len(server.requests_for(OWN + "gy.txt")) == before + 1
    a.answer("IDOK", box=box)


def test_urgent_message_then_page_after_the_box_closes(app, server, browser):
    server.put("/YXProgect/EN.txt", "open")
    server.put("/YXProgect/ENType.txt", "3")
    server.put("/YXProgect/ENMessage.txt", "紧急：请立即更新")
    server.put("/YXProgect/ENIndex.txt", "http://127.0.0.1:9/urgent")
    a = app(env=browser.env)
    box = a.wait_box(CAPTION_URGENT)
    assert box["text"] == "紧急：请立即更新"
    assert box["owner"] == a.hwnd
    assert "/YXProgect/ENIndex.txt" not in server.paths()
    assert browser.opened() == []
    a.answer("IDOK", box=box)
    server.wait_request("/YXProgect/ENIndex.txt")
    browser.wait_opened("http://127.0.0.1:9/urgent")


def test_urgent_page_that_is_not_a_web_address_is_not_opened(app, server, browser, probe):
    server.put("/YXProgect/EN.txt", "open")
    server.put("/YXProgect/ENType.txt", "2")
    server.put("/YXProgect/ENIndex.txt", "yxtest:not-a-web-page")
    a = app(env=browser.env)
    server.wait_request("/YXProgect/ENIndex.txt")
    probe_env_open(probe, browser, "yxtest:control")
    assert "yxtest:not-a-web-page" not in browser.opened()
    assert a.running()
