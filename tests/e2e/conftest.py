"""Fixtures for end-to-end tests of YXYT.exe under Wine.

build       the cross build (YXYT_BUILD, default <repo>/build/test) with
            bin/YXYT.exe, bin/bass.dll and bin/probe.exe
session     Xvfb, the PulseAudio null sink and the Wine prefix of that build
probe       runs bin/probe.exe (tests/probe/probe.cpp) and parses its JSON lines
server      a local HTTP server playing the update server; records every request
progdir     a fresh program directory: YXYT.exe, bass.dll, SND with demo kits, ReadMe.txt
app         starts YXYT.exe and drives it; every started copy is killed at teardown
recorder    records the null sink's monitor with parec

Everything waits on events (a window appears, a box closes, a trace line
arrives, a file grows) up to a deadline; nothing sleeps for a fixed time.
"""
import http.server
import json
import os
import queue
import re
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import audio_util

ROOT = Path(__file__).resolve().parents[2]
TOOLS = ROOT / "tools"
BUILD = Path(os.environ.get("YXYT_BUILD") or ROOT / "build" / "test").resolve()
BIN = BUILD / "bin"

MAIN_CLASS = "YXYT"
PRODUCT = "逸响乐台"
LABEL_ID = 501
WM_COMMAND = 0x0111
WM_CLOSE = 0x0010
COMMAND_BASE = 102422  # command table entry k is COMMAND_BASE + k
# The time the library gives a play call's line, which the tests of what was
# called leave out.
PLAY_TIME = re.compile(r"^(BASS_ChannelPlay\(.*) \[at [\d.]+ ms\]$")

# The update server's files when the repository's update-server/ folder
# lacks them: a current version and no notices, so start-up shows no box.
DEFAULT_SERVER_FILES = {
    "/YXProgect/yxyt/ver.txt": "1.1.0.0",
    "/YXProgect/yxyt/ChangeLog.txt": "1.1.0.0：首个版本。",
    "/YXProgect/yxyt/jy.txt": "0",
    "/YXProgect/yxyt/jyts.txt": "本程序已停止服务。",
    "/YXProgect/yxyt/gg.txt": "欢迎使用",
    "/YXProgect/yxyt/hy.txt": "欢迎使用逸响乐台！",
    "/YXProgect/yxyt/gy.txt": "逸响乐台 1.1.0.0",
    "/YXProgect/yxyt/upindex.txt": "http://127.0.0.1/",
    "/YXProgect/EN.txt": "close",
}


