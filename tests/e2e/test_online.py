"""The on-line services of the running program against the local update server."""
import io
import math
import re
import struct
import subprocess
import time
import wave

import pytest

from conftest import COMMAND_BASE, PRODUCT, TOOLS
from online_util import BUILT_IN_WELCOME, HeldAnswer, LateServer, SilentServer, TrickleServer, browser, refused_url  # noqa: F401  (fixture)
from music_util import stream_of

OWN = "/YXProgect/yxyt/"
CAPTION_STOP = "错误！"
CAPTION_UPDATE = "逸响乐台发现新版本！"
CAPTION_UNREACHABLE = "出错啦！"
CAPTION_URGENT = "官方紧急提示"
SUPPORT_MAIL = "support@yxyt.example"
UNREACHABLE_TEXT = ("连接更新服务器出错！请检查网络连接或防火墙设置，如果问题仍然存在请发送邮件到"
                    + SUPPORT_MAIL + "谢谢支持。当前版本仍然可以正常使用。")


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
    assert box["text"] == UNREACHABLE_TEXT
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
    a.wait_ready()
    before = len(server.requests_for(OWN + "gy.txt"))
    a.post_command(COMMAND_BASE + 89)
    box = a.wait_box("关于")
    assert box["text"] == "逸响乐台\r\n关于文本"
    assert len(server.requests_for(OWN + "gy.txt")) == before + 1
    a.answer("IDOK", box=box)


def test_keys_play_while_the_about_text_is_on_its_way(app, server):
    server.put(OWN + "gy.txt", "慢慢来的关于")
    held = HeldAnswer(server, OWN + "gy.txt", 5)
    a = app()
    a.wait_trace(r'BASS_StreamCreateFile\(0, ".*Finish\.wav"')
    handle = stream_of(a, "\\a.WAV")
    a.focus()
    mark = len(a.trace_lines())
    a.post_command(COMMAND_BASE + 89)
    server.wait_request(OWN + "gy.txt")
    pressed = time.monotonic()
    a.keys("a", focus=False)
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handle, after=mark)
    print("key to BASS_ChannelPlay during the about fetch: %.3f s" % (time.monotonic() - pressed))
    # The hook ran while the main thread still waited for gy.txt.
    assert not held.answered.is_set()
    box = a.wait_box("关于")
    assert box["text"] == "慢慢来的关于"
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


def tone_wav(seconds=0.3, hz=880):
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * hz * i / 44100)))
                               for i in range(int(44100 * seconds))))
    return out.getvalue()


def test_urgent_sound_at_start_up_is_fetched_by_the_program_and_played_by_its_library(app, server):
    server.put("/YXProgect/EN.txt", "open")
    server.put("/YXProgect/ENType.txt", "1")
    server.put("/YXProgect/ENIndex.txt", server.url + "/notice.wav\r\n")
    server.put("/notice.wav", tone_wav())
    a = app()
    server.wait_request("/notice.wav")
    # The first check starts before the output opens: the sound waits for it.
    handle = stream_of(a, ".tmp")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 0\) = 1" % handle)
    a.wait_trace(r"BASS_StreamFree\(%d\) = 1" % handle)
    assert a.running()


def test_urgent_page_that_is_not_a_web_address_is_not_opened(app, server, browser, probe):
    server.put("/YXProgect/EN.txt", "open")
    server.put("/YXProgect/ENType.txt", "2")
    server.put("/YXProgect/ENIndex.txt", "yxtest:not-a-web-page")
    a = app(env=browser.env)
    server.wait_request("/YXProgect/ENIndex.txt")
    probe_env_open(probe, browser, "yxtest:control")
    assert "yxtest:not-a-web-page" not in browser.opened()
    assert a.running()


