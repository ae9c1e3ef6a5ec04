#!/usr/bin/env python3
"""Start-up time of YXYT.exe to its visible main window under Wine: with the
update server up, with no server configured, and with a server that refuses
connections, accepts and never answers (plain and HTTPS: a TLS handshake
that never completes), answers one byte a second, or answers every request
whole after 2.9 s.

Usage: YXYT_BUILD=<cross build> bench/startup_online.py [runs] [case ...]

Cases named after the runs are measured alone, beside "server up".

Prints the median time to the window per case and its ratio to "server
up"; with a failing server the program first shows the "server
unreachable" box, which is answered at once: the time it appeared is
printed too, and "own" leaves out the time the box was open.
"""
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import json
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from conftest import BIN, BUILD, readme_bytes, require_built, start_session, start_update_server  # noqa: E402
from online_util import LateServer, SilentServer, TrickleServer, refused_url  # noqa: E402

UNREACHABLE = "出错啦！"


class Probe:
    """probe.exe in serve mode: one command per line, answers as JSON lines."""

    def __init__(self, env):
        self.proc = subprocess.Popen([str(ROOT / "tools" / "wine-run.sh"), str(BIN / "probe.exe"), "serve"],
                                     env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def call(self, *args):
        line = " ".join('"%s"' % a if " " in a else a for a in args) + "\n"
        self.proc.stdin.write(line.encode("utf-8"))
        self.proc.stdin.flush()
        lines = []
        while True:
            out = self.proc.stdout.readline()
            if not out:
                raise RuntimeError("probe ended")
            out = out.decode("utf-8", "replace").strip()
            if not out.startswith("{"):
                continue
            obj = json.loads(out)
            if "done" in obj:
                return obj["done"], lines
            lines.append(obj)

    def close(self):
        self.proc.stdin.write(b"quit\n")
        self.proc.stdin.flush()
        self.proc.wait(30)


def make_progdir(base):
    d = base / "prog"
    d.mkdir()
    shutil.copy2(BIN / "YXYT.exe", d)
    shutil.copy2(BIN / "bass.dll", d)
    subprocess.run(["python3", str(ROOT / "tools" / "gen_kits.py"), str(d / "SND")], check=True,
                   stdout=subprocess.DEVNULL)
    (d / "ReadMe.txt").write_bytes(readme_bytes())
    return d


def one_start(env, probe, progdir, url, expect_box):
    t0 = time.monotonic()
    proc = subprocess.Popen([str(ROOT / "tools" / "wine-run.sh"), str(progdir / "YXYT.exe")], cwd=str(progdir),
                            env=dict(env, YXYT_SERVER=url), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    box_at = answered_at = None
    try:
        if expect_box:
            rc, _ = probe.call("wait-box", "--caption", UNREACHABLE, "--timeout", "120000")
            box_at = time.monotonic() - t0
            if rc != 0:
                raise RuntimeError("no unreachable-server box")
            probe.call("answer", "--caption", UNREACHABLE, "IDOK", "--timeout", "10000")
            answered_at = time.monotonic() - t0
        rc, wins = probe.call("wait-window", "--class", "YXYT", "--visible", "--timeout", "120000")
        window_at = time.monotonic() - t0
        if rc != 0 or not wins:
            raise RuntimeError("no main window")
        return box_at, answered_at, window_at, wins[0]["hwnd"]
    finally:
        proc.kill()
        proc.wait(30)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    require_built("YXYT.exe", "bass.dll", "probe.exe")
    env = start_session(BUILD)[0].env

    work = Path(tempfile.mkdtemp(prefix="yxyt-bench-"))
    up = start_update_server(work)
    silent = SilentServer()
    trickle = TrickleServer()
    late = LateServer(2.9)
    cases = [("server up", up.url, False), ("no server configured", "none", False),
             ("connection refused", refused_url(), True), ("never answers", silent.url, True),
             ("https, never answers", silent.https_url, True), ("one byte a second", trickle.url, True),
             ("answers after 2.9 s", late.url, True)]
    if len(sys.argv) > 2:
        cases = cases[:1] + [c for c in cases[1:] if c[0] in sys.argv[2:]]
    probe = Probe(env)
    probe.call("codepage")
    progdir = make_progdir(work)
    times = {c[0]: [] for c in cases}
    boxes = {c[0]: [] for c in cases}
    answers = {c[0]: [] for c in cases}
    try:
        one_start(env, probe, progdir, up.url, False)  # warm-up: Wine's caches
        for _ in range(runs):
            for name, url, box in cases:
                box_at, answered_at, window_at, hwnd = one_start(env, probe, progdir, url, box)
                probe.call("wait-gone", str(hwnd), "--timeout", "30000")
                times[name].append(window_at)
                if box_at is not None:
                    boxes[name].append(box_at)
                    answers[name].append(answered_at)
    finally:
        probe.close()
        up.close()
        silent.close()
        trickle.close()
        late.close()
        shutil.rmtree(work, ignore_errors=True)

    base = statistics.median(times[cases[0][0]])
    print("start-up to visible main window, median of %d runs (Wine, %s)" % (runs, BUILD.name))
    # "first seen": the box when there is one, else the window; "own" leaves
    # out the time the box was open (the probe pressing OK). Ratios are to
    # the window of "server up".
    print("%-22s %9s %7s %12s %7s %8s %9s %7s" % ("case", "window s", "ratio", "first seen s", "ratio",
                                                  "box s", "own s", "ratio"))
    for name, _, _ in cases:
        m = statistics.median(times[name])
        first = statistics.median(boxes[name]) if boxes[name] else m
        b = "%.2f" % statistics.median(boxes[name]) if boxes[name] else "-"
        own = statistics.median([w - (a - b) if b is not None else w for w, b, a in
                                 zip(times[name], boxes[name] or [None] * runs, answers[name] or [0] * runs)])
        print("%-22s %9.2f %7.2f %12.2f %7.2f %8s %9.2f %7.2f" % (name, m, m / base, first, first / base, b,
                                                                  own, own / base))
    print("all runs:", {k: ["%.2f" % t for t in v] for k, v in times.items()})

if __name__ == "__main__":
    main()
