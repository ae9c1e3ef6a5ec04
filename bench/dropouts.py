#!/usr/bin/env python3
"""Dropouts: YXYT.exe plays a steady tone as its main track while A is
pressed at a steady rhythm; every break in the tone heard at the null
sink counts. Once on an idle machine, once with both cores busy.

Usage: YXYT_BUILD=<cross build> bench/dropouts.py [seconds] [hits_per_second] [plain] [pad] [raised] [others] [underruns] [held=<ms>]
       (default 60 s, 8 hits a second; "plain": without the library's
       recording, so the hits take their own stream as they do whenever
       nothing is recorded; a recording puts them on the music's stream;
       "pad": each load also has the naive pad, baseline_pad.exe, play
       the same hit with PlaySound over YXYT.exe's music, which tells
       what a fresh stream per hit costs the sink; "raised": YXYT.exe and
       the Wine server at nice -10 too, see Busy; "others": instead of
       YXYT.exe, the same main track from other programs, see Others;
       "underruns": each stream's underruns at the sound server too;
       "held": the Wine programs have the sound server hold that much of
       each stream instead of the 30 ms Wine asks for; Wine then also
       lengthens its period, see docs/measurements.md)

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
- The library's own recording of its mix: F7 before and after each case.
  A break of the music in that file is a break in the mix itself; a break
  of ours in the sink that the file lacks is the output reaching the
  device late. The file's length against the time from F7 to F7 is the
  time the mixer did not render at all.
- Busy: two `python3 -c 'while 1: pass'` processes at nice 0, the same as
  YXYT.exe and Wine, for the run. The measuring chain is kept out of their
  way, so that what breaks under load is the program's path and not the
  measurement's: the PulseAudio server, parec and both pacat clients run
  under SCHED_FIFO (chrt, as root), this script's own threads (presses,
  reading parec, feeding the control tone) and the X server at nice -10.
  The control tone shows whether that held. The server's and the X
  server's scheduling is put back at the end.
- Windows runs an audio thread that asks for the "Pro Audio" task (as the
  library's mixer threads do) above programs of normal priority, and the
  sound engine's own threads too. Wine 8 gives a thread no priority of its
  own (its server never changes a thread's nice value), so under Wine the
  busy loops take turns with the mixer threads and with Wine's threads
  that hand their blocks to the sound server. "raised" stands in for
  what Windows does: every thread of YXYT.exe and the Wine server (which
  carries every wait and event of a Wine program) at nice -10, as the
  measuring chain. It tells the breaks that come from the load taking the
  program's turns from those that a raised program still has.
- The control tone shares the sink with our stream, and a stream that
  writes late makes the server rewind the sink, which the monitor shows
  as a break of every tone in it: a break shared with the control is not
  for that alone the chain's. So the run ends with the chain alone: YXYT.exe
  closed, the load still on, the control tone's breaks over half the time.
- Others: the main track played by `paplay` (a native client of the
  sound server, asking for 20 ms), then by the naive pad (a Wine program
  playing it with PlaySound), then by the library alone in a console
  program (bass_play_file.exe), each at nice 0 for `seconds` idle and
  `seconds` busy, without key presses, over the same chain. Their breaks
  tell what the sink does with a low-latency stream under that load, with
  a Wine program's stream, and with the library's stream without the
  drum pad around it.
- Printed per case: breaks of ours, those shared with the control tone,
  those only ours, those that begin within 10 ms of a beat of the hits'
  rhythm at the sink; breaks in the library's own recording; hits heard
  at the sink and in that file against keys pressed. A break clicks, and
  the click reads as an onset above 2 kHz too, so the hits at the sink
  are the onsets on the rhythm (within 10 ms of a beat; the beats' phase
  from the onsets around); the other onsets are printed apart.
- "underruns": also printed per case, how often each client stream ran
  dry at the sound server, from the session's server's own log, at debug
  level while the script runs (which costs the server some time, so it is
  not the default). Wine names a program's streams "audio stream #1",
  "#2", ... in the order it opens them: YXYT.exe's first is the music's,
  its second the hits'.
"""
import array
import collections
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import key_to_sound as k2s
from key_to_sound import BIN, BUILD, RATE, ROOT, audio_util, focus, open_music, press_at, readme_bytes, require_built
from conftest import server_log_level

