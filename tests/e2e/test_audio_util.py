"""The sound analysis and the recorder, checked against sox and paplay."""
import math
import os
import shutil
import subprocess

import pytest

import audio_util
from conftest import TOOLS, deadline_loop

RATE = audio_util.RATE

needs_sox = pytest.mark.skipif(not shutil.which("sox"), reason="sox is not installed")


def sox(*args):
    subprocess.run(["sox", *map(str, args)], check=True, capture_output=True)


@needs_sox
def test_wav_reader_matches_sox_statistics(tmp_path):
    f = tmp_path / "sine.wav"
    sox("-n", "-r", RATE, "-c", 2, "-b", 16, f, "synth", 0.5, "sine", 441, "vol", 0.5)
    rate, samples = audio_util.read_wav(f)
    assert rate == RATE
    assert len(samples) == RATE // 2
    stats = subprocess.run(["sox", f, "-n", "stat"], capture_output=True, text=True).stderr
    sox_rms = float(next(l for l in stats.splitlines() if l.startswith("RMS     amplitude")).split()[-1])
    assert audio_util.rms(samples) == pytest.approx(sox_rms, rel=0.01)
    assert audio_util.peak(samples) == pytest.approx(0.5, abs=0.01)


@needs_sox
def test_onsets_are_found_where_sox_put_them(tmp_path):
    # Three bursts at 0.1, 0.35 and 0.6 s in silence, as raw s16le stereo.
    f = tmp_path / "bursts.raw"
    parts = []
    for i, start in enumerate((0.1, 0.35, 0.6)):
        p = tmp_path / ("b%d.wav" % i)
        sox("-n", "-r", RATE, "-c", 2, "-b", 16, p, "synth", 0.05, "sine", 600 + 200 * i, "pad", start, 0)
        parts.append(p)
    sox("-m", *parts, "-t", "raw", "-e", "signed", "-b", 16, "-c", 2, "-r", RATE, f, "pad", 0, 0.2)
    found = audio_util.onsets(audio_util.read_s16le(f), threshold=0.05)
    assert len(found) == 3
    for got, want in zip(found, (0.1, 0.35, 0.6)):
        assert abs(got / RATE - want) < 0.002


@needs_sox
def test_faded_sounds_count_once_each(tmp_path):
    # Fades of 10 ms pass slowly through the threshold band; each sound must
    # still give exactly one onset.
    parts = []
    for i, start in enumerate((0.05, 0.5)):
        p = tmp_path / ("f%d.wav" % i)
        sox("-n", "-r", RATE, "-c", 1, "-b", 16, p, "synth", 0.2, "sine", 440 + 220 * i, "fade", "t", 0.01, 0.2, 0.01,
            "vol", 0.5, "pad", start, 0)
        parts.append(p)
    mix = tmp_path / "mix.wav"
    sox("-m", *parts, mix, "pad", 0, 0.1)
    found = audio_util.onsets(audio_util.read_wav(mix)[1])
    assert len(found) == 2
    # A linear fade to 0.5 passes the 0.05 threshold a tenth of the way in,
    # at the next crest of the sine.
    for got, start in zip(found, (0.05, 0.5)):
        assert start + 0.001 <= got / RATE <= start + 0.003


@needs_sox
def test_match_finds_the_reference_and_rejects_another_sound(tmp_path):
    ref = tmp_path / "ref.wav"
    other = tmp_path / "other.wav"
    sox("-n", "-r", RATE, "-c", 1, "-b", 16, ref, "synth", 0.3, "sine", "300-1200", "vol", 0.7)
    sox("-n", "-r", RATE, "-c", 1, "-b", 16, other, "synth", 0.3, "square", 523, "vol", 0.7)
    # The recording: 0.2 s of silence, then the reference with its first 3 ms lost.
    rec = tmp_path / "rec.raw"
    sox(ref, "-t", "raw", "-e", "signed", "-b", 16, "-c", 2, "-r", RATE, rec, "trim", 0.003, "pad", 0.2, 0.1)
    recording = audio_util.read_s16le(rec)
    score, at = audio_util.match(recording, audio_util.read_wav(ref)[1])
    assert score > 0.99
    # The reference's onset lies 3 ms before where the recording's sound begins.
    assert abs(at - int(0.2 * RATE) + int(0.003 * RATE)) <= 2
    score_other, _ = audio_util.match(recording, audio_util.read_wav(other)[1])
    assert score_other < 0.5