@pytest.mark.parametrize("setting", ["none", "address without scheme"])
def test_without_a_server_nothing_is_asked_and_texts_are_built_in(app, server, progdir, browser, setting):
    # Without its scheme the recording server's address is no web address:
    # a copy that took it anyway would be seen asking.
    value = "none" if setting == "none" else server.url[len("http://"):]
    # A broken kit index holds start-up in a box once the label exists.
    progdir.write_config({"鼓源": {"鼓源索引": "0"}})
    a = app(wait=False, env=dict(browser.env, YXYT_SERVER=value))
    box = a.wait_box()
    assert (box["caption"], box["text"]) == ("错误！", "程序检测到配置文件发生异常，已经重制成默认状态")
    a.wait_window()
    assert a.title() == PRODUCT
    assert a.label_text() == BUILT_IN_WELCOME
    a.answer("IDOK", box=box)
    a.wait_ready()

    a.post_command(COMMAND_BASE + 89)
    about = a.wait_box("关于")
    assert about["text"].startswith(PRODUCT + " 1.1.0.0"), about["text"]
    assert "MIT" in about["text"]
    a.answer("IDOK", box=about)
    home = re.search(r"官方主页：(\S+)", about["text"])
    a.post_command(COMMAND_BASE + 2)
    if home:
        browser.wait_opened(home.group(1))
    else:
        box = a.wait_box("友情提醒:")
        assert box["text"] == "本程序没有配置官方主页。"
        a.answer("IDOK", box=box)
    assert a.running()
    assert server.paths() == []


def timed_start(app, url):
    """Starts the program against `url`; seconds from the start to the
    unreachable-server box (None when there is none) and to the visible
    window, the box's time open left out."""
    started = time.monotonic()
    a = app(wait=False, env={"YXYT_SERVER": url} if url else None)
    box_at = None
    if url is not None:
        box = a.wait_box(CAPTION_UNREACHABLE, timeout=120)
        box_at = time.monotonic() - started
        assert box["text"] == UNREACHABLE_TEXT
        a.answer("IDOK", box=box)
        answered = time.monotonic() - started
        a.wait_window(timeout=120)
        window_at = time.monotonic() - started - (answered - box_at)
    else:
        a.wait_window(timeout=120)
        window_at = time.monotonic() - started
    return a, box_at, window_at


def test_a_bad_server_holds_up_start_up_by_a_few_seconds_at_most(app, server):
    silent = SilentServer()
    trickle = TrickleServer()
    late = LateServer(2.9)
    try:
        live, _, live_window = timed_start(app, None)
        live.kill()
        cases = [("connection refused", refused_url()), ("never answers", silent.url),
                 ("TLS handshake never completes", silent.https_url), ("one byte a second", trickle.url),
                 ("answers each request after 2.9 s", late.url)]
        print("\nserver up: window after %.2f s" % live_window)
        for name, url in cases:
            a, box_at, window_at = timed_start(app, url)
            print("%s: box after %.2f s (+%.2f), window after %.2f s (+%.2f) not counting the box"
                  % (name, box_at, box_at - live_window, window_at, window_at - live_window))
            # The same boxes and caption as with any failed server, within
            # 4 s and 6 s of the live start, plus slack for a loaded machine.
            assert box_at - live_window < 4 + 2, name
            assert window_at - live_window < 6 + 2, name
            assert a.title() == PRODUCT + " - "
            a.kill()
    finally:
        silent.close()
        trickle.close()
        late.close()


def test_missing_help_file_opens_the_home_page_only_when_there_is_one(app, make_progdir, browser, probe):
    a = app(make_progdir(readme=False), env=browser.env)
    a.wait_ready()
    a.post_command(COMMAND_BASE + 90)
    box = a.wait_box("错误！")
    m = re.fullmatch(r"程序检测到帮助文件已经丢失,请重新下载本程序的复本解压使用，请访问官方唯一地址(\S+)"
                     r"进行下载，我们无法保证您从其他渠道获取本程序的安全性，谢谢您的支持。点击确定后程序会自动为您打开官网",
                     box["text"])
    a.answer("IDOK", box=box)
    assert a.wait_exit() == 0
    if m:
        browser.wait_opened(m.group(1))
    else:
        # A build without a home page promises nothing and opens nothing:
        # not even an empty address.
        assert box["text"].endswith("点击确定后程序将会退出"), box["text"]
        probe_env_open(probe, browser, "yxtest:control")
        assert browser.opened() == ["yxtest:control"]
