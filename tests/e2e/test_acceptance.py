"""Acceptance: the zip a user downloads, unpacked into a folder with a space
in its name and started in a Wine prefix of its own, walked through as a
newcomer would: first start, a rhythm, kits, kit volume, music, a slot, a
sound-card switch with music going on, removing a kit, closing, a second
copy. What is heard is checked in the null sink's recording against the
shipped WAV files; what the program asked of its audio library in the
trace; what it remembers in Config.ini."""
import os
import re
import shutil
import struct
import subprocess
import zipfile
import zlib

import pytest

import audio_util
from conftest import BIN, COMMAND_BASE, PRODUCT, ROOT, TOOLS, Probe, ProgramDir, Session, winpath
from music_util import (choose_with_key, command, open_music, positions, recent_level, stream_of, wait_config,
                        wait_recorded, write_stereo_tone)
from online_util import BUILT_IN_WELCOME

FOLDER = "逸响乐台"
KITS = ("原声鼓", "电子鼓")
LETTERS = "abcdefghijklmnopqrstuvwxyz"
KIT_ENTRY = 3       # kit n = entry n + 3
CARD_ENTRY = 33     # card n = entry n + 33
LOOP = command(96)
REMOVE_KIT = 102425
EXIT = command(100)
TONE = 1237         # background music, far from the kits' notes
CLOSE_CAPTION = "询问！"
# What a Windows machine has without installing anything.
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
               "msacm32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "winmm.dll",
               "ws2_32.dll", "version.dll", "uuid.dll", "avrt.dll", "mfplat.dll", "mfreadwrite.dll",
               "propsys.dll", "setupapi.dll", "wininet.dll"}


# ---------------------------------------------------------------- the package

# The release build of tools/package.sh: as a publisher who names no update
# server makes it (the test build's server settings would not be released).
DIST_BUILD = BIN.parent.parent / (BIN.parent.name + "-dist")


@pytest.fixture(scope="module")
def package(tmp_path_factory):
    """The zip made by tools/package.sh, as `make dist` makes it."""
    out = tmp_path_factory.mktemp("dist")
    env = dict(os.environ, YXYT_DIST=str(out), YXYT_BUILD=str(DIST_BUILD))
    for publisher_setting in ("YXYT_SERVER_BASE", "YXYT_HOME_PAGE", "YXYT_SUPPORT_MAIL"):
        env.pop(publisher_setting, None)
    r = subprocess.run([str(TOOLS / "package.sh")], env=env, capture_output=True, text=True, timeout=900)
    assert r.returncode == 0, r.stderr[-2000:]
    zips = list(out.glob("YXYT-*.zip"))
    assert [z.name for z in zips] == ["YXYT-1.1.0.0.zip"]
    assert r.stdout.strip().splitlines()[-1] == str(zips[0])
    return zips[0]


def unicode_path(info):
    """The UTF-8 name of an Info-ZIP Unicode Path field (0x7075), checked
    against the CRC of the entry's own name bytes."""
    extra = info.extra
    while len(extra) >= 4:
        tag, size = struct.unpack_from("<HH", extra)
        body = extra[4:4 + size]
        if tag == 0x7075:
            assert body[0] == 1
            assert struct.unpack_from("<I", body, 1)[0] == zlib.crc32(info.filename.encode("gbk"))
            return body[5:].decode("utf-8")
        extra = extra[4 + size:]
    return None