def test_write_tone_round_trips(tmp_path):
    f = tmp_path / "t.wav"
    samples = audio_util.write_tone(f, 1000, 0.1, channels=2)
    rate, back = audio_util.read_wav(f)
    assert rate == RATE and len(back) == len(samples)
    assert max(abs(a - b) for a, b in zip(samples, back)) < 1e-4
    # Faded ends: no click at the first or last sample.
    assert abs(back[0]) < 1e-3 and abs(back[-1]) < 0.01


@needs_sox
def test_tone_level_reads_one_frequency_of_a_mix(tmp_path):
    f = tmp_path / "mix.wav"
    sox("-n", "-r", RATE, "-b", "16", "-c", 2, f, "synth", 0.5, "sine", 440, "sine", 1000, "vol", 0.8)
    _, samples = audio_util.read_wav(f)
    # One sine a side at 0.8; the mono reading averages the sides: 0.4 each.
    assert audio_util.tone_level(samples, 440) == pytest.approx(0.4, abs=0.02)
    assert audio_util.tone_level(samples, 1000) == pytest.approx(0.4, abs=0.02)
    assert audio_util.tone_level(samples, 700) < 0.02
    assert audio_util.tone_level([], 440) == 0.0


@needs_sox
def test_recorder_captures_what_the_sink_plays(session, recorder, tmp_path):
    ref = tmp_path / "chirp.wav"
    sox("-n", "-r", RATE, "-c", 2, "-b", 16, ref, "synth", 0.5, "sine", "400-2000", "vol", 0.6)
    recorder.start()
    subprocess.run(["paplay", "-d", session.vars.get("YXYT_SINK", "yxyt_sink"), str(ref)], env=session.env,
                   check=True, timeout=30)
    recording = recorder.stop()
    score, at = audio_util.match(recording, audio_util.read_wav(ref)[1])
    assert score > 0.95, "best correlation %.3f" % score
    assert at is not None and at >= 0


def test_the_printed_recording_command_records_from_a_shell_without_the_session(session, tmp_path):
    """What `make run` prints for recording the null sink, pasted into a
    shell that never read session.env: parec reaches the session's server
    and delivers (the monitor sends silence as soon as it is connected)."""
    line = subprocess.run([str(TOOLS / "session.sh"), "record-command"], check=True, capture_output=True, text=True,
                          env=dict(os.environ, YXYT_BUILD=str(session.build))).stdout.strip()
    shell = {k: v for k, v in os.environ.items() if k != "PULSE_SERVER"}
    out = tmp_path / "out.raw"
    parec = subprocess.Popen(["sh", "-c", line + ' > "$1"', "sh", str(out)], env=shell, stderr=subprocess.PIPE,
                             start_new_session=True)
    try:
        for _ in deadline_loop(10, "the printed command to record"):
            if parec.poll() is not None:
                pytest.fail("%s\nended with %s: %s" % (line, parec.returncode, parec.stderr.read().decode()))
            if out.exists() and out.stat().st_size > 0:
                break
    finally:
        if parec.poll() is None:
            os.killpg(parec.pid, 15)
        parec.wait()


