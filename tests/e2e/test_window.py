"""The executable and its main window, seen from outside the process."""
import os
import struct
import subprocess
import threading
import xml.etree.ElementTree as ET

import pytest

from conftest import BIN, BUILD, COMMAND_BASE, MAIN_CLASS, PRODUCT, TOOLS, Probe, Session, read_session_env, winpath
from online_util import browser  # noqa: F401  (fixture)

WS_CAPTION = 0x00C00000
WS_EX_APPWINDOW = 0x00040000
RT_MANIFEST = 24


# ---------------------------------------------------------------- the file

def pe_resources(data, wanted_type):
    """(name id, language, bytes) of every resource of one type, read by
    walking the PE resource directory ourselves."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + opt_size
    rsrc = None
    for i in range(sections):
        name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            rsrc = (va, rawptr)
    assert rsrc, "no .rsrc section"
    va, base = rsrc

    def entries(offset):
        named, ids = struct.unpack_from("<12xHH", data, base + offset)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            yield ident, target

    found = []
    for type_id, type_dir in entries(0):
        if type_id != wanted_type or not type_dir & 0x80000000:
            continue
        for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
            for lang, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found.append((name_id, lang, data[base + rva - va:base + rva - va + size]))
    return found


def test_executable_is_a_32bit_gui_program(build):
    out = subprocess.run(["file", "-b", str(BIN / "YXYT.exe")], capture_output=True, text=True, check=True).stdout
    assert "PE32 executable (GUI) Intel 80386" in out, out


def test_manifest_asks_for_administrator_and_common_controls_6(build):
    manifests = pe_resources((BIN / "YXYT.exe").read_bytes(), RT_MANIFEST)
    # Resource id 1 is the one Windows applies to an executable.
    assert [m[0] for m in manifests] == [1], manifests
    xml = manifests[0][2].decode("utf-8").lstrip("\ufeff")
    root = ET.fromstring(xml)
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    assert levels == ["requireAdministrator"], xml
    controls = [e for e in root.iter() if e.tag.endswith("assemblyIdentity")
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    assert len(controls) == 1, xml
    assert controls[0].get("version") == "6.0.0.0"
    assert controls[0].get("processorArchitecture") in ("x86", "*")
    assert controls[0].get("publicKeyToken") == "6595b64144ccf1df"


# ---------------------------------------------------------------- code page

def test_programs_run_with_code_page_936(probe):
    assert probe.codepage() == 936


def test_gbk_file_names_map_to_utf8_names_on_disk(probe, tmp_path):
    # A GBK literal handed to CreateFileA must become the same Chinese name
    # on the Linux side; with any other code page it comes out garbled.
    out = probe.one("gbk-file", winpath(tmp_path))
    assert out["created"] == "逸响乐台.txt"
    assert (tmp_path / "逸响乐台.txt").read_bytes() == b"GBK"
    # And back: a Chinese folder made on Linux is listed as GBK by FindFirstFileA.
    (tmp_path / "鼓源 测试").mkdir()
    names = {e["name"]: e["dir"] for e in probe.lines("list", winpath(tmp_path))}
    assert names == {"逸响乐台.txt": False, "鼓源 测试": True}


# ---------------------------------------------------------------- main window

def assert_main_window(win, screen_w, screen_h):
    # A third of the screen each way, truncated, in the middle of the screen.
    expected = (int(screen_w / 3), int(screen_h / 3), int(screen_w / 3), int(screen_h / 3))
    assert (win["x"], win["y"], win["w"], win["h"]) == expected
    assert win["class"] == MAIN_CLASS
    assert win["title"].startswith(PRODUCT)
    assert win["visible"] and not win["minimized"]
    assert win["style"] & WS_CAPTION == WS_CAPTION
    assert win["exstyle"] & WS_EX_APPWINDOW


def test_main_window_on_1920x1080(app, probe):
    assert probe.screen() == (1920, 1080)
    win = app().window()
    assert_main_window(win, 1920, 1080)
    assert (win["x"], win["y"], win["w"], win["h"]) == (640, 360, 640, 360)


@pytest.fixture(scope="module")
def session_1280():
    """A second display of 1280 x 1024 with its own Wine prefix: Wine keeps
    the screen size per prefix."""
    build = BUILD / "screen-1280x1024"
    env = dict(os.environ, YXYT_BUILD=str(build), YXYT_SCREEN="1280x1024x24")
    env.pop("YXYT_USE_DISPLAY", None)
    subprocess.run([str(TOOLS / "session.sh"), "start"], env=env, check=True)
    s = Session(build, read_session_env(build))
    yield s, Probe(s, BIN / "probe.exe")
    subprocess.run([str(TOOLS / "session.sh"), "stop"], env=env)


def test_main_window_on_1280x1024(app, session_1280):
    session, probe = session_1280
    assert probe.screen() == (1280, 1024)
    win = app(session=session, probe=probe).window()
    assert_main_window(win, 1280, 1024)
    assert (win["x"], win["y"], win["w"], win["h"]) == (426, 341, 426, 341)


def test_title_carries_the_remote_suffix(app, server):
    server.put("/YXProgect/yxyt/gg.txt", "新春快乐")
    a = app()
    assert a.title() == PRODUCT + " - 新春快乐", server.paths()
    assert len(server.requests_for("/YXProgect/yxyt/gg.txt")) == 1


def test_label_is_a_static_control_in_the_middle_third(app):
    a = app()
    # The menu bar, built after the label, moves the client area down.
    a.wait_ready()
    a.wait_trace(r"BASS_StreamCreateFile\(0, \".*Finish\.wav\"")
    win = a.window()
    label = a.label()
    assert label is not None, a.probe.children(a.hwnd)
    assert label["class"] == "Static"
    assert label["visible"]
    # x = W/3, y = H/3 in client coordinates from the outer size W x H.
    rel = (label["x"] - win["client_x"], label["y"] - win["client_y"], label["w"], label["h"])
    assert rel == (win["w"] // 3, win["h"] // 3, win["w"] // 3, win["h"] // 3)


def snapshot(a):
    win = a.window()
    return {
        "window": {k: win[k] for k in ("x", "y", "w", "h", "title", "visible", "minimized", "enabled")},
        "children": sorted((c["class"], c["id"], c["text"], c["visible"]) for c in a.probe.children(a.hwnd)),
        "boxes": a.boxes(),
    }


# Entry 1 and entries 64..87 of the command table belong to no menu item;
# 0 and 103 lie outside it (101 and 102, just past it, are the recorder's
# and the exclusive output's); the low
# word of entry 2 with another high word tests that the whole 32-bit wParam
# is compared. The low word alone is how a system that reports menu ids in
# 16 bits delivers the home-page item.
ENTRY2_LOW = (COMMAND_BASE + 2) & 0xFFFF
UNUSED_IDS = [COMMAND_BASE, COMMAND_BASE + 1, COMMAND_BASE + 64, COMMAND_BASE + 75, COMMAND_BASE + 87,
              COMMAND_BASE + 103, 0, 1, 65535, 0x20000 | ENTRY2_LOW]
HOME_PAGE = "http://127.0.0.1:8960/"  # the "dev" preset of CMakePresets.json
SC_MINIMIZE = 0xF020
WM_SYSCOMMAND = 0x0112


def test_commands_with_unused_ids_change_nothing(app, browser):
    a = app(env=browser.env)
    # The label is the last thing start-up adds to what a probe can see.
    a.wait_ready()
    before = snapshot(a)
    for command in UNUSED_IDS:
        # A sent message returns only after the window procedure (and so the
        # command dispatcher) has handled it; a box would make it time out.
        r = a.probe.one("send", a.hwnd, "WM_COMMAND", command, 0, check=False)
        assert r and r["sent"], "WM_COMMAND %d did not return: %s" % (command, a.boxes())
    for command in UNUSED_IDS:
        a.post_command(command)
    # Posted messages are handled in order: once a minimise posted after the
    # commands has taken effect, the commands have been handled.
    a.post(WM_SYSCOMMAND, SC_MINIMIZE, 0)
    a.wait_for(lambda: a.window()["minimized"], "the minimise posted after the commands")
    a.probe.one("show", a.hwnd, "SW_RESTORE")
    assert a.running()
    assert snapshot(a) == before

    # Mapped back to entry 2, the 16-bit id opens the home page, once. A
    # control opened afterwards shows that nothing else was on its way.
    r = a.probe.one("send", a.hwnd, "WM_COMMAND", ENTRY2_LOW, 0, check=False)
    assert r and r["sent"], a.boxes()
    browser.wait_opened(HOME_PAGE)
    subprocess.run([str(TOOLS / "wine-run.sh"), "start", "yxtest:control"], env=dict(a.session.env, **browser.env),
                   check=True, timeout=60)
    browser.wait_opened("yxtest:control")
    assert browser.opened() == [HOME_PAGE, "yxtest:control"]


def test_close_during_start_up_asks_once_start_up_is_done(app, server):
    """A close posted while start-up still runs: the server holds back the
    welcome text (fetched after the window is shown, before the first kit
    loads) until WM_CLOSE is queued, so the request meets the first kit
    load's message pump, before the close prompt is connected."""
    release = threading.Event()

    def held_welcome(handler):
        release.wait(30)
        body = "欢迎".encode("gbk")
        handler.send_response(200)
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        handler.wfile.write(body)

    server.handlers["/YXProgect/yxyt/hy.txt"] = held_welcome
    a = app()
    server.wait_request("/YXProgect/yxyt/hy.txt")
    a.close()
    release.set()
    box = a.wait_box("询问！")
    assert box["text"].startswith("您是否希望退出逸响乐台")
    a.answer("IDYES", box=box)
    assert a.wait_exit() == 0
    # The first copy let go of the instance marker: a second start runs.
    b = app()
    b.wait_ready()
    assert [x for x in b.boxes() if x["caption"] == "友情提醒:"] == []
    assert b.running()