def test_zip_holds_one_folder_with_program_library_kits_help_and_licence(package, demo_snd):
    with zipfile.ZipFile(package, metadata_encoding="gbk") as z:
        infos = z.infolist()
        names = {i.filename for i in infos}
        expected = {FOLDER + "/", FOLDER + "/SND/"}
        expected |= {FOLDER + "/" + n for n in ("YXYT.exe", "bass.dll", "ReadMe.txt", "LICENSE.txt",
                                                 "SND/Finish.wav")}
        for kit in KITS:
            expected.add("%s/SND/%s/" % (FOLDER, kit))
            expected |= {"%s/SND/%s/%s.WAV" % (FOLDER, kit, l) for l in LETTERS}
        assert names == expected
        for info in infos:
            # GBK names without the UTF-8 flag, as Explorer on a Chinese system reads them.
            assert not info.flag_bits & 0x800, info.filename
            assert info.create_system == 0
            if not info.filename.isascii():
                assert unicode_path(info) == info.filename
        assert z.testzip() is None
        assert z.read(FOLDER + "/YXYT.exe") == (DIST_BUILD / "bin" / "YXYT.exe").read_bytes()
        assert z.read(FOLDER + "/bass.dll") == (DIST_BUILD / "bin" / "bass.dll").read_bytes()
        assert z.read(FOLDER + "/SND/Finish.wav") == (demo_snd / "Finish.wav").read_bytes()
        for kit in KITS:
            for l in LETTERS:
                assert z.read("%s/SND/%s/%s.WAV" % (FOLDER, kit, l)) == (demo_snd / kit / ("%s.WAV" % l)).read_bytes()
        readme = z.read(FOLDER + "/ReadMe.txt")
        licence = z.read(FOLDER + "/LICENSE.txt")
    for text, source in ((readme, ROOT / "assets" / "ReadMe.txt"), (licence, ROOT / "LICENSE")):
        # Notepad's encoding on a Chinese system: GBK, every line ending CR LF.
        assert text.count(b"\n") == text.count(b"\r\n") > 3
        assert text.decode("gbk").replace("\r\n", "\n") == source.read_text(encoding="utf-8").replace("\r\n", "\n")
    assert "Copyright (c) 2026 逸响乐台 contributors" in licence.decode("gbk")


def test_info_zip_unzip_reads_the_chinese_names(package, tmp_path):
    subprocess.run(["unzip", "-q", str(package), "-d", str(tmp_path)], check=True)
    assert (tmp_path / FOLDER / "SND" / "原声鼓" / "a.WAV").is_file()
    assert (tmp_path / FOLDER / "SND" / "电子鼓" / "z.WAV").is_file()


@pytest.mark.parametrize("name", ["YXYT.exe", "bass.dll"])
def test_program_and_library_need_only_system_dlls(package, tmp_path, name):
    with zipfile.ZipFile(package, metadata_encoding="gbk") as z:
        z.extract(FOLDER + "/" + name, tmp_path)
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(tmp_path / FOLDER / name)],
                          capture_output=True, text=True, check=True).stdout
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    assert "kernel32.dll" in imports, dump[:2000]
    assert not [d for d in imports if re.match(r"lib(stdc\+\+|gcc|winpthread)", d)], imports
    assert imports <= SYSTEM_DLLS, imports - SYSTEM_DLLS


def test_released_program_takes_no_server_from_the_environment(package):
    """The released program runs elevated: a server named in the environment,
    which any process of the user can set, is for test builds only; nor does
    the release keep the test server's address."""
    with zipfile.ZipFile(package, metadata_encoding="gbk") as z:
        program = z.read(FOLDER + "/YXYT.exe")
    assert b"YXYT_SERVER" not in program
    assert b"127.0.0.1:" not in program
    assert (BIN / "YXYT.exe").read_bytes().count(b"YXYT_SERVER") == 1, "the test build honours it"


def test_released_library_takes_no_trace_file_from_the_environment(package):
    """Nor does it let the environment name a file for the elevated library
    to create or append to; the test build's library reads it (as UTF-16)."""
    names = ("YXYT_AUDIO_TRACE".encode("ascii"), "YXYT_AUDIO_TRACE".encode("utf-16-le"))
    with zipfile.ZipFile(package, metadata_encoding="gbk") as z:
        for released in ("YXYT.exe", "bass.dll"):
            data = z.read(FOLDER + "/" + released)
            assert not [n for n in names if n in data], released
    assert names[1] in (BIN / "bass.dll").read_bytes(), "the test build honours it"


