"""Background music from outside: keys typed into the main window, the
open-file dialog answered with xdotool, what the library was asked (trace),
what was heard (null-sink recording) and what Config.ini remembers."""
import re

import pytest

from conftest import winpath
from music_util import (BYTES_PER_SECOND, cancel_dialog, choose_with_key, command, make_mp3, open_music, positions,
                        recent_level, stream_of, wait_config, wait_level, wait_recorded, write_stereo_tone)

TONE = 1237  # far from the kits' and the chime's notes


@pytest.mark.parametrize("kind", ["wav", "mp3"])
def test_insert_opens_the_dialog_and_the_chosen_file_is_heard(app, progdir, recorder, tmp_path, kind):
    wav = write_stereo_tone(tmp_path / "music.wav", TONE, 8.0)
    path = make_mp3(wav, tmp_path / "music.mp3") if kind == "mp3" else wav
    a = app()
    recorder.start()
    wait_recorded(recorder, 0.5)
    before = recent_level(recorder, TONE)
    handle = open_music(a, path)
    wait_level(recorder, TONE, heard=True)
    recorder.stop()
    assert before < 0.02, before
    # The dialog stopped the (absent) track first; the end notice is registered.
    a.wait_trace(r"BASS_ChannelSetSync\(%d, 2, 0, " % handle)


def test_space_pauses_and_resumes_at_the_same_position(app, tmp_path, recorder):
    path = write_stereo_tone(tmp_path / "long.wav", TONE, 20.0)
    a = app()
    handle = open_music(a, path)
    recorder.start()
    mark = len(a.trace_lines())
    a.keys("space")
    a.wait_trace(r"BASS_ChannelPause\(%d\) = 1" % handle, after=mark)
    wait_level(recorder, TONE, heard=False)
    # F3 reads the position; within the first 500000 bytes the step back is refused.
    a.keys("F3", "F3")
    a.wait_trace(r"BASS_ChannelGetPosition\(%d, 0\)" % handle, count=2, after=mark)
    paused_at = positions(a, handle, mark)
    assert len(set(paused_at)) == 1, paused_at
    a.keys("space")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 0\) = 1" % handle, after=mark)
    wait_level(recorder, TONE, heard=True)
    a.keys("F3")
    a.wait_trace(r"BASS_ChannelGetPosition\(%d, 0\)" % handle, count=3, after=mark)
    resumed = positions(a, handle, mark)[-1]
    recorder.stop()
    # Resumed from where it stood, not from the start and not far beyond.
    assert paused_at[0] <= resumed < paused_at[0] + 3 * BYTES_PER_SECOND, (paused_at, resumed)


def test_loop_restarts_the_track_at_its_end(app, tmp_path):
    path = write_stereo_tone(tmp_path / "short.wav", TONE, 0.6)
    a = app()
    # Start-up's first kit load pumps messages before the commands are
    # connected, and a command posted then goes nowhere; the load's last
    # call, the confirmation sample's stream, comes after that pumping.
    a.wait_trace(r"BASS_StreamCreateFile\(0, \".*Finish\.wav\"")
    a.post_command(command(96))
    handle = open_music(a, path)
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handle, count=3, timeout=30)
    assert len([l for l in a.trace_lines() if l.startswith("SYNCPROC(")]) >= 2


def test_without_loop_the_track_ends_and_space_starts_it_again(app, tmp_path):
    path = write_stereo_tone(tmp_path / "short.wav", TONE, 0.6)
    a = app()
    handle = open_music(a, path)
    a.wait_trace(r"SYNCPROC\(")
    mark = len(a.trace_lines())
    a.keys("space")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handle, after=mark)


def test_keypad_volume_steps_by_a_hundredth_and_stores_what_the_library_reports(app, progdir, tmp_path):
    path = write_stereo_tone(tmp_path / "long.wav", TONE, 20.0)
    a = app()
    handle = open_music(a, path)
    mark = len(a.trace_lines())
    a.keys("KP_Subtract", "KP_Subtract")
    wait_config(progdir, "选项", "背景音量", "0.98")
    a.wait_trace(r"BASS_ChannelSetAttribute\(%d, 2, 0\.98\) = 1" % handle, after=mark)
    a.keys("KP_Add", "KP_Add", "KP_Add")
    # Past 1 the library keeps what it accepts; the file holds the level read back.
    last = a.wait_trace(r"BASS_ChannelGetAttribute\(%d, 2\) \{" % handle, count=10, after=mark)[-1]
    reported = re.search(r"\{([^}]*)\}", last).group(1)
    wait_config(progdir, "选项", "背景音量", reported)