def deadline_loop(timeout, what):
    """Yields until the caller breaks out; fails the test at the deadline.

    Used only where no event can be waited on (another process's file); the
    interval is short so the deadline, not the interval, bounds the wait."""
    end = time.monotonic() + timeout
    while True:
        yield
        if time.monotonic() >= end:
            pytest.fail("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(0.02)


def winpath(path):
    """A Linux path as Wine's Z: drive path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def read_session_env(build):
    env = {}
    f = build / "session.env"
    if f.exists():
        for line in f.read_text().splitlines():
            m = re.match(r"\s*export\s+(\w+)=(.*)$", line)
            if m:
                env[m.group(1)] = m.group(2).strip().strip("'\"")
    return env


# ---------------------------------------------------------------- build, session

@pytest.fixture(scope="session")
def build():
    missing = [n for n in ("YXYT.exe", "bass.dll", "probe.exe") if not (BIN / n).exists()]
    if missing:
        pytest.fail("not built in %s: %s (run tools/test.sh or the cross build)" % (BIN, ", ".join(missing)))
    return BUILD


class Session:
    def __init__(self, build, env):
        self.build = build
        self.vars = env
        self.env = dict(os.environ)
        self.env.update(env)
        self.env["YXYT_BUILD"] = str(build)
        self.env["LANG"] = "zh_CN.UTF-8"
        self.env.pop("LC_ALL", None)

    def wine(self, *args, **kw):
        return subprocess.run([str(TOOLS / "wine-run.sh"), *map(str, args)], env=self.env, **kw)


def start_session(build=BUILD):
    """Starts the Wine session of `build`, or joins the one running; the
    Session and whether this call started it."""
    build.mkdir(parents=True, exist_ok=True)
    started_here = not (build / "session.env").exists()
    subprocess.run([str(TOOLS / "session.sh"), "start"], env=dict(os.environ, YXYT_BUILD=str(build)), check=True,
                   stdout=subprocess.DEVNULL)
    return Session(build, read_session_env(build)), started_here


def require_built(*names):
    """For the benchmarks: ends the script naming the first program of the
    build that is missing."""
    for name in names:
        if not (BIN / name).exists():
            sys.exit("not built: %s" % (BIN / name))


@pytest.fixture(scope="session")
def session():
    s, started_here = start_session()
    yield s
    # A session started by someone else (tools/test.sh) is theirs to stop.
    if started_here:
        subprocess.run([str(TOOLS / "session.sh"), "stop"], env=dict(os.environ, YXYT_BUILD=str(BUILD)))


# ---------------------------------------------------------------- probe

class ProbeError(AssertionError):
    pass


class Probe:
    """Runs probe commands in one long-lived `probe.exe serve`, which spares
    every query Wine's process start (seconds on a loaded machine). A
    command that outlives its time-out takes the process with it; the next
    command starts a new one."""

    def __init__(self, session, exe):
        self.session = session
        self.exe = exe
        self.proc = None
        self.answers = None
        self.lock = threading.Lock()

    def _start(self):
        self.proc = subprocess.Popen([str(TOOLS / "wine-run.sh"), str(self.exe), "serve"], env=self.session.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.answers = queue.Queue()
        threading.Thread(target=self._read, args=(self.proc.stdout, self.answers), daemon=True).start()

    @staticmethod
    def _read(stream, answers):
        for line in stream:
            answers.put(line)
        answers.put(None)

    def close(self):
        if self.proc and self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    @staticmethod
    def _quote(arg):
        arg = str(arg)
        return '"%s"' % arg if not arg or any(c in arg for c in " \t") else arg

    def run(self, *args, check=True, timeout=60):
        """All JSON lines of one probe command, and its exit code."""
        with self.lock:
            if self.proc is None or self.proc.poll() is not None:
                self._start()
            command = " ".join(self._quote(a) for a in args)
            self.proc.stdin.write((command + "\n").encode("utf-8"))
            self.proc.stdin.flush()
            end = time.monotonic() + timeout
            lines, rc = [], None
            while rc is None:
                try:
                    line = self.answers.get(timeout=max(0.0, end - time.monotonic()))
                except queue.Empty:
                    self.proc.kill()
                    self.proc.wait()
                    raise ProbeError("probe %s did not answer within %s s" % (command, timeout))
                if line is None:
                    raise ProbeError("probe ended during %s (exit %s)" % (command, self.proc.wait()))
                text = line.decode("utf-8", "replace").strip()
                if not text.startswith("{"):
                    continue
                obj = json.loads(text)
                if list(obj) == ["done"]:
                    rc = obj["done"]
                else:
                    lines.append(obj)
        if check and rc != 0:
            raise ProbeError("probe %s failed (%d): %s" % (command, rc, lines))
        return lines, rc

    def lines(self, *args, **kw):
        return self.run(*args, **kw)[0]

    def one(self, *args, **kw):
        lines = self.lines(*args, **kw)
        return lines[0] if lines else None

    def windows(self, cls=None):
        return self.lines("windows", *(["--class", cls] if cls else []))

    def children(self, hwnd):
        return self.lines("children", hwnd)

    def codepage(self):
        return self.one("codepage")["acp"]

    def screen(self):
        s = self.one("screen")
        return s["w"], s["h"]


@pytest.fixture(scope="session")
def probe(session, build):
    p = Probe(session, BIN / "probe.exe")
    yield p
    p.close()


# ---------------------------------------------------------------- HTTP server

class Request:
    def __init__(self, method, path, version, headers, body):
        self.method = method
        self.path = path
        self.version = version
        self.headers = headers  # (name, value) pairs in the order received
        self.body = body

    def header(self, name):
        return next((v for k, v in self.headers if k.lower() == name.lower()), None)

    def __repr__(self):
        return "%s %s" % (self.method, self.path)


class UpdateServer:
    """Serves `root` over HTTP on 127.0.0.1 and keeps every request.

    Texts given to put() are encoded as GBK, as the program reads them.
    handlers[path] = fn(handler) takes over one path entirely (hang, error,
    slow body ...)."""

    def __init__(self, root):
        self.root = Path(root)
        self.requests = []
        self.handlers = {}
        self.changed = threading.Condition()
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *a, **kw):
                super().__init__(*a, directory=str(server.root), **kw)

            def log_message(self, *a):
                pass

            def record(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                path = self.path.split("?", 1)[0]
                with server.changed:
                    server.requests.append(Request(self.command, self.path, self.request_version,
                                                   list(self.headers.items()), body))
                    server.changed.notify_all()
                custom = server.handlers.get(path)
                if custom:
                    custom(self)
                    return True
                return False

            def do_GET(self):
                if not self.record():
                    super().do_GET()

            def do_HEAD(self):
                if not self.record():
                    super().do_HEAD()

            def do_POST(self):
                if not self.record():
                    super().do_GET()

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True

        self.httpd = Server(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        self.url = "http://127.0.0.1:%d" % self.port
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def put(self, path, content, encoding="gbk"):
        f = self.root / path.lstrip("/")
        f.parent.mkdir(parents=True, exist_ok=True)
        f.write_bytes(content if isinstance(content, bytes) else content.encode(encoding))

    def remove(self, path):
        (self.root / path.lstrip("/")).unlink(missing_ok=True)

    def paths(self):
        return [r.path for r in self.requests]

    def requests_for(self, path):
        return [r for r in self.requests if r.path == path]

    def wait_request(self, path, count=1, timeout=20):
        """Waits until `path` has been requested `count` times in all."""
        with self.changed:
            if not self.changed.wait_for(lambda: len(self.requests_for(path)) >= count, timeout):
                pytest.fail("no request #%d for %s within %s s; got %s" % (count, path, timeout, self.paths()))
        return self.requests_for(path)[count - 1]

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def fill_default_server(root):
    shipped = ROOT / "update-server"
    if shipped.is_dir():
        shutil.copytree(shipped, root, dirs_exist_ok=True)
    for path, text in DEFAULT_SERVER_FILES.items():
        f = root / path.lstrip("/")
        if not f.exists():
            f.parent.mkdir(parents=True, exist_ok=True)
            f.write_bytes(text.encode("gbk"))


def start_update_server(base):
    """The shipped update files and the built-in defaults, served from base/www."""
    root = base / "www"
    root.mkdir()
    fill_default_server(root)
    s = UpdateServer(root)
    s.thread.start()
    return s


@pytest.fixture
def server(tmp_path):
    s = start_update_server(tmp_path)
    yield s
    s.close()


# ---------------------------------------------------------------- program directory

def write_tiny_kits(snd):
    """Two kits of short distinct tones and Finish.wav, for when the demo
    kit generator is missing."""
    for k, kit in enumerate(("kit1", "kit2")):
        d = snd / kit
        d.mkdir(parents=True, exist_ok=True)
        for i, letter in enumerate("abcdefghijklmnopqrstuvwxyz"):
            audio_util.write_tone(d / ("%s.WAV" % letter), 200 + 40 * i + 7 * k, 0.15)
    audio_util.write_tone(snd / "Finish.wav", 1760, 0.1)


@pytest.fixture(scope="session")
def demo_snd(tmp_path_factory):
    """The demo kits, generated once per test run."""
    snd = tmp_path_factory.mktemp("demo") / "SND"
    gen = TOOLS / "gen_kits.py"
    if gen.exists():
        subprocess.run(["python3", str(gen), str(snd)], check=True, stdout=subprocess.DEVNULL)
    else:
        write_tiny_kits(snd)
    return snd


def readme_bytes():
    src = ROOT / "assets" / "ReadMe.txt"
    text = src.read_text(encoding="utf-8") if src.exists() else "逸响乐台 使用说明\n"
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")


class ProgramDir:
    """A program directory; `path` is on the Linux side, `win` the same for Wine."""

    def __init__(self, path):
        self.path = Path(path)
        self.win = winpath(path)
        self.snd = self.path / "SND"
        self.exe = self.path / "YXYT.exe"
        self.config = self.path / "Config.ini"

    def kit(self, name, tones=None, letters="abcdefghijklmnopqrstuvwxyz"):
        """Lays out a kit of tones: tones maps letter -> frequency (default a
        distinct frequency per letter). Returns the kit folder."""
        d = self.snd / name
        d.mkdir(parents=True, exist_ok=True)
        for i, letter in enumerate(letters):
            freq = (tones or {}).get(letter, 220 + 30 * i)
            audio_util.write_tone(d / ("%s.WAV" % letter), freq, 0.2)
        return d

    def write_config(self, sections):
        """Writes Config.ini (GBK, CRLF) from {section: {key: value}}."""
        lines = []
        for section, keys in sections.items():
            lines.append("[%s]" % section)
            lines += ["%s=%s" % (k, v) for k, v in keys.items()]
        self.config.write_bytes(("\r\n".join(lines) + "\r\n").encode("gbk"))

    def read_config(self):
        return self.config.read_bytes().decode("gbk") if self.config.exists() else ""


@pytest.fixture
def make_progdir(build, demo_snd, tmp_path):
    """make_progdir(name=None, kits=True, bass=True, readme=True) -> ProgramDir;
    without a name the folders are prog, prog2, prog3 ..."""
    def make(name=None, kits=True, bass=True, readme=True):
        n = 1
        while name is None:
            candidate = "prog" if n == 1 else "prog%d" % n
            name = None if (tmp_path / candidate).exists() else candidate
            n += 1
        d = tmp_path / name
        d.mkdir(parents=True)
        shutil.copy2(BIN / "YXYT.exe", d / "YXYT.exe")
        if bass:
            shutil.copy2(BIN / "bass.dll", d / "bass.dll")
        if kits:
            shutil.copytree(demo_snd, d / "SND")
        if readme:
            (d / "ReadMe.txt").write_bytes(readme_bytes())
        return ProgramDir(d)
    return make


@pytest.fixture
def progdir(make_progdir):
    return make_progdir()


# ---------------------------------------------------------------- the program

class App:
    def __init__(self, session, probe, progdir, server, trace, proc):
        self.session = session
        self.probe = probe
        self.progdir = progdir
        self.server = server
        self.trace = trace
        self.proc = proc
        self.hwnd = None

    # -- process
    def running(self):
        return self.proc.poll() is None

    def exit_code(self):
        return self.proc.poll()

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            pytest.fail("YXYT.exe still running after %s s" % timeout)

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait(10)

    # -- windows
    def wait_window(self, timeout=30, exclude=()):
        """Waits for a main window (class YXYT) that is not in `exclude`;
        fails early when the process ends first."""
        args = ["wait-window", "--class", MAIN_CLASS, "--visible", "--timeout", "1000"]
        if exclude:
            args += ["--exclude", ",".join(str(h) for h in exclude)]
        end = time.monotonic() + timeout
        while True:
            lines, rc = self.probe.run(*args, check=False)
            if rc == 0 and lines:
                self.hwnd = lines[0]["hwnd"]
                return lines[0]
            if not self.running():
                boxes = self.probe.lines("windows", "--class", "#32770")
                pytest.fail("YXYT.exe ended (exit code %s) without a main window; boxes: %s" % (self.exit_code(), boxes))
            if time.monotonic() >= end:
                pytest.fail("no main window within %s s; boxes: %s" % (timeout, self.probe.lines("windows", "--class", "#32770")))

    def window(self):
        return next((w for w in self.probe.windows(MAIN_CLASS) if w["hwnd"] == self.hwnd), None)

    def title(self):
        return self.probe.one("text", self.hwnd)["text"]

    def label(self):
        return next((c for c in self.probe.children(self.hwnd) if c["id"] == LABEL_ID), None)

    def wait_label(self, timeout=20):
        """Waits for the label, which start-up creates after the window is shown."""
        return self.wait_for(self.label, "the label (Static, id %d)" % LABEL_ID, timeout)

    def label_text(self):
        return self.wait_label()["text"]

    def wait_ready(self, timeout=30):
        """Waits until start-up has handed over to the message loop: the
        label, the kit and its confirmation sound loaded (start-up's last
        step that pumps messages), then a message sent to the window, which
        only the message loop answers from there on. A command or a key
        posted before that reaches no dispatcher."""
        self.wait_label(timeout)
        self.wait_trace(r"BASS_StreamCreateFile\(0, \".*Finish\.wav\"", timeout=timeout)
        self.probe.one("send", self.hwnd, "WM_NULL", 0, 0)

    def wait_for(self, condition, what, timeout=20):
        """Polls a condition on the program's windows up to a deadline; returns its value."""
        for _ in deadline_loop(timeout, what):
            value = condition()
            if value:
                return value
            if not self.running():
                pytest.fail("YXYT.exe ended (exit code %s) while waiting for %s" % (self.exit_code(), what))

    def boxes(self):
        return [b for b in self.probe.windows("#32770") if b["visible"]]

    def wait_box(self, caption=None, timeout=20):
        args = ["wait-box", "--timeout", str(int(timeout * 1000))]
        if caption is not None:
            args += ["--caption", caption]
        lines, rc = self.probe.run(*args, check=False, timeout=timeout + 30)
        if rc != 0:
            pytest.fail("no message box %r within %s s; windows: %s" % (caption, timeout, self.probe.windows()))
        return lines[0]

    def answer(self, button, caption=None, box=None, timeout=10):
        """Presses `button` (IDOK, IDCANCEL, IDYES, IDNO or a number) in the box
        given by handle or caption; waits until the box has closed."""
        target = [str(box["hwnd"] if isinstance(box, dict) else box)] if box is not None else ["--caption", caption]
        return self.probe.one("answer", *target, button, "--timeout", str(int(timeout * 1000)))

    def post(self, msg, wparam=0, lparam=0):
        return self.probe.one("post", self.hwnd, msg, wparam, lparam)

    def send(self, msg, wparam=0, lparam=0):
        """SendMessageTimeout (5 s): returns once the window procedure has handled it."""
        return self.probe.one("send", self.hwnd, msg, wparam, lparam, check=False)

    def post_command(self, command_id):
        """WM_COMMAND with the full 32-bit id: ids above 65535 do not fit LOWORD."""
        return self.post(WM_COMMAND, command_id, 0)

    def close(self):
        return self.post(WM_CLOSE)

    # -- keyboard
    def focus(self):
        """Gives the main window the X focus, which makes it Windows' foreground window."""
        rect = self.window()
        assert rect, "main window gone"
        env = dict(self.session.env, LANG="C.UTF-8")
        out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + re.escape(PRODUCT)],
                             env=env, capture_output=True, text=True, timeout=30).stdout.split()
        xid = None
        for cand in out:
            geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", cand], env=env,
                                 capture_output=True, text=True).stdout
            g = dict(l.split("=", 1) for l in geo.split())
            if (int(g["WIDTH"]), int(g["HEIGHT"])) == (rect["client_w"], rect["client_h"]) or len(out) == 1:
                xid = cand
                break
        assert xid, "no X window for the main window among %s" % out
        subprocess.run(["xdotool", "windowfocus", "--sync", xid], env=env, check=True, timeout=30)
        for _ in deadline_loop(10, "the main window to become the foreground window"):
            if self.probe.one("foreground")["hwnd"] == self.hwnd:
                return xid

    def keys(self, *keys, delay=50, focus=True):
        """Types X key names (a, Home, Next, KP_Add ...) with xdotool."""
        if focus:
            self.focus()
        subprocess.run(["xdotool", "key", "--delay", str(delay), *keys], env=self.session.env, check=True, timeout=60)

    # -- audio library trace
    def trace_lines(self, timed=False):
        """The trace's lines; a play call's time (" [at 123.456 ms]") is left
        out unless `timed`."""
        if not self.trace.exists():
            return []
        lines = self.trace.read_bytes().decode("utf-8", "replace").splitlines()
        return lines if timed else [PLAY_TIME.sub(r"\1", l) for l in lines]

    def wait_trace(self, pattern, count=1, timeout=20, after=0):
        """Waits until `count` trace lines from line index `after` on match the
        regular expression; returns the matching lines."""
        rx = re.compile(pattern)
        for _ in deadline_loop(timeout, "trace line /%s/ x%d" % (pattern, count)):
            hits = [l for l in self.trace_lines()[after:] if rx.search(l)]
            if len(hits) >= count:
                return hits