@pytest.mark.parametrize("settings, missing", [
    ({"YXYT_SERVER_BASE": "https://updates.example"}, "YXYT_SUPPORT_MAIL"),
    ({"YXYT_SERVER_BASE": "https://updates.example", "YXYT_SUPPORT_MAIL": "support@yxyt.example"},
     "YXYT_SUPPORT_MAIL"),
    ({"YXYT_SERVER_BASE": "http://updates.example", "YXYT_SUPPORT_MAIL": "help@updates.example"},
     "YXYT_ALLOW_HTTP=1"),
])
def test_dist_refuses_a_server_release_that_is_not_ready(tmp_path, settings, missing):
    """A server with the placeholder support mail, or over plain http
    without the publisher's say-so, is refused before anything is built."""
    env = dict(os.environ, YXYT_DIST=str(tmp_path / "out"), YXYT_BUILD=str(tmp_path / "build"), **settings)
    for other in ("YXYT_SUPPORT_MAIL", "YXYT_ALLOW_HTTP"):
        if other not in settings:
            env.pop(other, None)
    r = subprocess.run([str(TOOLS / "package.sh")], env=env, capture_output=True, text=True, timeout=60)
    assert r.returncode != 0
    assert missing in r.stderr
    assert not (tmp_path / "build").exists()


# ---------------------------------------------------------------- a new machine

