#!/usr/bin/env python3
"""Long recording: YXYT.exe records its own output for ten minutes while
its main track plays and keys are hit at a steady rhythm from two kits;
then the file is checked whole and the figures printed.

Usage: YXYT_BUILD=<cross build> bench/record_long.py [seconds] [hits_per_second]
       (default 600 s, 4 hits a second)

Method.
- The main track is a 147 Hz sine (300 samples a period) made by sox,
  longer than the run; the kits are two folders of 60 ms tones at
  multiples of 147 Hz, so that in every 300-sample block the 147 Hz level
  and phase read the music alone (audio_util.dropouts): a frame lost or
  doubled in the file shows as a break there.
- F7 starts and stops the recording; keys (and End every 60 s, switching
  kits) go through XTest at absolute deadlines, as in key_to_sound.py.
- Figures: the library's own count of frames and overruns (its trace line
  of BASS_MixRecordStop), the file's header against its size, its length
  against the time between the two presses of F7, what sox reads of it,
  breaks of the music inside it, and hits found in it (onsets above 1 kHz)
  against keys pressed plus kit changes (each plays the confirmation).
- The null sink's monitor is recorded over the same time (parec, as in
  key_to_sound.py, with a stream of silence keeping the sink in real
  time): the same breaks and hits are counted in what the sink received.
- The file and the sink's recording are read in 10 s pieces, so their
  100 MB never sit in memory as floats at once.
"""
import array
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave
from pathlib import Path

import key_to_sound as k2s
from key_to_sound import BIN, BUILD, RATE, ROOT, audio_util, readme_bytes, require_built

MUSIC_HZ = 147
BAND_HZ = 1000
KITS = {"kit1": dict(zip("asdfgqwe", range(10, 18))), "kit2": dict(zip("rtyuiopz", range(20, 28)))}
SWITCH_EVERY = 60.0


def lay_out(work):
    prog = work / "prog"
    for name, keys in KITS.items():
        kit = prog / "SND" / name
        kit.mkdir(parents=True)
        for key, n in keys.items():
            audio_util.write_tone(kit / (key + ".WAV"), MUSIC_HZ * n, 0.06)
    audio_util.write_tone(prog / "SND" / "Finish.wav", MUSIC_HZ * 32, 0.05)
    shutil.copy2(BIN / "YXYT.exe", prog)
    shutil.copy2(BIN / "bass.dll", prog)
    (prog / "ReadMe.txt").write_bytes(readme_bytes())
    return prog


def play(keyboard, capture, seconds, rate):
    """F7, the rhythm with a kit change every SWITCH_EVERY seconds, F7; the
    times of the two F7 presses, the sink's frames at them and the counts
    of keys and kit changes."""
    kits = [list(keys) for keys in KITS.values()]
    f7 = keyboard.keycode("F7")
    start = time.monotonic() + 0.5
    started = k2s.press_at(keyboard, f7, [start])[0]
    heard_from = capture.frames()
    keys = switches = 0
    step = 1.0 / rate
    t = start + 0.5
    next_switch = start + SWITCH_EVERY
    while t < start + seconds - 0.5:
        if t >= next_switch:
            k2s.press_at(keyboard, keyboard.keycode("End"), [t])
            switches += 1
            next_switch += SWITCH_EVERY
            t += 0.5  # the kit loads before the next key
            continue
        letters = kits[switches % len(kits)]
        k2s.press_at(keyboard, keyboard.keycode(letters[keys % len(letters)]), [t])
        keys += 1
        t += step
    stopped = k2s.press_at(keyboard, f7, [start + seconds])[0]
    return started, stopped, (heard_from, capture.frames()), keys, switches


def pieces(read, seconds=10):
    """Mono floats from read(frames) (empty at the end), `seconds` at a
    time, each piece with the 300 samples (one block) before it, so that a
    break or an onset at a piece's start is seen against what came before;
    only what starts after that block counts for the piece."""
    tail = []
    while True:
        mono = read(int(seconds * RATE))
        if not mono:
            return
        yield tail, mono
        tail = mono[-300:]


def wav_reader(w):
    def read(frames):
        pcm = array.array("h")
        pcm.frombytes(w.readframes(frames))
        channels = w.getnchannels()
        return [sum(pcm[i:i + channels]) / (32768.0 * channels) for i in range(0, len(pcm), channels)]
    return read


