"""Helpers of the end-to-end tests of the on-line services: a stand-in
browser, and update servers that answer late, never or very slowly.

The stand-in browser: the shell's "open" of http, https and the test scheme
yxtest: runs open_recorder.exe (built beside the program), which appends
each address to a log file; the previous handlers come back at teardown."""
import http.server
import socket
import threading

import pytest

from conftest import BIN, deadline_loop, winpath

SCHEMES = ("http", "https")
# The label's text when the program has no update server to ask.
BUILT_IN_WELCOME = "欢迎使用逸响乐台！按字母键敲鼓，Home/End 切换鼓源。"


def reg_default(session, key):
    r = session.wine("reg", "query", key, "/ve", capture_output=True)
    if r.returncode != 0:
        return None
    for line in r.stdout.decode("gbk", "replace").splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


def reg_set(session, key, value, name=None):
    args = ["reg", "add", key, "/f", "/d", value] + (["/v", name] if name else ["/ve"])
    session.wine(*args, check=True, capture_output=True)


class StandInBrowser:
    def __init__(self, log):
        self.log = log

    def opened(self):
        if not self.log.exists():
            return []
        return self.log.read_bytes().decode("gbk", "replace").splitlines()

    def wait_opened(self, address, timeout=20):
        for _ in deadline_loop(timeout, "the stand-in browser to open %s" % address):
            if address in self.opened():
                return


@pytest.fixture
def browser(session, tmp_path):
    recorder = BIN / "open_recorder.exe"
    if not recorder.exists():
        pytest.fail("open_recorder.exe is not built in %s" % BIN)
    # The log is named on the command line: the desktop's shell starts the
    # stand-in with its own environment, not the program's.
    log = tmp_path / "opened.log"
    command = '"%s" "%%1" "%s"' % (winpath(recorder), winpath(log))
    saved = {s: reg_default(session, r"HKCR\%s\shell\open\command" % s) for s in SCHEMES}
    for s in SCHEMES:
        reg_set(session, r"HKCR\%s\shell\open\command" % s, command)
    reg_set(session, r"HKCR\yxtest", "URL:yxtest")
    reg_set(session, r"HKCR\yxtest", "", name="URL Protocol")
    reg_set(session, r"HKCR\yxtest\shell\open\command", command)
    b = StandInBrowser(log)
    b.env = {"YXYT_OPEN_LOG": winpath(b.log)}
    yield b
    for s, value in saved.items():
        if value:
            reg_set(session, r"HKCR\%s\shell\open\command" % s, value)
    session.wine("reg", "delete", r"HKCR\yxtest", "/f", capture_output=True)


class HeldAnswer:
    """A path of the update server that answers only after `seconds`;
    `answered` is set the moment the answer goes out."""

    def __init__(self, server, path, seconds):
        self.answered = threading.Event()
        self.release = threading.Event()

        def handle(handler):
            self.release.wait(seconds)
            http.server.SimpleHTTPRequestHandler.do_GET(handler)
            self.answered.set()

        server.handlers[path] = handle


class SilentServer:
    """Accepts every connection and never answers; its https:// address
    makes a TLS handshake that never completes."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.url = "http://127.0.0.1:%d" % self.sock.getsockname()[1]
        self.https_url = self.url.replace("http://", "https://")
        self.held = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                self.held.append(self.sock.accept()[0])
            except OSError:
                return

    def close(self):
        self.sock.close()
        for c in self.held:
            c.close()


class TrickleServer(SilentServer):
    """Answers every request, but one byte a second."""

    ANSWER = b"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\n0"

    def __init__(self):
        self.closed = threading.Event()
        super().__init__()

    def accept(self):
        while True:
            try:
                conn = self.sock.accept()[0]
            except OSError:
                return
            self.held.append(conn)
            threading.Thread(target=self.trickle, args=(conn,), daemon=True).start()

    def trickle(self, conn):
        try:
            conn.recv(65536)
            for i in range(len(self.ANSWER)):
                if self.closed.wait(1.0 if i else 0):
                    return
                conn.sendall(self.ANSWER[i:i + 1])
        except OSError:
            return

    def close(self):
        self.closed.set()
        super().close()


class LateServer(TrickleServer):
    """Answers every request whole, each `seconds` after it arrived: just
    under the time a single fetch would wait. The one-byte answer makes the
    version check report the server unreachable, as it does with a server
    that never answers."""

    def __init__(self, seconds=2.9):
        self.seconds = seconds
        super().__init__()

    def trickle(self, conn):
        try:
            conn.recv(65536)
            if not self.closed.wait(self.seconds):
                conn.sendall(self.ANSWER)
        except OSError:
            return


def refused_url():
    """An address where nothing listens: a port that was free a moment ago."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return "http://127.0.0.1:%d" % port