MUSIC_HZ = 441
CONTROL_HZ = 882
HIT_HZ = 4410
BLOCK = 100
ONSET_MS = 10


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


class ServerLog:
    """The session's own sound server logs at debug level while the script
    runs, and a case reads from it how often each client stream ran dry
    there. Nothing when the session uses someone else's server."""

    def __init__(self, env, wanted):
        self.path = BUILD / "session" / "pulse.log"
        self.cli = BUILD / "session" / "xdg" / "pulse" / "cli"
        self.env = env
        self.on = wanted and session_pid("pulse") is not None and self.path.exists() and self.level(4)
        self.offset = 0
        self.mark()

    def level(self, n):
        return server_log_level(self.cli, self.env, n)

    def mark(self):
        if self.on:
            self.offset = self.path.stat().st_size

    def underruns(self):
        """'<stream> <count>, ...' for the streams that ran dry at the
        server since the mark (Wine names its streams "audio stream #n" in
        the order a process opens them)."""
        if not self.on:
            return ""
        with open(self.path, "rb") as log:
            log.seek(self.offset)
            text = log.read().decode("utf-8", "replace")
        counts = collections.Counter(re.findall(r"Implicit underrun of '([^']*)'", text))
        return "; server underruns: " + (", ".join("%s %d" % kv for kv in sorted(counts.items())) or "none")

    def close(self):
        if self.on:
            self.level(2)


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


class Priorities:
    """Raises the measuring chain above the load and puts the session's
    long-lived servers back as they were."""

    def __init__(self):
        self.restore = []

    def realtime(self, pid, what, keep=False):
        """SCHED_FIFO for every thread of `pid`."""
        if keep:
            policy = os.sched_getscheduler(pid)
            prio = os.sched_getparam(pid).sched_priority
            self.restore.append(["chrt", "-a", {os.SCHED_FIFO: "-f", os.SCHED_RR: "-r"}.get(policy, "-o"), "-p",
                                 str(prio), str(pid)])
        self.run(["chrt", "-a", "-f", "-p", "20", str(pid)], what)

    def nice(self, pid, what, keep=False):
        """Nice -10 for every thread of `pid`."""
        for task in os.listdir("/proc/%d/task" % pid):
            if keep:
                self.restore.append(["renice", "-n", str(os.getpriority(os.PRIO_PROCESS, int(task))), "-p", task])
            self.run(["renice", "-n", "-10", "-p", task], what)

    @staticmethod
    def run(command, what):
        if subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            print("could not raise %s (%s): the busy figures include the measuring chain's breaks" %
                  (what, " ".join(command[:2])), flush=True)

    def close(self):
        for command in reversed(self.restore):
            subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def at_nice_0():
    """A child's start: back at nice 0 from this script's raised priority."""
    os.setpriority(os.PRIO_PROCESS, 0, 0)


def unix_pid(comm):
    """The pid of the process whose command name is `comm`, or None."""
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and (Path("/proc") / entry / "comm").read_text().strip() == comm:
                return int(entry)
        except OSError:
            pass
    return None


def session_pid(name):
    """The pid of the session's own server `name` (xvfb, pulse), or None
    when the session uses someone else's."""
    try:
        return int((BUILD / "session" / (name + ".pid")).read_text())
    except (OSError, ValueError):
        return None


def mix_recording(prog, trace, keyboard, done, before):
    """Stops the library's recording with F7; the time of that press and
    the file, once the library has closed it, as mono floats."""
    pressed = keyboard.event(keyboard.keycode("F7"), True)
    time.sleep(0.03)
    keyboard.event(keyboard.keycode("F7"), False)
    end = time.monotonic() + 30
    while sum(l.startswith("BASS_MixRecordStop(") for l in trace.read_text("utf-8", "replace").splitlines()) < done:
        if time.monotonic() > end:
            raise RuntimeError("the recording did not stop")
        time.sleep(0.05)
    files = set((prog / "录音").glob("*.wav")) - before
    if len(files) != 1:
        raise RuntimeError("expected one new recording, found %s" % sorted(files))
    return pressed, audio_util.read_wav(files.pop())[1]


