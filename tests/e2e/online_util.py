"""A stand-in browser for the end-to-end tests of the on-line services.

The shell's "open" of http, https and the test scheme yxtest: runs
open_recorder.exe (built beside the program), which appends each address to
a log file; the previous handlers come back at teardown."""
import subprocess

import pytest

from conftest import BIN, deadline_loop, winpath

SCHEMES = ("http", "https")


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
    command = '"%s" "%%1"' % winpath(recorder)
    saved = {s: reg_default(session, r"HKCR\%s\shell\open\command" % s) for s in SCHEMES}
    for s in SCHEMES:
        reg_set(session, r"HKCR\%s\shell\open\command" % s, command)
    reg_set(session, r"HKCR\yxtest", "URL:yxtest")
    reg_set(session, r"HKCR\yxtest", "", name="URL Protocol")
    reg_set(session, r"HKCR\yxtest\shell\open\command", command)
    b = StandInBrowser(tmp_path / "opened.log")
    b.env = {"YXYT_OPEN_LOG": winpath(b.log)}
    yield b
    for s, value in saved.items():
        if value:
            reg_set(session, r"HKCR\%s\shell\open\command" % s, value)
    session.wine("reg", "delete", r"HKCR\yxtest", "/f", capture_output=True)
