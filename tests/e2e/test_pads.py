"""The pads as the screen shows them: a key and a click light their pad
for a moment (pixels read from the test display), and the click is heard
at the sink as the key is."""
import ctypes
import time

import audio_util
from conftest import deadline_loop
from drum_util import XTestKeyboard
from music_util import stream_of
from screen_util import Screen

# How soon after the hit the light must be on the screen, and when it must be gone.
LIT_WITHIN = 0.1
UNLIT_AFTER = 0.5


def settled(screen, area, timeout=20):
    """The window's picture once two grabs in a row agree (start-up has painted)."""
    last = None
    for _ in deadline_loop(timeout, "the window's picture to settle"):
        pic = screen.grab(*area)
        if last is not None and pic == last:
            return pic
        last = pic


def lit_after(screen, area, before, start):
    """The first picture that differs from `before`, taken within LIT_WITHIN
    of `start`; None when every picture until then was unchanged."""
    while time.monotonic() - start <= LIT_WITHIN:
        pic = screen.grab(*area)
        if pic != before:
            return pic
    return None


def move_to(keyboard, x, y):
    """Moves the pointer through XTest."""
    keyboard.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
    keyboard.xtst.XTestFakeMotionEvent(keyboard.dpy, -1, x, y, 0)
    keyboard.x11.XFlush(keyboard.dpy)


def click(keyboard):
    """Clicks the left button through XTest; the time the press left."""
    xtst, x11, dpy = keyboard.xtst, keyboard.x11, keyboard.dpy
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent(dpy, 1, 1, 0)
    x11.XFlush(dpy)
    pressed = time.monotonic()
    xtst.XTestFakeButtonEvent(dpy, 1, 0, 0)
    x11.XFlush(dpy)
    return pressed


def box_of(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def check_one_pad_lit(before, lit, label):
    """Only one pad-sized area changed, left of the label in the second
    row (where A is), and it glows orange; its bounding box."""
    changed = before.differences(lit)
    assert changed, "nothing changed"
    left, top, right, bottom = box_of(changed)
    lx, ly, lw, lh = label
    assert right <= lx, "the lit area reaches the label: %s" % ((left, top, right, bottom),)
    assert ly <= top and bottom <= ly + lh, "not in the row beside the label: %s" % ((left, top, right, bottom),)
    assert right - left < lx / 5 and bottom - top < lh / 2, "more than one pad changed: %s" % (
        (left, top, right, bottom),)
    orange = [p for p in changed if lit.pixel(*p)[0] > 200 and lit.pixel(*p)[2] < 200]
    assert len(orange) > len(changed) / 2, "the change is not the light's colour"
    return left, top, right, bottom


def wait_unlit(screen, area, before, start):
    """Waits past UNLIT_AFTER from `start`, then until the picture is the
    one before the hit again."""
    while time.monotonic() - start < UNLIT_AFTER:
        time.sleep(0.01)
    for _ in deadline_loop(5, "the pad to go dark again"):
        if screen.grab(*area) == before:
            return time.monotonic() - start


def test_a_key_and_a_click_light_only_their_pad_for_a_moment_and_the_click_is_heard(app, progdir, session,
                                                                                      recorder):
    a = app()
    a.wait_ready()
    a.focus()
    w = a.window()
    area = (w["client_x"], w["client_y"], w["client_w"], w["client_h"])
    lab = a.label()
    label = (lab["x"] - w["client_x"], lab["y"] - w["client_y"], lab["w"], lab["h"])
    handle = stream_of(a, "\\原声鼓\\a.WAV")
    screen = Screen(session.env["DISPLAY"])
    keyboard = XTestKeyboard(session.env["DISPLAY"])
    try:
        before = settled(screen, area)

        mark = len(a.trace_lines())
        pressed = keyboard.event("a", True)
        keyboard.event("a", False)
        lit = lit_after(screen, area, before, pressed)
        assert lit is not None, "the pad was not lit within %.0f ms of the key" % (LIT_WITHIN * 1000)
        pad = check_one_pad_lit(before, lit, label)
        a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handle, after=mark)
        wait_unlit(screen, area, before, pressed)

        recorder.start()
        recorder.wait_silence(0.3)
        start = len(audio_util.read_s16le(recorder.path))
        mark = len(a.trace_lines())
        x = w["client_x"] + (pad[0] + pad[2]) // 2
        y = w["client_y"] + (pad[1] + pad[3]) // 2
        move_to(keyboard, x, y)
        before = settled(screen, area)
        clicked = click(keyboard)
        lit = lit_after(screen, area, before, clicked)
        assert lit is not None, "the pad was not lit within %.0f ms of the click" % (LIT_WITHIN * 1000)
        assert check_one_pad_lit(before, lit, label) == pad, "another pad lit than the one clicked"
        a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handle, after=mark)
        wait_unlit(screen, area, before, clicked)
        recorder.wait_length(0.8)
        recording = recorder.stop()[start:]
        reference = audio_util.read_wav(progdir.snd / "原声鼓" / "a.WAV")[1]
        score, _ = audio_util.match(recording, reference)
        assert score > 0.9, score
    finally:
        keyboard.close()
        screen.close()
