"""Helpers of the drum-pad tests: kits of plain tones laid out per test,
stream handles read back from the audio library's trace."""
import re

import audio_util


def tone_kit(progdir, name, tones, seconds=None):
    """A kit folder of sine tones: tones maps file name -> frequency;
    seconds maps file name -> length (default 0.3 s)."""
    d = progdir.snd / name
    d.mkdir(parents=True, exist_ok=True)
    for fname, freq in tones.items():
        audio_util.write_tone(d / fname, freq, (seconds or {}).get(fname, 0.3))
    return d


def streams(app, after=0):
    """{path as traced: handle} of the kit streams created since `after`."""
    found = {}
    for line in app.trace_lines()[after:]:
        m = re.match(r'BASS_StreamCreateFile\(0, "(.*)", 0, 0, 0\) = (\d+)', line)
        if m:
            found[m.group(1)] = int(m.group(2))
    return found


def handle_of(app, tail, after=0):
    """Handle of the latest stream whose path ends with `tail` (e.g. "\\a.WAV")."""
    hits = [h for p, h in streams(app, after).items() if p.endswith(tail)]
    assert hits, "no stream ending in %r in the trace" % tail
    return hits[-1]