@pytest.fixture(scope="module")
def machine(session, tmp_path_factory):
    """A Wine prefix of its own on the test display and sound server, as on
    a machine that has never run the program; (session, probe)."""
    prefix = tmp_path_factory.mktemp("machine") / "wineprefix"
    fresh = Session(session.build, session.vars)
    fresh.env["WINEPREFIX"] = str(prefix)
    script = ('. "$ROOT/tools/wine-env.sh"; wineboot -i; wineserver -w; wineserver -p; '
              'wine cmd /c exit </dev/null')
    subprocess.run(["sh", "-c", script], env=dict(fresh.env, ROOT=str(ROOT)), check=True, timeout=300,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert (prefix / "system.reg").exists()
    probe = Probe(fresh, BIN / "probe.exe")
    yield fresh, probe
    probe.close()
    subprocess.run(["sh", "-c", '. "$ROOT/tools/wine-env.sh"; wineserver -k'], env=dict(fresh.env, ROOT=str(ROOT)),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@pytest.fixture
def unpacked(package, tmp_path):
    """The zip extracted as a user would, into a folder with a space. The
    released library keeps no trace, so the walk-through watches the
    library through the test build's bass.dll, made from the same sources
    with the trace left in; the program is the released one."""
    target = tmp_path / "My Downloads"
    with zipfile.ZipFile(package, metadata_encoding="gbk") as z:
        z.extractall(target)
    shutil.copyfile(BIN / "bass.dll", target / FOLDER / "bass.dll")
    return ProgramDir(target / FOLDER)


@pytest.fixture
def start(app, machine, unpacked):
    """start(wait=True) starts the unpacked YXYT.exe in the new prefix."""
    session, probe = machine

    def launch(wait=True):
        return app(unpacked, session=session, probe=probe, wait=wait)
    return launch


def kit_sample(progdir, kit, name):
    return audio_util.read_wav(progdir.snd / kit / name)[1]


def found_in_order(recording, references, threshold=0.8):
    """Positions of the references in the recording, each found at an onset
    after the previous one; None for a reference not found."""
    candidates = audio_util.onsets(recording, threshold=0.03, min_gap=0.03)
    found, after = [], -1
    for ref in references:
        hit = None
        for c in (c for c in candidates if c > after):
            score, at = audio_util.match(recording, ref, near=c, search=0.01)
            if score >= threshold:
                hit = at
                break
        found.append(hit)
        after = hit if hit is not None else after
    return found


def test_first_start_off_line_welcomes_asks_nothing_and_plays_a(start, unpacked, recorder, server):
    """The zip names no update server: the window comes up with no box and
    the built-in welcome, nothing is asked of any server (not even of the
    one the environment names, which a release ignores), and A plays the
    first demo kit's a.WAV after the chime."""
    recorder.start()
    a = start()
    assert a.title() == PRODUCT
    a.wait_for(lambda: a.label_text() == BUILT_IN_WELCOME, "the built-in welcome text in the label")
    recorder.wait_length(1.0)
    recorder.wait_silence(0.3, timeout=30)
    assert not a.boxes()
    recording = audio_util.read_s16le(recorder.path)
    begin = len(recording)
    chime = audio_util.read_wav(ROOT / "assets" / "startup.wav")[1]
    score, at = audio_util.match(recording, chime, search=0.02)
    assert score > 0.9, score
    # The first kit is loaded quietly: no confirmation sound at start-up.
    a.wait_trace(r'BASS_StreamCreateFile\(0, ".*\\SND\\Finish\.wav"')
    finish = stream_of(a, "\\SND\\Finish.wav")
    assert not [l for l in a.trace_lines() if l.startswith("BASS_ChannelPlay(%d," % finish)]

    mark = len(a.trace_lines())
    a.keys("a")
    a.wait_trace(r"BASS_ChannelPlay\(\d+, 1\) = 1", after=mark)
    recorder.wait_length(0.6)
    heard = recorder.stop()[begin:]
    assert found_in_order(heard, [kit_sample(unpacked, KITS[0], "a.WAV")]) != [None]
    assert not a.boxes()
    assert server.requests == []


def quiet_start(start, recorder):
    """Starts the program; returns once the chime has died away in the recording."""
    recorder.start()
    a = start()
    a.wait_trace(r'BASS_StreamCreateFile\(0, ".*Finish\.wav"')
    recorder.wait_length(1.0)
    recorder.wait_silence(0.3, timeout=30)
    return a


def test_a_rhythm_on_five_keys_is_heard_in_order(start, unpacked, recorder):
    a = quiet_start(start, recorder)
    begin = len(audio_util.read_s16le(recorder.path))
    rhythm = ["a", "s", "d", "x", "v"]   # kick, snare, rim shot, clave, wood block
    mark = len(a.trace_lines())
    a.keys(*rhythm, delay=1000)
    a.wait_trace(r"BASS_ChannelPlay\(\d+, 1\) = 1", count=len(rhythm), after=mark)
    recorder.wait_length(0.6)
    recording = recorder.stop()[begin:]
    refs = [kit_sample(unpacked, KITS[0], k + ".WAV") for k in rhythm]
    at = found_in_order(recording, refs)
    assert None not in at, at
    # And a kit's other samples are not what was heard (the comparison can tell them apart).
    wrong = found_in_order(recording, [kit_sample(unpacked, KITS[0], "z.WAV")])
    assert wrong == [None]


def test_kits_switch_by_menu_and_home_end_with_the_confirmation_sound(start, unpacked, recorder):
    a = quiet_start(start, recorder)
    finish_ref = audio_util.read_wav(unpacked.snd / "Finish.wav")[1]
    for how, expected in (("menu", KITS[1]), ("End", KITS[0]), ("Home", KITS[1])):
        mark = len(a.trace_lines())
        begin = len(audio_util.read_s16le(recorder.path))
        if how == "menu":
            a.post_command(COMMAND_BASE + KIT_ENTRY + 2)
        else:
            a.keys(how)
        a.wait_trace(r'BASS_StreamCreateFile\(0, ".*\\%s\\z\.WAV"' % expected, after=mark)
        a.wait_for(lambda: a.label_text() == "当前选中鼓源 - " + expected, "the label of " + expected)
        finish = stream_of(a, "\\Finish.wav", after=mark)
        a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % finish, after=mark)
        recorder.wait_length(0.6)
        heard = audio_util.read_s16le(recorder.path)[begin:]
        score, _ = audio_util.match(heard, finish_ref, search=0.02)
        assert score > 0.9, (how, score)
        wait_config(unpacked, "鼓源", "鼓源索引", str(KITS.index(expected) + 1))
    recorder.stop()


def test_page_down_lowers_the_kit_volume_and_remembers_it(start, unpacked):
    a = start()
    a.wait_ready()
    mark = len(a.trace_lines())
    a.keys("Next")
    sets = a.wait_trace(r"BASS_ChannelSetAttribute\(\d+, 2, ", count=27, after=mark)
    assert all(re.match(r"BASS_ChannelSetAttribute\(\d+, 2, 0\.95\) = 1", l) for l in sets), sets
    wait_config(unpacked, "鼓源", "鼓源音量", "0.95")


def test_music_looped_a_slot_and_a_card_switch_with_music_going_on(start, unpacked, recorder, tmp_path):
    music = write_stereo_tone(tmp_path / "my music.wav", TONE, 2.0)
    slot = write_stereo_tone(tmp_path / "slot one.wav", 880, 30.0)
    a = start()
    a.wait_ready()
    a.post_command(LOOP)
    track, mark = choose_with_key(a, "Insert", music)
    # Played, ended, and started again by the loop.
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % track, count=2, after=mark, timeout=30)
    assert [l for l in a.trace_lines()[mark:] if l.startswith("SYNCPROC(")]

    open_music(a, slot, key="1")
    wait_config(unpacked, "选项", "bgm1", winpath(slot))

    recorder.start()
    wait_recorded(recorder, 0.5)
    mark = len(a.trace_lines())
    a.post_command(COMMAND_BASE + CARD_ENTRY + 1)
    a.wait_trace(r"BASS_Init\(1, 44100, 4,", after=mark)
    new_track = stream_of(a, music.name, after=mark)
    a.wait_trace(r"BASS_ChannelPlay\(%d, 0\) = 1" % new_track, after=mark)
    saved = positions(a, track, mark)[0]
    moved = [l for l in a.trace_lines()[mark:] if l.startswith("BASS_ChannelSetPosition(%d, " % new_track)]
    assert moved and int(re.search(r", (\d+), 0\)", moved[0]).group(1)) == saved, (saved, moved)
    # Heard after the switch: the recording's newest part carries the music.
    wait_recorded(recorder, 0.6)
    level = recent_level(recorder, TONE)
    recorder.stop()
    assert level > 0.1, level


