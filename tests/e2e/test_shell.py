"""The shell from outside: the close prompt and the exit code, the second
copy that is turned away, and kit removal on real folders, links among them."""
import os

import pytest

from conftest import COMMAND_BASE
from music_util import command, config_value
import audio_util

SW_MINIMIZE = 6
LINK_TEXT = ("是一个链接或含有链接，删除它会连带删除链接所指向的其他位置的文件，程序已放弃删除。"
             "您可以改用排除操作，或者手工删除这个链接。")
CLOSE_TEXT = "您是否希望退出逸响乐台,点击是按钮退出程序，点击否按钮放弃操作，点击取消按钮退出程序并下次不再提示"


def freed_last(a):
    lines = a.trace_lines()
    return lines and lines[-1] == "BASS_Free() = 1"


def test_close_asks_no_keeps_running_cancel_ends_and_switches_the_question_off(app, progdir):
    a = app()
    a.wait_ready()
    a.close()
    box = a.wait_box("询问！")
    assert box["text"] == CLOSE_TEXT
    assert box["owner"] == a.hwnd
    mark = len(a.trace_lines())
    a.answer("IDNO", box=box)
    assert a.running()
    assert a.window()["visible"]
    assert not [l for l in a.trace_lines()[mark:] if l.startswith(("BASS_Free", "BASS_ChannelStop"))]
    assert config_value(progdir, "选项", "关闭提示") is None

    a.post_command(command(100))  # 退出(&E)
    box = a.wait_box("询问！")
    a.answer("IDCANCEL", box=box)
    assert a.wait_exit() == 0
    assert freed_last(a)
    assert config_value(progdir, "选项", "关闭提示") == "1"

    # The next close, from the window, ends at once.
    b = app()
    b.wait_ready()
    b.close()
    assert b.wait_exit() == 0
    assert freed_last(b)


def test_close_yes_ends_with_code_zero_without_touching_the_settings(app, progdir):
    a = app()
    a.wait_ready()
    before = progdir.read_config()
    a.close()
    a.answer("IDYES", box=a.wait_box("询问！"))
    assert a.wait_exit() == 0
    assert freed_last(a)
    assert config_value(progdir, "选项", "关闭提示") is None
    assert progdir.read_config() == before


def test_second_copy_is_turned_away_and_brings_the_first_forward(app, probe):
    first = app()
    first.wait_ready()
    probe.one("show", first.hwnd, SW_MINIMIZE)
    assert first.window()["minimized"]
    second = app(wait=False)
    box = second.wait_box("友情提醒:")
    assert box["text"] == "逸响乐台已经运行，请不要重复启动啦！"
    assert not box["owner"]
    second.answer("IDOK", box=box)
    assert second.wait_exit() == 0
    first.wait_for(lambda: not first.window()["minimized"], "the first copy restored")
    assert first.running()

    first.kill()
    third = app()
    third.wait_ready()
    assert not [b for b in third.boxes() if b.get("title") == "友情提醒:"]


def lay_out_three_kits(progdir):
    progdir.snd.mkdir(parents=True)
    audio_util.write_tone(progdir.snd / "Finish.wav", 1760, 0.1)
    for name in ("K1", "K2", "K3"):
        progdir.kit(name, letters="abc")
    k2 = progdir.snd / "K2"
    (k2 / "sub").mkdir()
    (k2 / "sub" / "inner.txt").write_text("x")
    os.chmod(k2 / "c.WAV", 0o444)  # read-only to Windows


@pytest.mark.parametrize("answer", ["IDYES", "IDNO"])
def test_removing_kit_two_of_three(app, make_progdir, answer):
    progdir = make_progdir(kits=False)
    lay_out_three_kits(progdir)
    a = app(progdir)
    a.wait_ready()
    a.post_command(COMMAND_BASE + 5)  # kit 2
    a.wait_for(lambda: "K2" in a.label_text(), "kit 2 loaded")
    mark = len(a.trace_lines())
    a.post_command(command(3))
    box = a.wait_box("询问？")
    a.answer(answer, box=box)
    a.wait_trace(r"^BASS_Init\(1, 44100, 4,", after=mark)
    a.wait_for(lambda: "K1" in a.label_text(), "kit 1 loaded after the removal")
    assert not (progdir.snd / "K2").exists()
    if answer == "IDNO":
        assert (progdir.snd / "K2_已排除" / "c.WAV").exists()
    assert (progdir.snd / "K1" / "a.WAV").exists() and (progdir.snd / "K3" / "a.WAV").exists()
    # The former kit 3 keeps its item's id and still loads.
    mark = len(a.trace_lines())
    a.post_command(COMMAND_BASE + 6)
    a.wait_trace(r'BASS_StreamCreateFile\(0, "[^"]*\\K3\\a\.WAV"', after=mark)
    a.wait_for(lambda: "K3" in a.label_text(), "kit 3 loaded")
    assert config_value(progdir, "鼓源", "鼓源索引") == "2"


