"""The mix recorder from outside: F7 and the menu command start and stop a
recording of what the program sends to the sound card; the WAV file in
"录音" beside the program is compared with what the null sink received
over the same span, and checked to be whole after a stop, after closing
the program while recording and after the disk filled up."""
import os
import re
import subprocess
import time

import pytest

import audio_util
from conftest import COMMAND_BASE, deadline_loop
from drum_util import XTestKeyboard, tone_kit
from music_util import open_music, stream_of

RECORD = COMMAND_BASE + 101
FOLDER = "录音"
SAVED = "录音已保存："
PERIOD = 0.010  # the library's WASAPI period under Wine (its trace of BASS_Init says so)
RATE = audio_util.RATE
MUSIC_HZ = 147  # the background music: one period is 300 samples
HIGHPASS = 1000  # hits sound above it, the music well below
# The steps between the keys of each kit: none a whole number of periods,
# so a pad that moved a hit onto its period would be up to one off.
RHYTHM = (0.143, 0.157, 0.151, 0.164, 0.138, 0.172, 0.149)
# Two kits of short tones and the confirmation sound, each at a multiple of
# the music's frequency, so no hit leaks into the music's figures.
KIT1 = {k: MUSIC_HZ * n for k, n in zip("asdfgqwe", range(10, 18))}
KIT2 = {k: MUSIC_HZ * n for k, n in zip("rtyuiopz", range(20, 28))}
FINISH_HZ = MUSIC_HZ * 32


def pad_with_two_kits(make_progdir):
    p = make_progdir(kits=False)
    for name, keys in (("kit1", KIT1), ("kit2", KIT2)):
        tone_kit(p, name, {k + ".WAV": hz for k, hz in keys.items()}, {k + ".WAV": 0.06 for k in keys})
    audio_util.write_tone(p.snd / "Finish.wav", FINISH_HZ, 0.05)
    return p


def start_pad(app, progdir):
    a = app(progdir)
    a.wait_trace(r"BASS_StreamCreateFile\(0, \".*Finish\.wav\"")
    a.wait_ready()
    return a


def saved_file(app, progdir):
    """The file the label names once a recording has stopped, on the Linux side."""
    text = app.wait_for(lambda: (lambda t: t if t.startswith(SAVED) else None)(app.label_text()),
                        "the label to name the saved recording")
    win = text[len(SAVED):]
    assert win.startswith(progdir.win + "\\" + FOLDER + "\\"), win
    return progdir.path / FOLDER / win.rsplit("\\", 1)[1]


def assert_whole(path):
    """The header's sizes describe the file exactly, in whole 16-bit frames."""
    w = audio_util.wav_layout(path)
    assert (w["format"], w["bits"]) == (1, 16), w
    assert w["riff"] == w["file"] - 8, w
    assert w["data_at"] + w["data"] == w["file"], w
    assert w["data"] % (2 * w["channels"]) == 0, w
    return w