def test_f3_f4_seek_half_a_million_bytes_and_refuse_past_either_end(app, tmp_path):
    seconds = 6.0
    total = int(seconds * 44100) * 4
    path = write_stereo_tone(tmp_path / "six.wav", TONE, seconds)
    a = app()
    handle = open_music(a, path)
    a.keys("space")  # paused, so the position holds still
    a.wait_trace(r"BASS_ChannelPause\(%d\) = 1" % handle)
    for key in ("F4", "F4", "F3", "F3", "F3"):
        mark = len(a.trace_lines())
        a.keys(key)
        line = a.wait_trace(r"BASS_ChannelSetPosition\(%d, " % handle, after=mark)[0]
        before = positions(a, handle, mark)[-1]
        target = before + 500000 if key == "F4" else before - 500000
        accepted = 0 <= target <= total
        assert line.endswith("= %d" % accepted), (key, before, line)
        if accepted:
            assert "(%d, %d, 0)" % (handle, target) in line


def test_digit_slots_ask_once_remember_pause_resume_clear_and_stop(app, progdir, tmp_path):
    path = write_stereo_tone(tmp_path / "slot one.wav", TONE, 30.0)
    a = app()
    mark = len(a.trace_lines())
    handle = open_music(a, path, key="1")
    wait_config(progdir, "选项", "bgm1", winpath(path))

    a.keys("1")
    a.wait_trace(r"BASS_ChannelPause\(%d\) = 1" % handle, after=mark)
    a.keys("1")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 0\) = 1" % handle, after=mark)

    mark = len(a.trace_lines())
    a.keys("F5")
    box = a.wait_box("询问")
    assert box["text"] == "是否清空所有自定义背景音乐"
    a.answer("IDYES", box=box)
    for n in range(1, 11):
        wait_config(progdir, "选项", "bgm%d" % n, "")
    assert not [l for l in a.trace_lines()[mark:] if l.startswith("BASS_ChannelStop(%d)" % handle)]

    a.keys("F6")
    a.wait_trace(r"BASS_ChannelStop\(%d\) = 1" % handle, after=mark)
    a.wait_trace(r"BASS_ChannelSetPosition\(%d, 0, 0\) = 1" % handle, after=mark)
    # The name is gone: the next press asks again.
    a.keys("1")
    cancel_dialog(a)


def test_a_restart_loads_the_slots_ready_and_silent(app, progdir, tmp_path):
    path = write_stereo_tone(tmp_path / "ready.wav", TONE, 5.0)
    progdir.write_config({"选项": {"bgm2": winpath(path), "bgm3": winpath(tmp_path / "missing.wav")}})
    a = app()
    handle = stream_of(a, "ready.wav")
    a.wait_ready()
    assert not [l for l in a.trace_lines() if re.match(r"BASS_ChannelPlay\(%d," % handle, l)]
    assert not [l for l in a.trace_lines() if "missing.wav" in l]
    mark = len(a.trace_lines())
    a.keys("2")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 0\) = 1" % handle, after=mark)


def test_card_switch_keeps_paused_music_paused_and_playing_music_playing(app, tmp_path):
    main = write_stereo_tone(tmp_path / "main.wav", TONE, 30.0)
    slot = write_stereo_tone(tmp_path / "slot.wav", 880, 30.0)
    a = app()
    track = open_music(a, main)
    slot_handle, mark = choose_with_key(a, "3", slot)
    a.keys("3")
    a.wait_trace(r"BASS_ChannelPause\(%d\) = 1" % slot_handle, after=mark)

    mark = len(a.trace_lines())
    a.post_command(command(34))
    a.wait_trace(r"BASS_Init\(1, 44100, 4,", after=mark)
    new_track = stream_of(a, "main.wav", after=mark)
    new_slot = stream_of(a, "slot.wav", after=mark)
    a.wait_trace(r"BASS_ChannelSetSync\(%d, 2, 0, " % new_track, after=mark)
    lines = a.trace_lines()[mark:]
    saved = positions(a, track, mark)[0]
    moved = [l for l in lines if l.startswith("BASS_ChannelSetPosition(%d, " % new_track)][0]
    assert int(re.search(r", (\d+), 0\)", moved).group(1)) == saved
    assert "BASS_ChannelPlay(%d, 0) = 1" % new_track in lines
    assert not [l for l in lines if l.startswith("BASS_ChannelPlay(%d," % new_slot)]