def test_a_single_kit_is_not_removed(app, make_progdir):
    progdir = make_progdir(kits=False)
    progdir.snd.mkdir(parents=True)
    audio_util.write_tone(progdir.snd / "Finish.wav", 1760, 0.1)
    progdir.kit("Only", letters="ab")
    a = app(progdir)
    a.wait_ready()
    a.post_command(command(3))
    box = a.wait_box("错误！")
    assert box["text"] == "程序检测到当前只有一个鼓源，不满足删除条件"
    a.answer("IDOK", box=box)
    assert (progdir.snd / "Only" / "a.WAV").exists()
    assert a.running()


def lay_out_linked_kit(progdir, elsewhere, link):
    """K1, K2 and K3, where K2 leads to files kept elsewhere: with link "is"
    K2 itself is a symbolic link to that folder, with "holds" K2 is a kit
    holding such a link. Made on the Linux side: Wine 8 makes no links of
    its own, and it marks these as reparse points."""
    progdir.snd.mkdir(parents=True)
    audio_util.write_tone(progdir.snd / "Finish.wav", 1760, 0.1)
    for name in ("K1", "K3"):
        progdir.kit(name, letters="abc")
    (elsewhere / "deep").mkdir(parents=True)
    for letter in "abc":
        audio_util.write_tone(elsewhere / ("%s.WAV" % letter), 330, 0.2)
    (elsewhere / "deep" / "keep.txt").write_text("x")
    if link == "is":
        os.symlink(elsewhere, progdir.snd / "K2")
    else:
        progdir.kit("K2", letters="abc")
        os.symlink(elsewhere, progdir.snd / "K2" / "more")
    return sorted(str(p.relative_to(elsewhere)) for p in elsewhere.rglob("*"))


def start_on_kit_two(app, progdir):
    a = app(progdir)
    a.wait_ready()
    a.post_command(COMMAND_BASE + 5)  # kit 2
    a.wait_for(lambda: "K2" in a.label_text(), "kit 2 loaded")
    return a


@pytest.mark.parametrize("link", ["is", "holds"])
def test_yes_on_a_kit_that_is_or_holds_a_link_deletes_nothing(app, make_progdir, tmp_path, link):
    progdir = make_progdir(kits=False)
    elsewhere = tmp_path / "elsewhere"
    files = lay_out_linked_kit(progdir, elsewhere, link)
    a = start_on_kit_two(app, progdir)
    mark = len(a.trace_lines())
    a.post_command(command(3))
    a.answer("IDYES", box=a.wait_box("询问？"))
    box = a.wait_box("错误！")
    assert box["text"] == "鼓源目录" + progdir.win + "\\SND\\K2" + LINK_TEXT
    assert box["owner"] == a.hwnd
    assert box["icon"] == "error" and [b["id"] for b in box["buttons"]] == [1]
    a.answer("IDOK", box=box)
    assert sorted(str(p.relative_to(elsewhere)) for p in elsewhere.rglob("*")) == files
    assert (progdir.snd / "K2" / "a.WAV").exists()
    assert os.path.islink(progdir.snd / ("K2" if link == "is" else "K2/more"))
    # Refused like a Cancel: the engine stays open on the same kit.
    assert not [l for l in a.trace_lines()[mark:] if l.startswith(("BASS_Free", "BASS_Init"))]
    assert "K2" in a.label_text()
    assert a.running()


def test_no_on_a_linked_kit_still_excludes_it_and_keeps_its_files(app, make_progdir, tmp_path):
    progdir = make_progdir(kits=False)
    elsewhere = tmp_path / "elsewhere"
    files = lay_out_linked_kit(progdir, elsewhere, "is")
    a = start_on_kit_two(app, progdir)
    mark = len(a.trace_lines())
    a.post_command(command(3))
    a.answer("IDNO", box=a.wait_box("询问？"))
    a.wait_trace(r"^BASS_Init\(1, 44100, 4,", after=mark)
    a.wait_for(lambda: "K1" in a.label_text(), "kit 1 loaded after the exclusion")
    # Windows renames the link itself; Wine 8 renames the folder it points
    # to and leaves the link dangling. Either way the kit is excluded and
    # every file is kept.
    excluded = progdir.snd / "K2_已排除"
    assert not (progdir.snd / "K2").exists()
    assert sorted(str(p.relative_to(excluded)) for p in excluded.rglob("*")) == files