def measure(name, capture, keyboard, seconds, rate, prog, trace, done, record, server):
    code = keyboard.keycode("a")
    server.mark()
    before = set((prog / "录音").glob("*.wav"))
    first = capture.frames()
    start = time.monotonic() + 0.3
    if record:
        started = press_at(keyboard, keyboard.keycode("F7"), [start - 0.2])[0]
    press_at(keyboard, code, [start + i / rate for i in range(int(seconds * rate))])
    capture.wait_frames(capture.frames() + int(0.5 * RATE))
    if record:
        stopped, mixed = mix_recording(prog, trace, keyboard, done, before)
    recording = capture.mono(first, capture.frames())
    ours = audio_util.dropouts(recording, MUSIC_HZ, block=BLOCK)
    control = audio_util.dropouts(recording, CONTROL_HZ, block=BLOCK)
    shared = [b for b in ours if any(c[0] - 2 * BLOCK <= b[0] <= c[1] + 2 * BLOCK for c in control)]

    def hits(samples):
        found = audio_util.onsets(audio_util.highpass(samples, 2000), threshold=0.1, window=16, min_gap=0.03)
        return [at for at in found if at >= RATE // 100]  # the filter's start from rest is no hit
    heard = hits(recording)
    # A break clicks, and its click reads as an onset above 2 kHz too: the
    # hits are the onsets on the rhythm of the presses. Its phase is the
    # circular mean of the onsets within two seconds (the clicks are few;
    # frames that a break skips or repeats shift what follows it).
    period = RATE / rate

    def from_hit(at):
        """Milliseconds from the nearest beat of the rhythm to `at`."""
        turn = [2 * math.pi * (h % period) / period for h in heard if abs(h - at) <= 2 * RATE]
        phase = math.atan2(sum(map(math.sin, turn)), sum(map(math.cos, turn))) / (2 * math.pi) * period
        d = (at - phase) % period
        return 1000.0 * (d - period if d > period / 2 else d) / RATE

    on_beat = [h for h in heard if abs(from_hit(h)) <= ONSET_MS]
    clicks = len(heard) - len(on_beat)
    heard = on_beat
    at_onsets = sum(abs(from_hit(b[0])) <= ONSET_MS for b in ours)

    def print_ours():
        for s, e, kinds in ours:
            print("      ours at %7.3f s, %5.1f ms, %s, %+.1f ms from a beat%s" %
                  (s / RATE, 1000 * (e - s) / RATE, "+".join(kinds), from_hit(s),
                   " (control too)" if (s, e, kinds) in shared else ""))
    if not record:
        print("%-5s %5.1f s at the sink, not recorded by the library\n"
              "      breaks of ours %d: shared with the control %d, only ours %d, within %d ms of a beat of the hits %d; "
              "control breaks %d\n"
              "      hits heard %d/%d, other onsets %d" % (name, len(recording) / RATE, len(ours), len(shared),
                                                      len(ours) - len(shared), ONSET_MS, at_onsets, len(control),
                                                      len(heard), int(seconds * rate), clicks),
              flush=True)
        print_ours()
        return "breaks of ours %d (only ours %d, on a beat %d), hits heard %d/%d, other onsets %d%s" % (
            len(ours), len(ours) - len(shared), at_onsets, len(heard), int(seconds * rate), clicks,
            server.underruns())
    in_mix = audio_util.dropouts(mixed, MUSIC_HZ, block=BLOCK)
    print("%-5s %5.1f s at the sink; the library's recording %5.1f s, %+.3f s against F7 to F7\n"
          "      breaks of ours %d: shared with the control %d, only ours %d; in the library's recording %d; "
          "control breaks %d\n"
          "      hits heard %d/%d, in the library's recording %d" %
          (name, len(recording) / RATE, len(mixed) / RATE, len(mixed) / RATE - (stopped - started), len(ours), len(shared), len(ours) - len(shared),
           len(in_mix), len(control), len(heard), int(seconds * rate), len(hits(mixed))), flush=True)
    print_ours()
    for s, e, kinds in control:
        print("      control at %7.3f s, %5.1f ms, %s" % (s / RATE, 1000 * (e - s) / RATE, "+".join(kinds)))
    for s, e, kinds in in_mix:
        print("      library's recording at %7.3f s, %5.1f ms, %s" % (s / RATE, 1000 * (e - s) / RATE,
                                                                     "+".join(kinds)))
    return "breaks of ours %d (only ours %d), in the library's recording %d, hits heard %d/%d%s" % (
        len(ours), len(ours) - len(shared), len(in_mix), len(heard), int(seconds * rate), server.underruns())


def record_sink(capture, seconds, settle=0):
    """The next `seconds` at the sink, after `settle` seconds."""
    first = capture.frames() + int(settle * RATE)
    capture.wait_frames(first + int(seconds * RATE), timeout=settle + seconds + 30)
    return capture.mono(first, capture.frames())


def measure_chain(capture, seconds):
    """The control tone alone, nothing of ours in the sink: the measuring
    chain's own breaks."""
    control = audio_util.dropouts(record_sink(capture, seconds), CONTROL_HZ, block=BLOCK)
    print("chain alone, busy: %d control breaks in %.1f s" % (len(control), seconds), flush=True)
    for s, e, kinds in control:
        print("      control at %7.3f s, %5.1f ms, %s" % (s / RATE, 1000 * (e - s) / RATE, "+".join(kinds)))
    return "the chain alone under that load %d control breaks in %.0f s" % (len(control), seconds)


def measure_others(env, wine, wine_env, capture, keyboard, music, seconds, load, server):
    """The main track from other programs over the same chain and load."""
    sink = env.get("YXYT_SINK", "yxyt_sink")
    # Name, command, its environment, and the window whose "a" starts the
    # track (none: it plays from the start).
    players = (
        ("paplay", ["paplay", "-d", sink, "--latency-msec=20", str(music)], env, None),
        ("the PlaySound pad", [wine, str(BIN / "baseline_pad.exe"), k2s.winpath(music)], wine_env, "BaselinePad"),
        ("bass_play_file", [wine, str(BIN / "bass_play_file.exe"), k2s.winpath(music), "-1",
                            str(int(2 * seconds + 60))], wine_env, None),
    )
    lines = []
    for name, command, run_env, window in players:
        proc = subprocess.Popen(command, env=run_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=at_nice_0)
        if window:
            focus(env, "^%s$" % window, window)
            press_at(keyboard, keyboard.keycode("a"), [time.monotonic() + 0.1])
        try:
            for loaded in (False, True):
                load(loaded)
                server.mark()
                recording = record_sink(capture, seconds, settle=1)
                if max(map(abs, recording)) < 0.25:
                    raise RuntimeError("%s: the main track is not heard" % name)
                line = "%s, %s: main track breaks %d, control breaks %d in %.1f s%s" % (
                    name, "busy" if loaded else "idle", len(audio_util.dropouts(recording, MUSIC_HZ, block=BLOCK)),
                    len(audio_util.dropouts(recording, CONTROL_HZ, block=BLOCK)), len(recording) / RATE,
                    server.underruns())
                print(line, flush=True)
                lines.append(line)
        finally:
            load(False)
            proc.kill()
            proc.wait(30)
    return lines


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 8.0
    record = "plain" not in sys.argv[3:]
    with_pad = "pad" in sys.argv[3:]
    raised = "raised" in sys.argv[3:]
    others = "others" in sys.argv[3:]
    require_built("YXYT.exe", "bass.dll", "probe.exe", *(["baseline_pad.exe"] if with_pad or others else []),
                  *(["bass_play_file.exe"] if others else []))
    session = k2s.start_session(BUILD)[0]
    env = session.env
    held, held_words = k2s.server_held(sys.argv[3:])
    wine_env = dict(env, **held)
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

    trace = work / "trace.txt"
    keyboard = k2s.Keyboard(env["DISPLAY"])
    capture = k2s.Capture(env)
    capture.started.wait(10)
    control = ControlTone(env)
    server_log = ServerLog(env, "underruns" in sys.argv[3:])
    priorities = Priorities()
    busy = []
    yxyt = pad = None
    try:
        print("dropouts, %g s of %g hits a second over a %d Hz main track, %s%s%s%s%s" %
              (seconds, rate, MUSIC_HZ, BUILD.name, "" if record else ", not recorded",
               ", YXYT.exe and the Wine server raised" if raised else "",
               "; others: the main track from other programs instead" if others else "", held_words), flush=True)
        if not others:
            yxyt, hwnd = k2s.launch_yxyt(wine, prog, dict(wine_env, YXYT_AUDIO_TRACE=k2s.winpath(trace)), server)
            open_music(session, capture, yxyt, hwnd, prog, server, music, MUSIC_HZ)
            focus(env, "^逸响乐台", "YXYT")
        # Wine and YXYT.exe have started: what this script starts from now
        # on inherits its raised priority unless told otherwise.
        if session_pid("pulse"):
            priorities.realtime(session_pid("pulse"), "the PulseAudio server", keep=True)
        for proc, what in ((capture.proc, "parec"), (capture.keeper, "the silence's pacat"),
                           (control.proc, "the control tone's pacat")):
            priorities.realtime(proc.pid, what)
        if session_pid("xvfb"):
            priorities.nice(session_pid("xvfb"), "the X server", keep=True)
        priorities.nice(os.getpid(), "this script")
        if raised:
            for comm, what in (("YXYT.exe", "YXYT.exe"), ("wineserver", "the Wine server"),
                               ("wineserver64", "the Wine server")):
                pid = unix_pid(comm)
                if pid:
                    priorities.nice(pid, what, keep=comm != "YXYT.exe")

        def load(on):
            """Two busy loops at nice 0, as Wine and the program run."""
            while busy:
                p = busy.pop()
                p.kill()
                p.wait()
            if on:
                busy.extend(subprocess.Popen([sys.executable, "-c", "while 1: pass"],
                                             preexec_fn=at_nice_0)
                            for _ in range(2))

        if others:
            lines = measure_others(env, wine, wine_env, capture, keyboard, music, seconds, load, server_log)
            load(True)
            print("\n".join(lines + [measure_chain(capture, seconds / 2)]))
            return
        idle = measure("idle", capture, keyboard, seconds, rate, prog, trace, 1, record, server_log)
        load(True)
        loaded = measure("busy", capture, keyboard, seconds, rate, prog, trace, 2, record, server_log)
        if with_pad:
            # The pad last: once it has had the focus, Wine does not give it
            # back to YXYT.exe, whose music plays on behind the pad.
            pad = subprocess.Popen([wine, str(BIN / "baseline_pad.exe"), k2s.winpath(kit / "a.WAV")], env=wine_env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            focus(env, "^BaselinePad$", "BaselinePad")
            pad_busy = measure("pad", capture, keyboard, seconds, rate, prog, trace, 0, False, server_log)
            load(False)
            pad_idle = measure("pad", capture, keyboard, seconds, rate, prog, trace, 0, False, server_log)
            load(True)
            pad.kill()
            pad.wait(30)
        yxyt.kill()
        yxyt.wait(30)
        chain = measure_chain(capture, seconds / 2)
        print("idle: %s\nbusy: %s; %s" % (idle, loaded, chain))
        if with_pad:
            print("PlaySound pad over YXYT.exe's music: idle %s; busy %s" % (pad_idle, pad_busy))
    finally:
        for p in busy:
            p.kill()
            p.wait()
        priorities.close()
        server_log.close()
        if pad and pad.poll() is None:
            pad.kill()
            pad.wait(30)
        if yxyt and yxyt.poll() is None:
            yxyt.kill()
            yxyt.wait(30)
        control.close()
        capture.close()
        server.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