def test_removing_the_first_kit_with_no_excludes_it(start, unpacked):
    a = start()
    a.wait_ready()
    mark = len(a.trace_lines())
    a.post_command(REMOVE_KIT)
    box = a.wait_box("询问？")
    a.answer("IDNO", box=box)
    a.wait_trace(r"^BASS_Init\(1, 44100, 4,", after=mark)
    a.wait_for(lambda: a.label_text() == "当前选中鼓源 - " + KITS[1], "the remaining kit loaded")
    assert not (unpacked.snd / KITS[0]).exists()
    excluded = unpacked.snd / (KITS[0] + "_已排除")
    assert sorted(p.name for p in excluded.iterdir()) == sorted("%s.WAV" % l for l in LETTERS)


def test_close_answers_then_the_question_switched_off(start, unpacked):
    a = start()
    a.wait_ready()
    a.close()
    a.answer("IDNO", box=a.wait_box(CLOSE_CAPTION))
    a.wait_for(lambda: not a.boxes(), "the question gone")
    assert a.running() and a.window()["visible"]
    a.close()
    a.answer("IDYES", box=a.wait_box(CLOSE_CAPTION))
    assert a.wait_exit() == 0
    assert "关闭提示" not in unpacked.read_config()

    b = start()
    b.wait_ready()
    b.post_command(EXIT)
    b.answer("IDCANCEL", box=b.wait_box(CLOSE_CAPTION))
    assert b.wait_exit() == 0
    wait_config(unpacked, "选项", "关闭提示", "1")

    c = start()
    c.wait_ready()
    c.close()
    assert c.wait_exit() == 0
    assert c.trace_lines()[-1] == "BASS_Free() = 1"


def test_a_second_start_is_turned_away_and_brings_the_first_forward(start, machine):
    session, probe = machine
    first = start()
    first.wait_ready()
    probe.one("show", first.hwnd, 6)  # SW_MINIMIZE
    first.wait_for(lambda: first.window()["minimized"], "the first copy minimised")
    second = start(wait=False)
    box = second.wait_box("友情提醒:")
    assert box["text"] == "逸响乐台已经运行，请不要重复启动啦！"
    second.answer("IDOK", box=box)
    assert second.wait_exit() == 0
    first.wait_for(lambda: not first.window()["minimized"], "the first copy restored")
    assert first.running()
    assert len(probe.windows("YXYT")) == 1