@pytest.fixture
def app(session, probe, server, progdir, tmp_path):
    """launch(directory=None, env=None, wait=True) starts YXYT.exe in a
    program directory (default: progdir) and, with wait, returns once its
    main window is visible. session/probe select another display."""
    started = []

    def launch(directory=None, env=None, wait=True, session=session, probe=probe):
        directory = directory or progdir
        trace = tmp_path / ("bass-trace-%d.txt" % len(started))
        e = dict(session.env, YXYT_SERVER=server.url, YXYT_AUDIO_TRACE=winpath(trace))
        e.update(env or {})
        # Main windows that exist already (another copy) are not this one's.
        existing = [w["hwnd"] for w in probe.windows(MAIN_CLASS)]
        proc = subprocess.Popen([str(TOOLS / "wine-run.sh"), str(directory.exe)], cwd=str(directory.path), env=e,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        a = App(session, probe, directory, server, trace, proc)
        started.append(a)
        if wait:
            a.wait_window(exclude=existing)
        return a

    yield launch
    for a in started:
        a.kill()


# ---------------------------------------------------------------- recording

class Recorder:
    """Records the null sink's monitor with parec.

    The null sink renders only while something plays into it: an idle sink
    adds nothing to the recording, so gaps between sounds shrink. With
    keep_running a stream of silence keeps it rendering in real time; but a
    running sink rewinds when a new stream joins, which can drop or repeat a
    few milliseconds at that moment, so whole-sound comparisons record
    without it."""

    FORMAT = ["--raw", "--format=s16le", "--rate=44100", "--channels=2"]

    def __init__(self, session, path):
        self.session = session
        self.path = path
        self.proc = None
        self.silence = None
        self.clock = []  # (monotonic time, samples recorded by then)
        self.clock_stop = threading.Event()

    def start(self, keep_running=False):
        """Starts recording; returns once data flows."""
        self.clock = []
        self.clock_stop = threading.Event()
        sink = self.session.vars.get("YXYT_SINK", "yxyt_sink")
        if keep_running:
            self.silence = subprocess.Popen(["pacat", "--playback", "-d", sink, "--latency-msec=5", *self.FORMAT],
                                            stdin=open("/dev/zero", "rb"), env=self.session.env)
        self.file = open(self.path, "wb")
        self.proc = subprocess.Popen(["parec", "-d", sink + ".monitor", "--latency-msec=5", *self.FORMAT],
                                     stdout=self.file, env=self.session.env)
        # The monitor delivers silence as soon as parec is connected; sound
        # played before that would be missed.
        for _ in deadline_loop(10, "parec to deliver data"):
            if self.path.stat().st_size > 0:
                break
            if self.proc.poll() is not None:
                pytest.fail("parec ended with %s" % self.proc.returncode)
        threading.Thread(target=self._tick, daemon=True).start()
        return self

    def _tick(self):
        """Notes how much had arrived when, so a place in the recording can
        be told its time (the sink renders only while something plays)."""
        while not self.clock_stop.wait(0.005):
            self.clock.append((time.monotonic(), self.path.stat().st_size // 4))

    def time_of(self, sample):
        """When the sample at `sample` reached the recording (monotonic)."""
        later = [t for t, n in self.clock if n >= sample]
        return later[0] if later else (self.clock[-1][0] if self.clock else None)

    def seconds(self):
        """Length of the recording so far."""
        return self.path.stat().st_size / 4 / audio_util.RATE

    def wait_length(self, seconds, timeout=30):
        """Waits until the recording holds `seconds` more than now."""
        target = self.seconds() + seconds
        for _ in deadline_loop(timeout, "%.2f s more recording" % seconds):
            if self.seconds() >= target:
                return

    def wait_silence(self, seconds=0.3, level=0.002, timeout=30):
        """Waits until nothing audible plays (e.g. the start-up sound has
        ended): the last `seconds` of the recording stay below `level`, or
        the idle sink has delivered nothing for `seconds`. Returns the
        recording's length in samples at that point."""
        quiet_needed = int(seconds * audio_util.RATE)
        size, since = -1, time.monotonic()
        for _ in deadline_loop(timeout, "%.2f s of silence in the recording" % seconds):
            now_size = self.path.stat().st_size
            if now_size != size:
                size, since = now_size, time.monotonic()
            samples = audio_util.read_s16le(self.path)
            tail = samples[-quiet_needed:]
            if len(tail) == quiet_needed and audio_util.peak(tail) < level:
                return len(samples)
            if time.monotonic() - since >= seconds and audio_util.peak(samples[-64:]) < level * 10:
                return len(samples)

    def stop(self):
        """Stops recording; returns the recording as mono floats."""
        self.clock_stop.set()
        for p, sig in ((self.proc, signal.SIGINT), (self.silence, signal.SIGTERM)):
            if p and p.poll() is None:
                p.send_signal(sig)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.file.close()
        return audio_util.read_s16le(self.path)


@pytest.fixture
def recorder(session, tmp_path):
    r = Recorder(session, tmp_path / "recording.raw")
    yield r
    r.clock_stop.set()
    for p in (r.proc, r.silence):
        if p and p.poll() is None:
            p.kill()
            p.wait()


def server_log_level(cli, env, n):
    """Sets the log level of the session's own sound server through its
    command socket `cli`, loading that socket's module first if need be;
    whether the server took it."""
    if not cli.exists():
        subprocess.run(["pactl", "load-module", "module-cli-protocol-unix"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        with socket.socket(socket.AF_UNIX) as sock:
            sock.settimeout(5)
            sock.connect(str(cli))
            sock.sendall(b"set-log-level %d\n" % n)
            sock.shutdown(socket.SHUT_WR)
            while sock.recv(4096):
                pass
        return True
    except OSError:
        return False


class ServerLog:
    """The session's own sound server, at debug level while a test watches
    it: every client stream that ran dry there ("Implicit underrun"), with
    the time the line was seen. The sink plays silence for such a stream,
    a break the program did not cause when the stream's writer was Wine's
    feeding thread; a test excuses a break of the sink only with one of
    these at its time."""

    PATTERN = re.compile(rb"Implicit underrun of '([^']*)'")
    NEAR = 0.15  # seconds between the break's arrival at parec and the line

    def __init__(self, session):
        run = session.build / "session"
        self.path = run / "pulse.log"
        self.cli = run / "xdg" / "pulse" / "cli"
        self.env = session.env
        self.underruns = []  # (monotonic time, stream name)
        self.stopped = threading.Event()
        self.on = self.path.exists() and self._level(4)
        if self.on:
            self.thread = threading.Thread(target=self._follow, daemon=True)
            with open(self.path, "rb") as log:
                log.seek(0, os.SEEK_END)
                self.offset = log.tell()
            self.thread.start()

    def _level(self, n):
        return server_log_level(self.cli, self.env, n)

    def _follow(self):
        with open(self.path, "rb") as log:
            log.seek(self.offset)
            rest = b""
            while not self.stopped.wait(0.01):
                rest += log.read()
                *lines, rest = rest.split(b"\n")
                now = time.monotonic()
                for line in lines:
                    m = self.PATTERN.search(line)
                    if m:
                        self.underruns.append((now, m.group(1).decode("utf-8", "replace")))

    def explains(self, when, until=None):
        """Whether a stream ran dry at the server about `when`, or between
        it and `until` (monotonic)."""
        if when is None:
            return False
        until = when if until is None else until
        return any(when - self.NEAR <= t <= until + self.NEAR for t, _ in self.underruns)

    def close(self):
        if self.on:
            self.stopped.set()
            self.thread.join(5)
            self._level(2)


@pytest.fixture
def server_log(session):
    log = ServerLog(session)
    if not log.on:
        pytest.skip("the sound server is not the session's own: its underruns cannot be read")
    yield log
    log.close()