def test_a_typed_key_is_recorded_as_its_sample(app, make_progdir, recorder):
    """The whole chain the sound tests rely on: xdotool key, the program's
    keyboard hook, the audio library, Wine, the null sink, parec."""
    d = make_progdir(kits=False)
    d.snd.mkdir()
    kit = d.kit("tones", tones={"a": 440, "s": 660})
    audio_util.write_tone(d.snd / "Finish.wav", 1760, 0.1)
    a = app(d)
    a.wait_ready()
    recorder.start()
    # The start-up sound plays first; record the hits after it.
    start = recorder.wait_silence()
    played = len(a.trace_lines())
    a.keys("a")
    a.wait_trace(r"BASS_ChannelPlay", after=played)
    recorder.wait_length(0.4)
    a.keys("s")
    a.wait_trace(r"BASS_ChannelPlay", count=2, after=played)
    recorder.wait_length(0.4)
    recording = recorder.stop()[start:]
    hits = audio_util.onsets(recording)
    assert len(hits) == 2, hits
    for letter, hit in zip("as", hits):
        score, at = audio_util.match(recording, audio_util.read_wav(kit / (letter + ".WAV"))[1], near=hit)
        assert score > 0.9, "%s.WAV matched only %.3f" % (letter, score)
    # Each recorded hit is its own sample, not the other one.
    wrong, _ = audio_util.match(recording, audio_util.read_wav(kit / "s.WAV")[1], near=hits[0])
    assert wrong < 0.5


@needs_sox
def test_highpass_matches_sox_and_takes_out_the_music_band(tmp_path):
    mix = tmp_path / "mix.wav"
    filtered = tmp_path / "filtered.wav"
    sox("-n", "-r", RATE, "-c", 1, "-b", 16, mix, "synth", 0.5, "sine", 110, "sine", 2000, "vol", 0.4)
    sox("-D", mix, filtered, "highpass", 1000)
    _, samples = audio_util.read_wav(mix)
    _, reference = audio_util.read_wav(filtered)
    ours = audio_util.highpass(samples, 1000)
    assert max(abs(a - b) for a, b in zip(ours, reference)) < 0.005
    steady = ours[RATE // 10:]
    # sox mixes its two sines down to one channel: 0.2 each.
    assert audio_util.tone_level(samples, 110) == pytest.approx(0.2, abs=0.01)
    assert audio_util.tone_level(steady, 110) < 0.005
    assert audio_util.tone_level(steady, 2000) == pytest.approx(0.2, abs=0.02)


def steady_mix(seconds, control=0.0):
    """A 441 Hz tone at 0.3 with a soft-attack 4,410 Hz hit at 0.4 every
    125 ms, as the dropout benchmark plays it; optionally a second tone at
    882 Hz."""
    n = int(seconds * RATE)
    out = [0.3 * math.sin(2 * math.pi * 441 * i / RATE) + control * math.sin(2 * math.pi * 882 * i / RATE + 1.0)
           for i in range(n)]
    hit = int(0.125 * RATE)
    for start in range(hit // 2, n - hit, hit):
        for j in range(int(0.04 * RATE)):
            attack = 0.5 - 0.5 * math.cos(math.pi * min(1.0, j / 44.1))
            out[start + j] += 0.4 * attack * math.exp(-j / (0.006 * RATE)) * math.sin(2 * math.pi * 4410 * j / RATE)
    return out


def test_dropouts_ignore_hits_and_other_tones_at_multiples():
    mix = steady_mix(2.0, control=0.1)
    assert audio_util.dropouts(mix, 441) == []
    assert audio_util.dropouts(mix, 882, block=100) == []


def test_dropouts_count_a_tone_missing_from_most_of_the_recording_as_one_break():
    mix = [0.0] * int(2.0 * RATE)
    mix[:int(0.5 * RATE)] = steady_mix(0.5)
    assert audio_util.dropouts(mix, 441) == [(0, len(mix) // 100 * 100, ("level",))]


def test_dropouts_find_a_gap_skipped_frames_and_repeated_frames():
    clean = steady_mix(3.0)
    gap, skip, repeat = int(0.8 * RATE), int(1.7 * RATE), int(2.4 * RATE)
    broken = list(clean)
    broken[gap:gap + 132] = [0.0] * 132  # 3 ms of silence
    broken = broken[:skip] + broken[skip + 221:repeat] + broken[repeat - 441:]  # 5 ms lost, 10 ms played twice
    found = audio_util.dropouts(broken, 441)
    assert len(found) == 3, found
    expected = ((gap, "level"), (skip, "phase"), (repeat - 221, "phase"))
    for (start, end, kinds), (at, kind) in zip(found, expected):
        assert start - 200 <= at <= end + 200, (start, end, at)
        assert kind in kinds, kinds
