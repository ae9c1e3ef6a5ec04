"""The window probe against a program whose boxes are known: Wine's Notepad
asks Yes/No/Cancel with a warning icon when told to open a missing file."""
import subprocess

import pytest

from conftest import BIN, TOOLS, winpath


@pytest.fixture
def notepad_box(session, probe, tmp_path):
    missing = tmp_path / "missing.txt"
    proc = subprocess.Popen([str(TOOLS / "wine-run.sh"), "notepad", winpath(missing)], env=session.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    box = probe.one("wait-box", "--timeout", "30000")
    yield box, proc
    if proc.poll() is None:
        proc.kill()
        proc.wait()


def test_box_text_buttons_icon_and_owner(probe, notepad_box, tmp_path):
    box, _ = notepad_box
    assert box["visible"]
    assert winpath(tmp_path / "missing.txt") in box["text"]
    assert sorted(b["id"] for b in box["buttons"]) == [2, 6, 7]  # IDCANCEL, IDYES, IDNO
    assert box["icon"] == "warning"
    assert box["owner_class"] == "Notepad"
    owner = next(w for w in probe.windows("Notepad") if w["hwnd"] == box["owner"])
    # A task-modal box disables its owner until it is answered.
    assert not owner["enabled"]


def test_answer_closes_the_box_with_the_button(probe, notepad_box):
    box, proc = notepad_box
    with pytest.raises(AssertionError):
        # The box has no OK button: answering OK must fail, not guess.
        probe.one("answer", box["hwnd"], "IDOK")
    assert probe.one("answer", box["hwnd"], "IDNO")["closed"]
    assert probe.lines("wait-box", "--timeout", "300", check=False) == [{"error": "timeout"}]
    owner = next(w for w in probe.windows("Notepad") if w["hwnd"] == box["owner"])
    assert owner["enabled"] and owner["visible"]
    probe.one("post", owner["hwnd"], "WM_CLOSE", 0, 0)
    assert probe.one("wait-gone", owner["hwnd"])["gone"] == owner["hwnd"]
    assert proc.wait(20) == 0


def test_serve_answers_each_command_in_order(session, probe):
    r = session.wine(BIN / "probe.exe", "serve", input=b"codepage\nscreen\nwindows --class NoSuchClass\nquit\n",
                     capture_output=True, timeout=60)
    lines = r.stdout.decode().split()
    assert lines == ['{"acp":936,"oemcp":936}', '{"done":0}', '{"w":1920,"h":1080}', '{"done":0}', '{"done":0}']
