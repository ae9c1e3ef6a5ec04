#!/usr/bin/env python3
"""Key-to-sound: YXYT.exe, with shared and with exclusive output, against a
naive drum pad (baseline_pad.exe, its own keyboard hook and
PlaySoundA(SND_MEMORY | SND_ASYNC)), same sample, same keys, same run,
under Wine on Xvfb with the PulseAudio null sink.

Usage: YXYT_BUILD=<cross build> bench/key_to_sound.py [presses] [interval_ms] [case ...] [held=<ms>]
       [modes=shared,exclusive,click] [pads]
       (default 40 presses, 150 ms apart, every case; "held": the Wine
       programs have the sound server hold that much of each stream
       instead of the 30 ms Wine asks for; Wine then also lengthens its
       period, see docs/measurements.md; "pads": YXYT.exe with the pads
       shown and hidden, both shared, instead of shared and exclusive)

Output modes of YXYT.exe: "shared" starts it without the option; "exclusive"
writes [选项] 独占输出=1 into its Config.ini first, as the menu item would;
"click" plays shared with the metronome running (F8 after start-up) at
volume 0 ([节拍器] 音量=0), so that the sink hears only the hits while the
click keeps the music's stream running.
Where the sound server refuses exclusive mode, the program says so in a box
at start-up, which this script answers, and plays shared; the line after the
table quotes the library's trace of that start (the mode it runs in, and
why exclusive was not had).

Cases, each measured for every program in the same run:
- idle: nothing else plays.
- music: YXYT.exe plays a steady 147 Hz tone as its main track (opened
  with Insert and the open-file dialog, as a user would) and keeps playing
  it in the background while the pad is measured; onsets and silence are
  then read above 1 kHz, where the music is 33 dB down.
- other-stream: another program (pacat at its default latency) keeps a
  stream of quiet noise open into the sink for the whole case.

Method.
- Keys: this script sends the X key events itself through XTest
  (XTestFakeKeyEvent + XFlush over ctypes) at absolute deadlines, so each
  press has a timestamp on the monotonic clock taken right after the event
  left for the X server - microseconds, where a spawned xdotool per key
  would add milliseconds of process start-up jitter.
- Sound: parec records the null sink's monitor (--latency-msec=5) into a
  pipe this script reads. Every chunk is timestamped on arrival; the
  recording's clock is tied to the monotonic clock by the earliest arrival
  seen while one program is measured (T0 = min(arrival - frames / rate)),
  since a chunk can arrive late but never before its samples were
  rendered. Per measurement, because the monitor can drop or repeat a few
  milliseconds when a stream joins a running sink; the table's last column
  shows how far T0 has moved since the first measurement. A
  sample index is then a monotonic time, so an onset is comparable with
  its key press. The null sink renders in blocks of about 5 ms and a
  block is timed by its end, so a figure can read up to one block low (a
  path shorter than that can even read slightly negative); the shift is
  the same for both programs, so their difference is the programs' own.
- A stream of silence keeps the null sink rendering in real time, as the
  tests' recorder does.
- One lead press a second before the steady presses gives each program's
  latency to a first sound unambiguously. The first onset after the first
  steady press is that press's (nothing else is pending then); the steady
  presses are paired with the onset nearest to press time plus its
  latency, so a latency longer than the interval is not mistaken for a
  short one, and a slow first sound (the pad's first PlaySound opens the
  device) does not shift the pairing.
- The sample is a 30 ms click (a 2 kHz burst with an instant attack), so
  its onset is a single threshold crossing.
Figures: latency key press -> onset of the lead and of the steady presses
(median, p95, max) and the jitter of
onset intervals against key intervals, |(o[i+1]-o[i]) - (k[i+1]-k[i])|
(median, p95), plus how many presses were heard.
"""
import array
import json
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import audio_util  # noqa: E402
from drum_util import XTestKeyboard as Keyboard  # noqa: E402
import music_util  # noqa: E402
from conftest import (BIN, BUILD, App, Probe, ProgramDir, readme_bytes, require_built, start_session,  # noqa: E402
                      start_update_server, winpath)

MUSIC_HZ = 147  # 300 samples a period
BAND_HZ = 1000  # onsets are read above this while music plays

