"""Support for the music and shell tests: stereo test tones, the open-file
dialog driven with xdotool, and reading the audio library's trace."""
import re
import subprocess

import audio_util

from conftest import COMMAND_BASE, deadline_loop, winpath

DIALOG_TITLE = "请选择您要播放的文件"
BYTES_PER_SECOND = 44100 * 4  # 16-bit stereo


def command(entry):
    return COMMAND_BASE + entry


def write_stereo_tone(path, freq, seconds, amplitude=0.4):
    """16-bit stereo 44100 Hz sine, so a byte position is 1/176400 s."""
    audio_util.write_wav(path, audio_util.tone(freq, seconds, amplitude=amplitude, fade=0), channels=2)
    return path


def make_mp3(wav, mp3):
    subprocess.run(["lame", "--quiet", "-b", "192", str(wav), str(mp3)], check=True)
    return mp3


def file_name_field(app):
    """The dialog's file-name edit field (control id 1148, cmb13) once it is up."""
    for _ in deadline_loop(30, "the open-file dialog's file-name field"):
        for dialog in app.probe.windows("#32770"):
            if dialog["title"] == DIALOG_TITLE and dialog["visible"]:
                fields = [c for c in app.probe.children(dialog["hwnd"]) if c["id"] == 1148 and c["class"] == "Edit"]
                if fields:
                    return dialog, fields[0]


def choose_file(app, path):
    """Answers the program's open-file dialog with `path` as a user would:
    click into the name field, type the full path, press Return."""
    env = dict(app.session.env, LANG="C.UTF-8")
    out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", DIALOG_TITLE],
                         env=env, capture_output=True, text=True, timeout=60).stdout.split()
    assert out, "no open-file dialog"
    dialog, field = file_name_field(app)
    subprocess.run(["xdotool", "windowfocus", "--sync", out[0]], env=env, check=True, timeout=30)
    subprocess.run(["xdotool", "mousemove", "--sync", str(field["x"] + 5), str(field["y"] + field["h"] // 2),
                    "click", "1"], env=env, check=True, timeout=30)
    subprocess.run(["xdotool", "type", "--delay", "20", path], env=env, check=True, timeout=60)
    subprocess.run(["xdotool", "key", "Return"], env=env, check=True, timeout=30)
    for _ in deadline_loop(30, "the open-file dialog to close"):
        if not any(w["hwnd"] == dialog["hwnd"] and w["visible"] for w in app.probe.windows("#32770")):
            return


def choose_with_key(app, key, path):
    """Presses `key` and picks `path` in the open-file dialog it brings; the
    stream made of the file and the trace mark from before the key."""
    mark = len(app.trace_lines())
    app.keys(key)
    choose_file(app, winpath(path))
    return stream_of(app, path.name, after=mark), mark


def open_music(app, path, key="Insert"):
    """choose_with_key, then the stream's start; its handle."""
    handle, mark = choose_with_key(app, key, path)
    app.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handle, after=mark)
    return handle


def cancel_dialog(app):
    env = dict(app.session.env, LANG="C.UTF-8")
    out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", DIALOG_TITLE],
                         env=env, capture_output=True, text=True, timeout=60).stdout.split()
    subprocess.run(["xdotool", "windowfocus", "--sync", out[0]], env=env, check=True, timeout=30)
    subprocess.run(["xdotool", "key", "Escape"], env=env, check=True, timeout=30)


def stream_of(app, name, after=0, timeout=30):
    """Handle of the stream the library made for a file named `name`."""
    line = app.wait_trace(r'BASS_StreamCreateFile\(0, "[^"]*%s", 0, 0, 0\) = [1-9]' % re.escape(name),
                          after=after, timeout=timeout)[-1]
    return int(line.rsplit("= ", 1)[1])


def positions(app, handle, after=0):
    """Byte positions the program read from a stream, in order."""
    rx = re.compile(r"BASS_ChannelGetPosition\(%d, 0\) = (-?\d+)" % handle)
    return [int(m.group(1)) for m in (rx.search(l) for l in app.trace_lines()[after:]) if m]


def config_value(progdir, section, key):
    """A value of Config.ini as the program wrote it; None when absent."""
    text = progdir.read_config()
    current = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
        elif current == section and "=" in line:
            k, v = line.split("=", 1)
            if k == key:
                return v
    return None


def wait_config(progdir, section, key, value, timeout=20):
    for _ in deadline_loop(timeout, "%s/%s = %r in Config.ini" % (section, key, value)):
        if config_value(progdir, section, key) == value:
            return


def wait_recorded(recorder, seconds, timeout=30):
    """Waits until the recording holds `seconds` more sound data."""
    start = recorder.path.stat().st_size
    need = int(seconds * BYTES_PER_SECOND)
    for _ in deadline_loop(timeout, "%.1f s of recording" % seconds):
        if recorder.path.stat().st_size - start >= need:
            return


def recent_level(recorder, freq, seconds=0.3):
    samples = audio_util.read_s16le(recorder.path)
    return audio_util.tone_level(samples[-int(seconds * 44100):], freq)


def wait_level(recorder, freq, heard, timeout=15):
    """Waits until the last 0.3 s recorded carry `freq` (heard) or lack it;
    returns the level seen. The recording lags the program a little."""
    for _ in deadline_loop(timeout, "the tone to be %s" % ("heard" if heard else "gone")):
        level = recent_level(recorder, freq)
        if (level > 0.15) if heard else (level < 0.02):
            return level
