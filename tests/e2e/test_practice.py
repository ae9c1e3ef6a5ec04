"""Practising from outside: hostile metronome settings start without a box,
F8 starts the click, F9 taps its tempo, and an F7 recording leaves a MIDI
file beside its WAV whose notes are the keys that played, at their onsets
in the WAV."""
import re
import struct
import time

import audio_util
from drum_util import XTestKeyboard, tone_kit
from test_recorder import saved_file, start_pad

RATE = audio_util.RATE
# Letters and the General MIDI drums the help file gives them.
KEYS = {"a": 36, "s": 38, "h": 42, "f": 41}
TONES = {"a": 330, "s": 550, "h": 770, "f": 990}
STEPS = (0.151, 0.163, 0.147, 0.171, 0.158, 0.149, 0.166)
TYPED = "ashfashf"
LABEL = re.compile(r"节拍器 速度=(\d+)$")


def read_smf(path):
    """A format-0 file read as a player would: (format, tempos as
    (tick, us a quarter), note-ons as (seconds, channel, key, velocity))."""
    data = path.read_bytes()
    assert data[:4] == b"MThd" and struct.unpack(">I", data[4:8])[0] == 6, data[:14]
    fmt, tracks, ppq = struct.unpack(">HHH", data[8:14])
    assert data[14:18] == b"MTrk" and struct.unpack(">I", data[18:22])[0] == len(data) - 22
    tick, p, tempos, ons, ended = 0, 22, [], [], False
    while p < len(data):
        delta = 0
        while True:
            delta = delta << 7 | data[p] & 0x7f
            p += 1
            if not data[p - 1] & 0x80:
                break
        tick += delta
        status = data[p]
        if status == 0xff:
            kind, length = data[p + 1], data[p + 2]
            if kind == 0x51:
                tempos.append((tick, int.from_bytes(data[p + 3:p + 6], "big")))
            ended = kind == 0x2f and p + 3 == len(data)
            p += 3 + length
        else:
            if status & 0xf0 == 0x90 and data[p + 2]:
                ons.append((tick, status & 0x0f, data[p + 1], data[p + 2]))
            p += 3
    assert ended, "no end of track"

    def seconds(at):
        s, last, usq = 0.0, 0, 500000
        for t, u in tempos:
            if t > at:
                break
            s += (t - last) * usq / ppq / 1e6
            last, usq = t, u
        return s + (at - last) * usq / ppq / 1e6
    return fmt, tracks, tempos, [(seconds(t), c, k, v) for t, c, k, v in ons]


def first_sounds(samples, quiet=0.05):
    """Where each sound starts after at least `quiet` seconds of digital
    silence: its first sample that is not zero."""
    found, zeros = [], int(quiet * RATE)
    for i, s in enumerate(samples):
        if s != 0.0 and zeros >= quiet * RATE:
            found.append(i)
        zeros = 0 if s != 0.0 else zeros + 1
    return found


def tap_tempo(app, keyboard, interval):
    """Four F9 taps `interval` apart; the tempo the label shows once the
    last three have each set one."""
    mark = len(app.trace_lines())
    first = time.monotonic() + 0.2
    for i in range(4):
        keyboard.press_at("F9", first + i * interval)
    app.wait_trace(r"BASS_MetronomeSet\(", count=3, after=mark)
    shown = LABEL.match(app.label_text())
    assert shown, app.label_text()
    return int(shown.group(1))


def test_taps_set_the_tempo_and_a_recording_has_its_notes_beside_it(app, make_progdir):
    p = make_progdir(kits=False)
    tone_kit(p, "kit", {k + ".WAV": hz for k, hz in TONES.items()}, {k + ".WAV": 0.06 for k in TONES})
    audio_util.write_tone(p.snd / "Finish.wav", 1200, 0.05)
    p.write_config({"节拍器": {"速度": "NaN", "拍数": "-5", "音量": "1e30", "录入录音": "是"}})
    a = start_pad(app, p)
    assert a.boxes() == []
    a.focus()
    keyboard = XTestKeyboard(a.session.env["DISPLAY"])
    try:
        mark = len(a.trace_lines())
        keyboard.press_at("F8", time.monotonic() + 0.1)
        a.wait_trace(r"BASS_MetronomeStart\(1\)", after=mark)
        # The hostile settings read as the defaults.
        assert any("BASS_MetronomeSet({120.000, 4, 0.500, 0}) = 1" in line for line in a.trace_lines())
        a.wait_for(lambda: a.label_text() == "节拍器 速度=120", "the label to show the running metronome")
        fast = tap_tempo(a, keyboard, 0.4)
        assert abs(fast - 150) <= 1, fast
        # More than 2 s after the last tap: the taps start over.
        time.sleep(2.2)
        tempo = tap_tempo(a, keyboard, 0.5)
        assert abs(tempo - 120) <= 1, tempo
        assert "速度=%d\r\n" % tempo in p.read_config()

        mark = len(a.trace_lines())
        start = keyboard.press_at("F7", time.monotonic() + 0.2)
        a.wait_trace(r"BASS_MixRecordStart\(", after=mark)
        at = time.monotonic() + 0.4
        for i, key in enumerate(TYPED):
            keyboard.press_at(key, at)
            at += STEPS[i % len(STEPS)]
        keyboard.press_at("F7", at + 0.4)
    finally:
        keyboard.close()
    a.wait_for(lambda: a.label_text().endswith(".wav"), "the label to name the whole file")
    wav_path = saved_file(a, p)
    mid_path = wav_path.with_suffix(".mid")
    _, wav = audio_util.read_wav(wav_path)
    onsets = first_sounds(wav)
    assert len(onsets) == len(TYPED), onsets

    fmt, tracks, tempos, notes = read_smf(mid_path)
    assert (fmt, tracks) == (0, 1)
    # The metronome's tempo, a tap of 120 a minute.
    assert tempos and round(60e6 / tempos[-1][1]) == tempo, tempos
    assert [(c, k, v) for _, c, k, v in notes] == [(9, KEYS[key], 100) for key in TYPED], notes
    off = [(t - o / RATE) * 1000 for (t, _, _, _), o in zip(notes, onsets)]
    print("\nnote times against the WAV's onsets, ms: %s" % " ".join("%+.2f" % x for x in off))
    assert all(abs(x) <= 1.0 for x in off), off