RATE = 44100
# How long before its press an onset may read: a fresh stream's path reads
# up to about 10 ms early (the sink's block is timed by its end), more over
# a longer recording, whose tie of clocks is an average. Presses are at
# least 100 ms apart, so an onset this early is still the press's own.
EARLY = 0.020
FORMAT = ["--raw", "--format=s16le", "--rate=%d" % RATE, "--channels=2", "--latency-msec=5"]


class Capture:
    """parec into a pipe; every chunk timestamped on arrival."""

    def __init__(self, env):
        sink = env.get("YXYT_SINK", "yxyt_sink")
        self.keeper = subprocess.Popen(["pacat", "--playback", "-d", sink, *FORMAT], stdin=open("/dev/zero", "rb"),
                                       env=env)
        self.proc = subprocess.Popen(["parec", "-d", sink + ".monitor", *FORMAT], stdout=subprocess.PIPE, env=env)
        self.data = bytearray()
        self.ticks = []  # (frames received, arrival time)
        self.lock = threading.Lock()
        self.started = threading.Event()
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        fd = self.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 4096)
            now = time.monotonic()
            if not chunk:
                return
            with self.lock:
                self.data += chunk
                frames = len(self.data) // 4
                self.ticks.append((frames, now))
            self.started.set()

    def frames(self):
        with self.lock:
            return len(self.data) // 4

    def wait_frames(self, frames, timeout=30):
        end = time.monotonic() + timeout
        while self.frames() < frames:
            if time.monotonic() > end:
                raise RuntimeError("recording stalled")
            time.sleep(0.01)

    def mono(self, start, end):
        with self.lock:
            raw = bytes(self.data[start * 4:end * 4])
        pcm = array.array("h")
        pcm.frombytes(raw)
        return [(pcm[i] + pcm[i + 1]) / 65536.0 for i in range(0, len(pcm) - 1, 2)]

    def tie(self, start, end):
        """T0 from the chunks that arrived between two frames."""
        with self.lock:
            return min((now - frames / RATE for frames, now in self.ticks if start <= frames <= end),
                       default=math.nan)

    def close(self):
        for p in (self.proc, self.keeper):
            p.terminate()
            p.wait(10)


def click(path):
    """30 ms: a 2 kHz burst at full attack, decaying."""
    n = int(0.03 * RATE)
    samples = [0.8 * math.exp(-i / (0.008 * RATE)) * math.sin(2 * math.pi * 2000 * i / RATE) for i in range(n)]
    samples[0] = 0.8  # the very first sample crosses the threshold
    audio_util.write_wav(path, samples)


def quiet(capture, seconds=0.3, level=0.002, timeout=30, band=None):
    """Waits until the last `seconds` of the recording are silent (above
    `band` Hz when given)."""
    need = int(seconds * RATE)
    settle = int(0.05 * RATE)  # the filter's start from rest is no sound
    end = time.monotonic() + timeout
    while True:
        n = capture.frames()
        if n >= need + settle:
            tail = capture.mono(n - need - settle, n)
            if band:
                tail = audio_util.highpass(tail, band)
            if audio_util.peak(tail[settle:]) < level:
                return
        if time.monotonic() > end:
            raise RuntimeError("no silence in the recording")
        time.sleep(0.05)


def probe(env, *args, check=True):
    # A file, not a pipe: Wine's service processes started by this call
    # inherit its output and would hold a pipe open after it ends.
    with tempfile.TemporaryFile() as f:
        rc = subprocess.run([str(ROOT / "tools" / "wine-run.sh"), str(BIN / "probe.exe"), *args], env=env,
                            stdout=f, stderr=subprocess.DEVNULL, timeout=180).returncode
        f.seek(0)
        text = f.read().decode("utf-8", "replace")
    lines = [json.loads(l) for l in text.splitlines() if l.startswith("{")]
    if check and (rc != 0 or not lines):
        raise RuntimeError("probe %s failed: %s" % (" ".join(args), text))
    return lines[0] if lines else {}


