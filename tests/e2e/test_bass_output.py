"""bass.dll's real output: a WAV played through it under Wine is recorded
from the null sink's monitor and compared with the file itself.

Several excerpts spread over the sound must each be found, and all at the
place the first one predicts: a drop-out or a wrong rate would move them.
"""
import math
import shutil
import subprocess

import pytest

import audio_util
from conftest import BIN, winpath

RATE = audio_util.RATE


def write_chirp(path, seconds, rate, channels, lead=0.3):
    """A rising sweep, 16-bit: unlike a steady tone it matches at one lag only.
    It follows `lead` seconds of silence: the sink's monitor can drop or
    repeat a few milliseconds as a stream joins it, and that moment then
    falls into the silence, not into the sweep."""
    n = int(seconds * rate)
    samples = [0.0] * int(lead * rate)
    phase = 0.0
    for i in range(n):
        f = 200.0 + 1800.0 * i / n
        phase += 2 * math.pi * f / rate
        g = min(1.0, i / (0.005 * rate), (n - 1 - i) / (0.005 * rate))
        samples.append(12000 / 32767 * g * math.sin(phase))
    audio_util.write_wav(path, samples, rate, channels)


def play(session, wav):
    exe = BIN / "bass_play_file.exe"
    if not exe.exists():
        pytest.fail("not built: %s" % exe)
    r = session.wine(exe, winpath(wav), capture_output=True, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr


def first_onset(samples, threshold=0.05):
    return next(i for i, s in enumerate(samples) if abs(s) >= threshold)


def check_recording(recording, reference, seconds):
    """None when every excerpt is where the first one puts the sound's
    start, else (first, end, what) of the recording where it is not.
    A break anywhere after the last excerpt found moves the next one, so
    the span given starts there."""
    onset = first_onset(recording)
    places = []
    found_until = onset
    for skip in (0.1, seconds / 2, seconds - 0.35):
        score, pos = audio_util.match(recording, reference, near=onset, search=0.03, skip=skip, length=0.2)
        end = onset + int((skip + 0.2) * RATE)
        if score <= 0.9:
            return found_until, end, "excerpt at %.2f s: correlation %.3f" % (skip, score)
        places.append(pos)
        found_until = end
    # Every excerpt puts the sound's start at the same sample (2 ms slack).
    if max(places) - min(places) > 88:
        return onset, len(recording), "excerpts at %s" % places
    return None


@pytest.mark.parametrize("rate,channels", [(44100, 2), (22050, 1)], ids=["device-rate-stereo", "half-rate-mono"])
def test_played_wav_is_recorded_whole(session, recorder, server_log, tmp_path, rate, channels):
    seconds = 1.5
    wav = tmp_path / "chirp.wav"
    write_chirp(wav, seconds, rate, channels)
    if rate == RATE:
        reference = audio_util.read_wav(wav)[1]
    else:
        # The reference rate conversion is sox's, not ours.
        if not shutil.which("sox"):
            pytest.skip("sox is needed for the reference conversion")
        converted = tmp_path / "reference.wav"
        subprocess.run(["sox", str(wav), "-r", str(RATE), str(converted)], check=True)
        reference = audio_util.read_wav(converted)[1]
    # The sink breaks now and then where our stream ran dry at the sound
    # server behind Wine's feeding thread; a try that fails while the
    # server logged such an underrun is tried again. A drop-out or a wrong
    # rate of our own, with no underrun, fails at once.
    for last_try in (False, False, True):
        recorder.start()
        play(session, wav)
        recording = recorder.stop()
        assert audio_util.peak(recording) > 0.1, "nothing was recorded"
        failed = check_recording(recording, reference, seconds)
        if not failed:
            break
        first, end, what = failed
        explained = server_log.explains(recorder.time_of(first), recorder.time_of(end))
        assert explained and not last_try, (what, "underruns at the server: %s" % server_log.underruns)
        print("the server ran a stream dry there: %s; trying once more" % what)