def hits_in(samples):
    """Onsets above the music; the high-pass filter's settling on a file
    that starts in the middle of the music is no hit."""
    return [at for at in audio_util.onsets(audio_util.highpass(samples, HIGHPASS)) if at >= RATE // 100]


def locate(hit, heard, candidates):
    """Where a hit of the recording (samples from just before its onset)
    lies in the sink's recording: the best of each candidate onset give or
    take 2 ms. Its position and the correlation there."""
    best = (-1.0, None)
    for c in candidates:
        for p in range(max(0, c - 88), c + 89):
            best = max(best, (audio_util.ncc(hit, heard[p:p + len(hit)]), p))
    return best


def lags_in_sink(hits, wav_hp, heard, breaks):
    """How much later each hit of the file lies in the sink's recording,
    found by its correlation there (its music breaks where the file's does
    not). A hit the sink broke on, while it sounded or just before, can be
    cut or missing there: its lag is None. The first hit is looked for at
    the onsets alone, so whether the sink broke on it is judged at the best
    of them."""
    heard_hp = audio_util.highpass(heard, HIGHPASS)
    # Onsets, and for all but the first also the place at the last lag:
    # two hits close together are one onset.
    candidates = hits_in(heard)
    lags = []
    last = None  # the lag of the last hit found
    for at in hits:
        hit = wav_hp[at - 44:at + int(0.05 * RATE)]
        near = candidates if last is None else [at + last] + [c for c in candidates if abs(c - at - last) < 0.15 * RATE]
        score, where = locate(hit, heard_hp, near)
        place = where if last is None else at + last
        if score <= 0.9 and place is not None and broken(place - len(hit), place + len(hit), breaks):
            lags.append(None)
            continue
        assert score > 0.9, (at, score)
        last = where - (at - 44)
        lags.append(last)
    return lags


def broken(lo, hi, breaks):
    """Whether the sink broke somewhere between `lo` and `hi` of its recording."""
    return any(s < hi and e > lo for s, e, _ in breaks)


def placed_apart(a, lag_a, b, lag_b, breaks):
    """Whether two hits of the file at `a` and `b`, at those lags in the
    sink's recording, were heard there without a break between them."""
    return lag_a is not None and lag_b is not None and not broken(a + lag_a, b + lag_b, breaks)


def seen_in_trace(app, prefix, after, timeout=10):
    """Polls the trace every millisecond for a line starting with `prefix`
    past line `after`; the monotonic time it was first seen, and the line."""
    end = time.monotonic() + timeout
    size = -1
    while time.monotonic() < end:
        now_size = app.trace.stat().st_size
        if now_size != size:
            size, seen = now_size, time.monotonic()
            line = next((l for l in app.trace_lines()[after:] if l.startswith(prefix)), None)
            if line:
                return seen, line
        time.sleep(0.001)
    pytest.fail("no trace line %r within %s s" % (prefix, timeout))


def type_rhythm(keyboard, keys, first):
    """Presses the keys, the first at `first` and the rest RHYTHM's steps
    apart; the times the presses left."""
    deadlines = [first + sum(RHYTHM[:i]) for i in range(len(keys))]
    return [keyboard.press_at(key, deadline) for key, deadline in zip(keys, deadlines)]


def reference(name):
    """The sound a play call of `name` starts, high-passed as the file is."""
    hz = FINISH_HZ if name == "finish" else dict(KIT1, **KIT2)[name]
    return audio_util.highpass(audio_util.tone(hz, 0.05 if name == "finish" else 0.06), HIGHPASS)


def find_sound(wav_hp, name, guess, reach):
    """Where the sound of `name` starts in the (high-passed) file, within
    `reach` samples of `guess`: its whole shape, not a threshold that
    crosses sooner or later with the tone. The place and the correlation."""
    ref = reference(name)
    best = (-1.0, None)
    for p in range(max(0, guess - reach), min(len(wav_hp) - len(ref), guess + reach) + 1):
        best = max(best, (audio_util.ncc(ref, wav_hp[p:p + len(ref)]), p))
    return best[1], best[0]


def play_calls(app, after, names):
    """(name, seconds) of each play call since line `after` of the trace,
    for the handles in `names`; the time is the library's own."""
    rx = re.compile(r"BASS_ChannelPlay\((\d+), 1\) = 1 \[at ([\d.]+) ms\]$")
    found = [rx.match(l) for l in app.trace_lines(timed=True)[after:]]
    return [(names[int(m.group(1))], float(m.group(2)) / 1000) for m in found if m and int(m.group(1)) in names]


def test_recording_is_what_the_sink_heard_key_for_key(app, make_progdir, recorder, server_log, tmp_path):
    p = pad_with_two_kits(make_progdir)
    music = tmp_path / "music.wav"
    audio_util.write_wav(music, audio_util.tone(MUSIC_HZ, 60, amplitude=0.3, fade=0.05), channels=2)
    a = start_pad(app, p)
    open_music(a, music)
    recorder.start()
    recorder.wait_length(0.3)
    a.focus()
    keyboard = XTestKeyboard(a.session.env["DISPLAY"])
    try:
        mark = first = len(a.trace_lines())
        f7_start = keyboard.press_at("F7", time.monotonic() + 0.3)
        started, _ = seen_in_trace(a, "BASS_MixRecordStart(", mark)
        typed = type_rhythm(keyboard, KIT1, f7_start + 0.6)
        mark = len(a.trace_lines())
        keyboard.press_at("End", typed[-1] + 0.6)
        finish = stream_of(a, "Finish.wav", after=mark)
        a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % finish, after=mark)
        typed += type_rhythm(keyboard, KIT2, time.monotonic() + 0.3)
        mark = len(a.trace_lines())
        f7_stop = keyboard.press_at("F7", typed[-1] + 0.75)
        stopped, stop_line = seen_in_trace(a, "BASS_MixRecordStop(", mark)
    finally:
        keyboard.close()
    path = saved_file(a, p)
    recorder.wait_length(0.5)
    heard = recorder.stop()
    names = {stream_of(a, "\\%s\\%s.WAV" % (kit, key)): key
             for kit, keys in (("kit1", KIT1), ("kit2", KIT2)) for key in keys}
    names[finish] = "finish"
    calls = play_calls(a, first, names)

    layout = assert_whole(path)
    assert (layout["rate"], layout["channels"]) == (RATE, 2), layout
    _, wav = audio_util.read_wav(path)
    counts = re.search(r"(\d+) frames, (\d+) overruns", stop_line)
    assert int(counts.group(1)) == len(wav), stop_line
    assert counts.group(2) == "0", stop_line
    # Every play call of ours since F7 is in the file: the keys in the
    # order typed and the kit change's confirmation between the kits, each
    # found within 60 ms of where its call's time puts it after the one
    # before (where the device ran dry in between, the file holds that
    # silence too; the kit change's sound, played as the new kit's load
    # ends, has come 40 ms late on a busy machine).
    # Hits are found by the calls, not by onsets: a stall of the whole
    # machine can bring two calls close enough to run into each other.
    assert [n for n, _ in calls] == list(KIT1) + ["finish"] + list(KIT2), calls
    wav_hp = audio_util.highpass(wav, HIGHPASS)
    in_file = audio_util.dropouts(wav, MUSIC_HZ)
    hits = []
    for i, (name, at) in enumerate(calls):
        guess = hits_in(wav)[0] if i == 0 else hits[-1] + round((at - calls[i - 1][1]) * RATE)
        reach = RATE // 16 + sum(e - s for s, e, _ in in_file if i and s < guess and e > hits[-1])
        place, score = find_sound(wav_hp, name, guess, reach)
        assert score > 0.9, ("call %d (%s) not in the file" % (i, name), guess, score, in_file)
        hits.append(place)
    # Each as far after the one before as its call came after the call
    # before: the library places a hit by its call's time within the block,
    # to a frame when its thread runs in time (the channel tests hold that
    # to the frame); here, on a busy machine, the median to 1 ms, which a
    # pad that starts hits on its output's period misses by far.
    off = [(b - a) / RATE - (q - p) for a, b, (_, p), (_, q) in zip(hits, hits[1:], calls, calls[1:])
           if not broken(a, b, in_file)]
    print("\nintervals against the play calls: %d of %d compared, %d within 1 ms; off by %s ms"
          % (len(off), len(calls) - 1, sum(abs(o) <= 0.001 for o in off), " ".join("%+.2f" % (o * 1000) for o in off)))
    assert len(off) >= (len(calls) - 1) // 2, (len(off), in_file)
    assert sorted(abs(o) for o in off)[len(off) // 2] <= 0.001, ["%+.2f" % (o * 1000) for o in off]

    # The same hits in the sink's recording, each as far from the last as
    # in the file, to 1 ms, unless the sink broke in between.
    breaks = audio_util.dropouts(heard, MUSIC_HZ)
    lags = lags_in_sink(hits, wav_hp, heard, breaks)
    placed = [i for i, lag in enumerate(lags) if lag is not None]
    assert len(placed) >= len(hits) // 2, (lags, breaks)
    # Over the time the file covers, the sink breaks only where a stream
    # ran dry at the sound server (Wine's feeding thread came late); any
    # other break is the program's.
    span = (lags[placed[0]], len(wav) + lags[placed[-1]])
    unexplained = [b for b in breaks if b[0] < span[1] and b[1] > span[0]
                   and not server_log.explains(recorder.time_of(b[0]))]
    assert not unexplained, ("breaks at the sink without an underrun at the server", unexplained, server_log.underruns)
    for i, j in zip(placed, placed[1:]):
        if placed_apart(hits[i], lags[i], hits[j], lags[j], breaks) and abs(lags[j] - lags[i]) > RATE // 1000:
            assert server_log.explains(recorder.time_of(hits[i] + lags[i]), recorder.time_of(hits[j] + lags[j])), \
                ("the sink moved a hit without an underrun at the server", j, lags, server_log.underruns)

    # No frame lost or doubled: the steady music runs through unbroken,
    # but where the device itself ran dry (the mixer thread came late on a
    # busy machine) the file has the silence the sink has there.
    for s, e, kinds in audio_util.dropouts(wav, MUSIC_HZ):
        lag = lags[min(placed, key=lambda i: abs(hits[i] - s))]
        assert broken(s + lag - RATE // 50, e + lag + RATE // 50, breaks), \
            ("a break in the file the sink does not have", s, e, kinds, breaks)

    # Its length is the time from the start to the stop, to a period. Each
    # call fell between its press of F7 and its trace line, which bounds
    # that time from below and above. Where the output fell behind, the
    # device got nothing from the mixer, which the sink shows as a break:
    # the file may be shorter by those breaks, never longer.
    shortest, longest = f7_stop - started, stopped - f7_start
    missed = sum(min(e, span[1]) - max(s, span[0]) for s, e, _ in breaks if s < span[1] and e > span[0]) / RATE
    length = len(wav) / RATE
    print("\nrecording %.4f s; start to stop between %.4f and %.4f s; sink breaks in it %.4f s"
          % (length, shortest, longest, missed))
    assert shortest - PERIOD - missed <= length <= longest + PERIOD, (length, shortest, longest, missed)

    # The whole span, block by block at the lag of the nearest hit before
    # it (the first hit for the blocks before that); the sink's own breaks
    # shift what it recorded afterwards, so a block with a break between it
    # and its hit is left out.
    block = int(0.1 * RATE)
    kept = []
    total = len(wav) // block
    for start in range(0, total * block, block):
        i = max([j for j in placed if hits[j] <= start], default=placed[0])
        lo, hi = min(start, hits[i]) + lags[i], max(start + block, hits[i]) + lags[i]
        if lo >= 0 and hi <= len(heard) and not broken(lo, hi, breaks):
            kept.append((start, start + lags[i]))
    score = audio_util.ncc([x for s, _ in kept for x in wav[s:s + block]],
                           [x for _, h in kept for x in heard[h:h + block]])
    print("correlation with the sink: %.4f over %d of %d blocks of 100 ms (sink breaks: %d)"
          % (score, len(kept), total, len(breaks)))
    assert len(kept) >= total // 4, (len(kept), total, breaks)
    assert score > 0.9, score


def test_closing_while_recording_leaves_a_whole_file(app, make_progdir):
    p = pad_with_two_kits(make_progdir)
    p.write_config({"选项": {"关闭提示": "1"}})
    a = start_pad(app, p)
    mark = len(a.trace_lines())
    a.post_command(RECORD)
    line = a.wait_trace(r"BASS_MixRecordStart\(", after=mark)[0]
    assert line.endswith(" = 1"), line
    a.wait_for(lambda: a.label_text() == "录音中 00:01", "the label to count a second")
    a.keys("a", "s", "d", focus=True)
    files = list((p.path / FOLDER).glob("*.wav"))
    assert len(files) == 1, files
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.wav", files[0].name), files[0].name
    a.close()
    assert a.wait_exit() == 0
    w = assert_whole(files[0])
    assert w["data"] >= RATE * 4, w


def test_full_disk_says_so_keeps_what_was_written_and_the_pad_plays_on(app, make_progdir, tmp_path):
    p = pad_with_two_kits(make_progdir)
    disk = tmp_path / "small_disk"
    disk.mkdir()
    # A 1 MiB disk of its own holds about 6 s of 44.1 kHz stereo.
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(disk)],
                      capture_output=True).returncode != 0:
        pytest.skip("no tmpfs can be mounted here to fill up")
    a = None
    try:
        os.symlink(disk, p.path / FOLDER)
        a = start_pad(app, p)
        a.post_command(RECORD)
        box = a.wait_box("错误！", timeout=30)
        text = box["text"]
        assert text.startswith("录音文件写入失败（磁盘可能已满），录音已停止。已录下的部分保存在：" + p.win + "\\" + FOLDER), text
        saved, _, midi = text.split("保存在：", 1)[1].partition("\r\n")
        # The MIDI file beside it, when the disk had no room left for it
        # either, is told in the same box.
        assert midi == "" or midi.startswith("无法写入录音的MIDI文件：" + saved[:-len(".wav")] + ".mid（错误代码 "), text
        name = saved.rsplit("\\", 1)[1]
        mark = len(a.trace_lines())
        a.answer("IDOK", box=box)
        assert a.label_text() == "录音已停止，已录下的部分保存在：" + saved
        w = assert_whole(disk / name)
        assert w["data"] > RATE * 4, w
        # The pad plays on.
        a.keys("a")
        a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % stream_of(a, "\\kit1\\a.WAV"), after=mark)
    finally:
        if a:
            a.kill()
        for _ in deadline_loop(20, "the small disk to be unmounted"):
            if subprocess.run(["umount", str(disk)], capture_output=True).returncode == 0:
                break


def test_a_file_in_place_of_the_folder_says_so_and_the_pad_plays_on(app, make_progdir):
    p = pad_with_two_kits(make_progdir)
    (p.path / FOLDER).write_bytes(b"not a folder")
    a = start_pad(app, p)
    before = a.label_text()
    a.post_command(RECORD)
    box = a.wait_box("错误！")
    assert box["text"].startswith("无法创建录音文件夹：%s\\%s（错误代码 " % (p.win, FOLDER)), box["text"]
    mark = len(a.trace_lines())
    a.answer("IDOK", box=box)
    a.keys("s")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % stream_of(a, "\\kit1\\s.WAV"), after=mark)
    assert a.label_text() == before
    assert (p.path / FOLDER).read_bytes() == b"not a folder"
    assert not [l for l in a.trace_lines() if l.startswith("BASS_MixRecordStart")]
