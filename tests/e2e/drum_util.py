"""Helpers of the drum-pad tests: kits of plain tones laid out per test and
keys pressed at exact times."""
import time

import audio_util


def tone_kit(progdir, name, tones, seconds=None):
    """A kit folder of sine tones: tones maps file name -> frequency;
    seconds maps file name -> length (default 0.3 s)."""
    d = progdir.snd / name
    d.mkdir(parents=True, exist_ok=True)
    for fname, freq in tones.items():
        audio_util.write_tone(d / fname, freq, (seconds or {}).get(fname, 0.3))
    return d


class XTestKeyboard:
    """Key events sent to the X server through XTest, each timed on the
    monotonic clock right after it left: microseconds, where a spawned
    xdotool per key adds milliseconds of start-up jitter."""

    def __init__(self, display):
        import ctypes
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)

    def keycode(self, name):
        return self.x11.XKeysymToKeycode(self.dpy, self.x11.XStringToKeysym(name.encode()))

    def event(self, key, down):
        """Sends `key` (a key name, or a keycode from keycode()) down or up;
        the time it left."""
        code = self.keycode(key) if isinstance(key, str) else key
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 1 if down else 0, 0)
        self.x11.XFlush(self.dpy)
        return time.monotonic()

    def press_at(self, key, deadline, hold=0.03):
        """Presses `key` at a monotonic deadline and releases it `hold`
        seconds later; the time of the press."""
        while time.monotonic() < deadline - 0.002:
            time.sleep(0.001)
        while time.monotonic() < deadline:
            pass
        pressed = self.event(key, True)
        time.sleep(hold)
        self.event(key, False)
        return pressed

    def close(self):
        self.x11.XCloseDisplay(self.dpy)