def focus(env, name, cls):
    """Gives the program's window the X focus and waits until Windows calls
    it the foreground window, which is when its keyboard hook plays."""
    hwnd = probe(env, "wait-window", "--class", cls, "--visible", "--timeout", "120000", check=False).get("hwnd")
    if not hwnd:
        raise RuntimeError("no %s window; message boxes: %s" % (cls, probe(env, "windows", "--class", "#32770",
                                                                          check=False)))
    xenv = dict(env, LANG="C.UTF-8")
    ids = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", name], env=xenv,
                         capture_output=True, text=True, timeout=60).stdout.split()
    if not ids:
        raise RuntimeError("no window named %s" % name)
    subprocess.run(["xdotool", "windowfocus", "--sync", ids[-1]], env=xenv, check=True, timeout=30)
    end = time.monotonic() + 20
    while probe(env, "foreground")["hwnd"] != hwnd:
        if time.monotonic() > end:
            raise RuntimeError("%s did not become the foreground window" % name)
    # The hook runs on the window's thread: once a sent WM_NULL returns, that
    # thread is in its message loop (YXYT.exe plays its start-up sound first).
    while not probe(env, "send", str(hwnd), "0", "0", "0", check=False).get("sent"):
        if time.monotonic() > end + 60:
            raise RuntimeError("%s does not answer messages" % name)
    return hwnd


def press_at(keyboard, code, targets):
    """Presses and releases a key at each absolute deadline (monotonic
    clock); returns the press times."""
    times = []
    for target in targets:
        while time.monotonic() < target - 0.002:
            time.sleep(0.001)
        while time.monotonic() < target:
            pass
        times.append(keyboard.event(code, True))
        time.sleep(0.03)
        keyboard.event(code, False)
    return times


def play(capture, keyboard, presses, interval, band=None):
    """One lead press, then A `presses` times at absolute deadlines; returns
    the lead's time, the press times and the recording from just before
    the lead. The lead stands a second apart from everything, so its sound
    is unambiguous even when a program's latency exceeds the interval."""
    code = keyboard.keycode("a")
    quiet(capture, level=0.02 if band else 0.002, band=band)
    # Without a key event first, the first letter of a run never reached a hook under Wine.
    shift = keyboard.keycode("Shift_L")
    keyboard.event(shift, True)
    keyboard.event(shift, False)
    first_frame = capture.frames()
    start = time.monotonic() + 0.2
    targets = [start] + [start + 1.0 + i * interval for i in range(presses)]
    times = press_at(keyboard, code, targets)
    capture.wait_frames(capture.frames() + int(0.8 * RATE))
    last = capture.frames()
    return times[0], times[1:], first_frame, capture.mono(first_frame, last)


def figures(capture, lead, key_times, first_frame, recording, interval, band=None):
    """(T0, heard, lead latency, latencies sorted, jitters sorted), times in
    ms; None when the lead or the first steady press was not heard."""
    if band:
        recording = audio_util.highpass(recording, band)
    t0 = capture.tie(first_frame, first_frame + len(recording))
    onsets = [first_frame + o for o in audio_util.onsets(recording, threshold=0.1, window=16,
                                                         min_gap=min(0.05, interval / 3))]
    onset_times = [t0 + o / RATE for o in onsets]
    # A path as short as a fresh stream's can read up to about 9 ms before
    # its press (the sink's block is timed by its end): onsets are taken
    # from EARLY before a press on.
    lead_hit = next((o for o in onset_times if lead - EARLY <= o < lead + 0.9), None)
    if lead_hit is None:
        return None
    first = next((o for o in onset_times if o >= key_times[0] - EARLY), None)
    if first is None:
        return None
    rough = first - key_times[0]
    # Each press pairs with the onset within half an interval of where the lead's latency puts it.
    pairs = []
    for k in key_times:
        hit = next((o for o in onset_times if abs(o - (k + rough)) < interval / 2), None)
        if hit is not None:
            pairs.append((k, hit))
    lat = sorted(1000 * (o - k) for k, o in pairs)
    jit = sorted(abs(1000 * ((o2 - o1) - (k2 - k1))) for (k1, o1), (k2, o2) in zip(pairs, pairs[1:]))
    return t0, len(pairs), 1000 * (lead_hit - lead), lat, jit


def pct(v, p):
    return v[min(len(v) - 1, int(round(p * (len(v) - 1))))] if v else float("nan")


def report(rows, presses):
    print("%-13s %-14s %6s %8s   %-22s   %-17s %s" % ("case", "program", "heard", "lead ms", "latency ms med/p95/max",
                                                       "jitter ms med/p95", "T0 moved ms"))
    first_t0 = next((r[0] for _, _, r in rows if r), math.nan)
    for case, name, result in rows:
        if result is None:
            print("%-13s %-14s the lead or the first steady press was not heard" % (case, name))
            continue
        t0, heard, lead, lat, jit = result
        print("%-13s %-14s %3d/%-2d %8.1f   %6.1f %6.1f %6.1f     %5.1f %5.1f       %6.1f" %
              (case, name, heard, presses, lead, pct(lat, 0.5), pct(lat, 0.95), lat[-1] if lat else float("nan"),
               pct(jit, 0.5), pct(jit, 0.95), 1000 * (t0 - first_t0)), flush=True)


