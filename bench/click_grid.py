#!/usr/bin/env python3
"""The metronome's grid: YXYT.exe runs its click at 137 a minute, taken
into an F7 recording, while a busy loop takes one of the machine's cores
for the middle third of the time; then the click onsets in the file and
at the null sink are measured against the tempo's grid.

Usage: YXYT_BUILD=<cross build> bench/click_grid.py [seconds] [silent]  (default 300)
       "silent": no F8, the same recording without the click, for its length

Method.
- Config.ini holds [节拍器] 速度=137, 拍数=4, 音量=0.5, 录入录音=1; F8
  starts the click before F7 starts the recording, and F7 stops it.
- The file: each click's onset is its first sample that is not zero after
  at least 200 zero samples (the click is 25 ms of a decaying tone that
  starts at its peak, the rest of the beat is digital silence). Each onset
  is put on the grid of the first one (beat n at first + n * 44100 * 60 /
  137 frames); the figures are the largest distance from its grid place,
  the beats missing from the grid (lost where the device ran dry), and
  whether the loud clicks fall on every 4th beat of the grid.
- The sink: parec records the null sink's monitor as in key_to_sound.py;
  an onset is the first sample above 0.05 after 200 samples below 0.01.
  The figure is the median of |interval - beat| over successive onsets one
  beat apart, and how many were not one beat apart.
"""
import array
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import wave
from pathlib import Path

import key_to_sound as k2s
from key_to_sound import BIN, BUILD, RATE, audio_util, readme_bytes, require_built
from record_long import instruments, stop_line

TEMPO = 137
BEAT = RATE * 60.0 / TEMPO


def lay_out(work):
    prog = work / "prog"
    kit = prog / "SND" / "kit"
    kit.mkdir(parents=True)
    audio_util.write_tone(kit / "a.WAV", 440, 0.06)
    audio_util.write_tone(prog / "SND" / "Finish.wav", 880, 0.05)
    shutil.copy2(BIN / "YXYT.exe", prog)
    shutil.copy2(BIN / "bass.dll", prog)
    (prog / "ReadMe.txt").write_bytes(readme_bytes())
    (prog / "Config.ini").write_bytes(
        "[节拍器]\r\n速度=137\r\n拍数=4\r\n音量=0.5\r\n录入录音=1\r\n".encode("gbk"))
    return prog


def file_onsets(path):
    """(frame, peak) of each click in the WAV's first channel."""
    found = []
    with wave.open(str(path), "rb") as w:
        channels = w.getnchannels()
        zeros, at = 200, 0
        while True:
            pcm = array.array("h")
            pcm.frombytes(w.readframes(RATE * 10))
            if not pcm:
                return found
            left = pcm[0::channels]
            for i, s in enumerate(left):
                if s:
                    if zeros >= 200:
                        found.append((at + i, abs(s) / 32768.0))
                    zeros = 0
                else:
                    zeros += 1
            at += len(left)


def sink_onsets(capture, first, end):
    found, quiet = [], 200
    for a in range(first, end, RATE * 10):
        piece = capture.mono(a, min(end, a + RATE * 10))
        for i, s in enumerate(piece):
            s = abs(s)
            if s > 0.05 and quiet >= 200:
                found.append(a + i)
            quiet = quiet + 1 if s < 0.01 else 0
    return found


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 300.0
    silent = "silent" in sys.argv[2:]
    require_built("YXYT.exe", "bass.dll", "probe.exe")
    session = k2s.start_session(BUILD)[0]
    work = Path(tempfile.mkdtemp(prefix="yxyt-clickbench-"))
    server = k2s.start_update_server(work)
    prog = lay_out(work)
    trace, env, wine, keyboard, capture = instruments(session, work)
    proc = busy = None
    try:
        proc, hwnd = k2s.launch_yxyt(wine, prog, env, server)
        k2s.focus(env, "^逸响乐台", "YXYT")
        time.sleep(1)
        now = time.monotonic()
        if not silent:
            k2s.press_at(keyboard, keyboard.keycode("F8"), [now + 0.2])
        start = k2s.press_at(keyboard, keyboard.keycode("F7"), [now + 1.2])[0]
        heard_from = capture.frames()
        print("click at %d a minute into a %.0f s recording, a busy loop from %.0f s to %.0f s, %s" %
              (TEMPO, seconds, seconds / 3, 2 * seconds / 3, BUILD.name), flush=True)
        time.sleep(max(0.0, start + seconds / 3 - time.monotonic()))
        busy = subprocess.Popen(["/usr/bin/python3", "-c", "while 1: pass"])
        time.sleep(max(0.0, start + 2 * seconds / 3 - time.monotonic()))
        busy.kill()
        busy.wait(10)
        stop = k2s.press_at(keyboard, keyboard.keycode("F7"), [start + seconds])[0]
        heard_to = capture.frames()
        if not silent:
            k2s.press_at(keyboard, keyboard.keycode("F8"), [stop + 0.5])
        stop_line(trace)
    finally:
        if busy and busy.poll() is None:
            busy.kill()
        capture.close()
        if proc:
            proc.kill()
            proc.wait(30)
        server.close()

    path = sorted((prog / "录音").glob("*.wav"))[0]
    with wave.open(str(path), "rb") as w:
        length = w.getnframes() / w.getframerate()
    print("file: %.3f s for %.3f s from F7 to F7" % (length, stop - start))
    if silent:
        return
    onsets = file_onsets(path)
    first = onsets[0][0]
    places = [round((at - first) / BEAT) for at, _ in onsets]
    errors = [abs(at - (first + n * BEAT)) for (at, _), n in zip(onsets, places)]
    expected = places[-1] + 1
    loud = [n for (_, peak), n in zip(onsets, places) if peak > 0.4]
    accents_ok = all((n - loud[0]) % 4 == 0 for n in loud) and len(loud) >= len(onsets) // 4 - 1
    lost = sorted(set(range(expected)) - set(places))
    print("file: clicks from %.3f s to %.3f s" % (first / RATE, onsets[-1][0] / RATE))
    print("file: %d clicks of %d grid beats (%d lost%s), largest distance from the grid %.2f frames, "
          "%d more than 1 frame off" % (len(onsets), expected, len(lost),
                                        (" at " + " ".join("%.1f s" % ((first + n * BEAT) / RATE) for n in lost[:20]))
                                        if lost else "", max(errors), sum(e > 1 for e in errors)))
    print("file: %d accented clicks, %s every 4th grid beat" % (len(loud), "all on" if accents_ok else "NOT all on"))
    midi = path.with_suffix(".mid")
    print("MIDI twin: %s (%d bytes)" % (midi.name, midi.stat().st_size) if midi.exists() else "MIDI twin: missing")

    sink = sink_onsets(capture, heard_from, heard_to)
    steps = [(b - a) for a, b in zip(sink, sink[1:])]
    one = [abs(s - BEAT) / RATE * 1000 for s in steps if abs(s - BEAT) < BEAT / 4]
    print("sink: %d onsets, %d intervals one beat apart: median error %.3f ms, p95 %.3f ms, max %.3f ms; "
          "%d intervals not one beat" % (len(sink), len(one), statistics.median(one),
                                         sorted(one)[int(0.95 * (len(one) - 1))], max(one), len(steps) - len(one)))
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