def capture_reader(capture, first, end):
    position = [first]

    def read(frames):
        a, b = position[0], min(end, position[0] + frames)
        position[0] = b
        return capture.mono(a, b) if b > a else []
    return read


def count(read):
    """Breaks of the music and hits in what read() gives."""
    breaks = hits = 0
    settle = RATE // 100  # the high-pass filter's start from rest is no hit
    first = True
    for tail, piece in pieces(read):
        both = tail + piece
        breaks += sum(1 for start, _, _ in audio_util.dropouts(both, MUSIC_HZ) if start >= len(tail))
        hits += sum(1 for at in audio_util.onsets(audio_util.highpass(both, BAND_HZ))
                    if at >= len(tail) and (not first or at >= settle))
        first = False
    return breaks, hits


def instruments(session, work):
    """The trace file, the program's environment with it, the Wine runner,
    the keyboard and the sink's capture, started."""
    trace = work / "trace.txt"
    env = dict(session.env, YXYT_AUDIO_TRACE=k2s.winpath(trace))
    keyboard = k2s.Keyboard(env["DISPLAY"])
    capture = k2s.Capture(env)
    capture.started.wait(10)
    return trace, env, str(ROOT / "tools" / "wine-run.sh"), keyboard, capture


def stop_line(trace, timeout=60):
    """The library's trace line of BASS_MixRecordStop, once it is there."""
    end = time.monotonic() + timeout
    while True:
        line = next((l for l in (trace.read_text("utf-8", "replace").splitlines() if trace.exists() else [])
                     if l.startswith("BASS_MixRecordStop(")), None)
        if line:
            return line
        if time.monotonic() > end:
            raise RuntimeError("no BASS_MixRecordStop in the trace")
        time.sleep(0.1)


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 600.0
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 4.0
    require_built("YXYT.exe", "bass.dll", "probe.exe")
    session = k2s.start_session(BUILD)[0]
    work = Path(tempfile.mkdtemp(prefix="yxyt-recordbench-"))
    server = k2s.start_update_server(work)
    prog = lay_out(work)
    music = work / "music.wav"
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", str(music), "synth", str(seconds + 60),
                    "sine", str(MUSIC_HZ), "vol", "0.3"], check=True)
    trace, env, wine, keyboard, capture = instruments(session, work)
    proc = None
    try:
        proc, hwnd = k2s.launch_yxyt(wine, prog, env, server)
        k2s.open_music(session, capture, proc, hwnd, prog, server, music)
        k2s.focus(env, "^逸响乐台", "YXYT")
        print("recording %.0f s with %.1f hits a second over a %d Hz main track, %s" %
              (seconds, rate, MUSIC_HZ, BUILD.name), flush=True)
        started, stopped, heard, keys, switches = play(keyboard, capture, seconds, rate)
        line = stop_line(trace)
    finally:
        capture.close()
        if proc:
            proc.kill()
            proc.wait(30)
        server.close()

    files = sorted((prog / "录音").glob("*.wav"))
    if len(files) != 1:
        sys.exit("expected one recording, found %s" % files)
    path = files[0]
    counts = re.search(r"stopped (\d+), (\d+) frames, (\d+) overruns", line)
    layout = audio_util.wav_layout(path)
    frames = layout["data"] // (2 * layout["channels"])
    sox = subprocess.run(["soxi", "-s", str(path)], capture_output=True, text=True).stdout.strip()
    with wave.open(str(path), "rb") as w:
        breaks, hits = count(wav_reader(w))
    sink_breaks, sink_hits = count(capture_reader(capture, *heard))

    whole = layout["riff"] == layout["file"] - 8 and layout["data_at"] + layout["data"] == layout["file"]
    print("library: stopped %s, %s frames, %s overruns" % counts.groups())
    print("file: %s, %d bytes, header %s, %d Hz %d ch %d bit, %d frames = %.3f s" %
          (path.name, layout["file"], "whole" if whole else "WRONG", layout["rate"], layout["channels"],
           layout["bits"], frames, frames / layout["rate"]))
    print("sox reads %s frames" % sox)
    print("F7 to F7: %.3f s; the file %+.1f ms against it; the sink received %.3f s in that time" %
          (stopped - started, (frames / layout["rate"] - (stopped - started)) * 1000, (heard[1] - heard[0]) / RATE))
    print("music breaks: file %d, sink %d" % (breaks, sink_breaks))
    print("hits: file %d, sink %d, for %d keys and %d kit changes" % (hits, sink_hits, keys, switches))


if __name__ == "__main__":
    main()
