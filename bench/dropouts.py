#!/usr/bin/env python3
"""Dropouts: YXYT.exe plays a steady tone as its main track while A is
pressed at a steady rhythm; every break in the tone heard at the null
sink counts. Once on an idle machine, once with both cores busy.

Usage: YXYT_BUILD=<cross build> bench/dropouts.py [seconds] [hits_per_second]
       (default 60 s, 8 hits a second)

Method.
- The expected mix: the main track is a 441 Hz sine (100 samples a
  period, so its phase is the same in every 100-sample block); the hit is
  a 40 ms burst at 4,410 Hz with a 1 ms soft attack; a control tone at
  882 Hz is played into the sink by pacat with its default (long) buffer.
  All three are whole periods of a 100-sample block, so in each block the
  441 Hz level and phase read our music alone, and the 882 Hz ones the
  control alone (audio_util.dropouts).
- A break of ours: a block whose 441 Hz level strays by more than 25 %
  from its median (a gap, an overlap) or whose phase turns by more than
  15 degrees (frames skipped or repeated). A break that the control tone
  shows at the same moment is the recording's or the sink's, not ours:
  those are counted apart. A skip of a whole number of 100-sample blocks
  would go unseen.
- Key presses go through XTest at absolute deadlines and the monitor is
  recorded with parec --latency-msec=5, as in key_to_sound.py; hits are
  counted as onsets above 2 kHz.
- Busy: two `python3 -c 'while 1: pass'` processes at nice 0 for the run.
"""
import array
import math
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import key_to_sound as k2s
from key_to_sound import BIN, BUILD, RATE, ROOT, audio_util, focus, open_music, press_at, readme_bytes, require_built

MUSIC_HZ = 441
CONTROL_HZ = 882
HIT_HZ = 4410
BLOCK = 100


def periodic_wav(path, freq, seconds, amplitude):
    """A mono sine of a whole number of samples a period, one period repeated."""
    period = int(round(RATE / freq))
    one = [amplitude * math.sin(2 * math.pi * i / period) for i in range(period)]
    audio_util.write_wav(path, one * int(seconds * RATE / period))


def hit(path):
    n = int(0.04 * RATE)
    samples = [0.4 * (0.5 - 0.5 * math.cos(math.pi * min(1.0, j / (0.001 * RATE)))) * math.exp(-j / (0.006 * RATE)) *
               math.sin(2 * math.pi * HIT_HZ * j / RATE) for j in range(n)]
    audio_util.write_wav(path, samples)


class ControlTone:
    """The control tone from a native client with a long buffer."""

    def __init__(self, env):
        sink = env.get("YXYT_SINK", "yxyt_sink")
        period = int(round(RATE / CONTROL_HZ))
        one = array.array("h")
        for i in range(period):
            v = int(round(0.1 * 32767 * math.sin(2 * math.pi * i / period)))
            one.extend((v, v))
        self.chunk = one.tobytes() * (RATE // period)
        self.proc = subprocess.Popen(["pacat", "--playback", "-d", sink, *k2s.FORMAT[:-1]], stdin=subprocess.PIPE,
                                     env=env)
        threading.Thread(target=self.feed, daemon=True).start()

    def feed(self):
        try:
            while True:
                self.proc.stdin.write(self.chunk)
        except (BrokenPipeError, ValueError, OSError):
            return

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)


def measure(name, capture, keyboard, seconds, rate):
    code = keyboard.keycode("a")
    first = capture.frames()
    start = time.monotonic() + 0.3
    press_at(keyboard, code, [start + i / rate for i in range(int(seconds * rate))])
    capture.wait_frames(capture.frames() + int(0.5 * RATE))
    recording = capture.mono(first, capture.frames())
    ours = audio_util.dropouts(recording, MUSIC_HZ, block=BLOCK)
    control = audio_util.dropouts(recording, CONTROL_HZ, block=BLOCK)
    shared = [b for b in ours if any(c[0] - 2 * BLOCK <= b[0] <= c[1] + 2 * BLOCK for c in control)]
    hits = audio_util.onsets(audio_util.highpass(recording, 2000), threshold=0.1, window=16, min_gap=0.03)
    print("%-5s %5.1f s recorded  hits heard %d/%d  breaks in our music %d (of which %d also in the control tone)  "
          "breaks in the control tone %d" % (name, len(recording) / RATE, len(hits), int(seconds * rate), len(ours),
                                             len(shared), len(control)), flush=True)
    for s, e, kinds in ours:
        print("      ours at %7.3f s, %5.1f ms, %s%s" % (s / RATE, 1000 * (e - s) / RATE, "+".join(kinds),
                                                       " (control too)" if (s, e, kinds) in shared else ""))
    for s, e, kinds in control:
        print("      control at %7.3f s, %5.1f ms, %s" % (s / RATE, 1000 * (e - s) / RATE, "+".join(kinds)))
    return len(ours) - len(shared)


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 8.0
    require_built("YXYT.exe", "bass.dll", "probe.exe")
    session = k2s.start_session(BUILD)[0]
    env = session.env
    wine = str(ROOT / "tools" / "wine-run.sh")

    work = Path(tempfile.mkdtemp(prefix="yxyt-dropbench-"))
    server = k2s.start_update_server(work)
    prog = work / "prog"
    kit = prog / "SND" / "hits"
    kit.mkdir(parents=True)
    shutil.copy2(BIN / "YXYT.exe", prog)
    shutil.copy2(BIN / "bass.dll", prog)
    (prog / "ReadMe.txt").write_bytes(readme_bytes())
    hit(kit / "a.WAV")
    audio_util.write_wav(prog / "SND" / "Finish.wav", [0.0] * 441)
    music = work / "music.wav"
    periodic_wav(music, MUSIC_HZ, 2 * seconds + 90, 0.3)

    keyboard = k2s.Keyboard(env["DISPLAY"])
    capture = k2s.Capture(env)
    capture.started.wait(10)
    control = ControlTone(env)
    busy = []
    yxyt = None
    try:
        print("dropouts, %g s of %g hits a second over a %d Hz main track, %s" % (seconds, rate, MUSIC_HZ, BUILD.name),
              flush=True)
        yxyt, hwnd = k2s.start_yxyt(wine, prog, env, server)
        open_music(session, capture, yxyt, hwnd, prog, server, music, MUSIC_HZ)
        focus(env, "^逸响乐台", "YXYT")
        total = measure("idle", capture, keyboard, seconds, rate)
        busy = [subprocess.Popen([sys.executable, "-c", "while 1: pass"]) for _ in range(2)]
        total += measure("busy", capture, keyboard, seconds, rate)
        print("breaks of ours (not in the control tone): %d" % total)
    finally:
        for p in busy:
            p.kill()
            p.wait()
        if yxyt and yxyt.poll() is None:
            yxyt.kill()
            yxyt.wait(30)
        control.close()
        capture.close()
        server.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