class OtherStream:
    """Another program's sound stream, open for a whole case: pacat at its
    default latency playing quiet noise (about -60 dBFS) into the sink."""

    def __init__(self, env):
        sink = env.get("YXYT_SINK", "yxyt_sink")
        rng = random.Random(1)
        self.noise = array.array("h", (rng.randint(-30, 30) for _ in range(2 * RATE))).tobytes()
        self.proc = subprocess.Popen(["pacat", "--playback", "-d", sink, *FORMAT[:-1]], stdin=subprocess.PIPE,
                                     env=env)
        self.thread = threading.Thread(target=self.feed, daemon=True)
        self.thread.start()

    def feed(self):
        try:
            while True:
                self.proc.stdin.write(self.noise)
        except (BrokenPipeError, ValueError, OSError):
            return

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)


def launch_yxyt(wine, prog, env, server):
    """Starts YXYT.exe as it is laid out in `prog`; the process and its window."""
    proc = subprocess.Popen([wine, str(prog / "YXYT.exe")], cwd=str(prog), env=dict(env, YXYT_SERVER=server.url),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return proc, focus(env, "^逸响乐台", "YXYT")


def start_yxyt(wine, prog, env, server, mode):
    """Starts YXYT.exe in `mode` (one of MODES or PAD_MODES); returns the
    process, its window and the library's trace line of the open."""
    click = "[节拍器]\r\n音量=0\r\n" if mode == "click" else ""
    (prog / "Config.ini").write_bytes(("[选项]\r\n独占输出=%d\r\n显示键盘=%d\r\n%s" %
                                       (mode == "exclusive", mode != "pads-hidden", click)).encode("gbk"))
    trace = prog / ("trace-%s.txt" % mode)
    trace.unlink(missing_ok=True)
    proc = subprocess.Popen([wine, str(prog / "YXYT.exe")], cwd=str(prog),
                            env=dict(env, YXYT_SERVER=server.url, YXYT_AUDIO_TRACE=winpath(trace)),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    end = time.monotonic() + 120
    init = None
    while init is None:
        if time.monotonic() > end:
            raise RuntimeError("YXYT.exe did not open its output")
        time.sleep(0.1)
        lines = trace.read_text("utf-8", "replace").splitlines() if trace.exists() else []
        init = next((l for l in lines if l.startswith("BASS_Init(")), None)
    if "exclusive refused" in init:
        probe(env, "answer", "--caption", "友情提醒:", "IDOK", "--timeout", "30000")
    hwnd = focus(env, "^逸响乐台", "YXYT")
    if mode == "click":
        subprocess.run(["xdotool", "key", "F8"], env=env, check=True)
        while not any(l.startswith("BASS_MetronomeStart(1)") for l in trace.read_text("utf-8", "replace").splitlines()):
            if time.monotonic() > end:
                raise RuntimeError("the metronome did not start")
            time.sleep(0.1)
    return proc, hwnd, init[init.find("["):]


def open_music(session, capture, proc, hwnd, prog, server, music, freq=MUSIC_HZ):
    """Opens `music` as the main track with Insert and the open-file dialog;
    returns once its tone (`freq` Hz) is in the recording."""
    app = App(session, Probe(session, BIN / "probe.exe"), ProgramDir(prog), server, prog / "no-trace", proc)
    app.hwnd = hwnd
    app.keys("Insert")
    music_util.choose_file(app, winpath(music))
    end = time.monotonic() + 30
    while True:
        n = capture.frames()
        if n > RATE and audio_util.tone_level(capture.mono(n - RATE // 5, n), freq) > 0.05:
            return
        if time.monotonic() > end:
            raise RuntimeError("the music was not heard")
        time.sleep(0.05)


CASES = ("idle", "music", "other-stream")
MODES = ("shared", "exclusive", "click")
# With "pads" among the arguments: shared output, the pads shown and hidden.
PAD_MODES = ("pads-shown", "pads-hidden")


def server_held(args):
    """From a `held=<ms>` among the arguments: the environment that has the
    sound client library in a Wine program ask the server to hold that much
    of each stream (none without it), and the words for the heading."""
    held = [a[len("held="):] for a in args if a.startswith("held=")]
    if not held:
        return {}, ""
    if not held[-1].isdigit() or int(held[-1]) == 0:
        sys.exit("held=<ms>: a whole number of milliseconds above 0")
    return {"PULSE_LATENCY_MSEC": held[-1]}, "; the server holds %s ms of Wine's streams" % held[-1]


def main():
    presses = int(sys.argv[1]) if len(sys.argv) > 1 else 40
    interval = (int(sys.argv[2]) if len(sys.argv) > 2 else 150) / 1000.0
    held, held_words = server_held(sys.argv[3:])
    chosen = [a[len("modes="):] for a in sys.argv[3:] if a.startswith("modes=")]
    modes = chosen[-1].split(",") if chosen else ["shared", "exclusive"]
    if any(m not in MODES for m in modes):
        sys.exit("modes=: some of %s" % ", ".join(MODES))
    if "pads" in sys.argv[3:]:
        modes = list(PAD_MODES)
    cases = [a for a in sys.argv[3:] if not a.startswith(("held=", "modes=")) and a != "pads"] or list(CASES)
    unknown = [c for c in cases if c not in CASES]
    if unknown:
        sys.exit("unknown case %s; cases: %s" % (", ".join(unknown), ", ".join(CASES)))
    require_built("YXYT.exe", "bass.dll", "baseline_pad.exe", "probe.exe")
    session = start_session(BUILD)[0]
    env = session.env
    wine_env = dict(env, **held)
    wine = str(ROOT / "tools" / "wine-run.sh")

    work = Path(tempfile.mkdtemp(prefix="yxyt-keybench-"))
    server = start_update_server(work)
    prog = work / "prog"
    kit = prog / "SND" / "click"
    kit.mkdir(parents=True)
    shutil.copy2(BIN / "YXYT.exe", prog)
    shutil.copy2(BIN / "bass.dll", prog)
    (prog / "ReadMe.txt").write_bytes(readme_bytes())
    sample = kit / "a.WAV"
    click(sample)
    audio_util.write_wav(prog / "SND" / "Finish.wav", [0.0] * 441)
    music = work / "music.wav"
    if "music" in cases:
        audio_util.write_wav(music, audio_util.tone(MUSIC_HZ, 30 + 3 * presses * interval, amplitude=0.15))

    keyboard = Keyboard(env["DISPLAY"])
    capture = Capture(env)
    capture.started.wait(10)
    procs = []
    other = None
    runs = []
    opened = {}
    try:
        print("key-to-sound, %d presses of A every %d ms, one sample (30 ms click), %s%s" %
              (presses, interval * 1000, BUILD.name, held_words), flush=True)
        for case in cases:
            band = BAND_HZ if case == "music" else None
            if case == "other-stream":
                other = OtherStream(env)
            # Shared last: with music it keeps playing behind the pad.
            for mode in sorted(modes, key=lambda m: m == "shared"):
                yxyt, hwnd, opened[mode] = start_yxyt(wine, prog, wine_env, server, mode)
                procs.append(yxyt)
                if case == "music":
                    open_music(session, capture, yxyt, hwnd, prog, server, music)
                    focus(env, "^逸响乐台", "YXYT")
                runs.append((case, "YXYT " + mode, band, play(capture, keyboard, presses, interval, band)))
                if case != "music" or mode != modes[0]:
                    yxyt.kill()
                    yxyt.wait(30)

            base = subprocess.Popen([wine, str(BIN / "baseline_pad.exe"), winpath(sample)], env=wine_env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(base)
            focus(env, "^BaselinePad$", "BaselinePad")
            runs.append((case, "PlaySound pad", band, play(capture, keyboard, presses, interval, band)))
            for p in (base, yxyt):
                if p.poll() is None:
                    p.kill()
                    p.wait(30)
            if other:
                other.close()
                other = None
        report([(case, name, figures(capture, *run, interval, band)) for case, name, band, run in runs], presses)
        for mode in modes:
            print("YXYT %s: BASS_Init %s" % (mode, opened[mode]))
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait(30)
        if other:
            other.close()
        capture.close()
        server.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
