"""A kit's own key map, takes and the hold-once option from outside: keys
typed with xdotool into the running program, what the library was asked
(its trace) and what was heard (the null sink's recording)."""
import re
import subprocess
import wave

import audio_util
from conftest import COMMAND_BASE, deadline_loop
from drum_util import tone_kit
from music_util import stream_of
from screen_util import Screen
from test_drumpad import start_quiet

# The colour the pads draw a choke group's edges and mark in.
CHOKE_COLOUR = (0, 120, 170)
HOLD_ONCE = COMMAND_BASE + 107
EDIT_KEY_MAP = COMMAND_BASE + 108


def write_pcm(path, freq, seconds, bits):
    """A mono sine tone as an 8-bit (unsigned) or 24-bit PCM WAV."""
    frames = bytearray()
    for s in audio_util.tone(freq, seconds):
        if bits == 8:
            frames.append(max(0, min(255, int(round(128 + s * 127)))))
        else:
            v = max(-(1 << 23), min((1 << 23) - 1, int(round(s * ((1 << 23) - 1)))))
            frames += (v & 0xFFFFFF).to_bytes(3, "little")
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(bits // 8)
        w.setframerate(audio_util.RATE)
        w.writeframes(bytes(frames))


def played_handles(app, after):
    return [int(m.group(1)) for l in app.trace_lines()[after:] for m in [re.match(r"BASS_ChannelPlay\((\d+), 1\)", l)]
            if m]


def created(app, after):
    """The file name of each stream made since line `after`, by handle."""
    rx = re.compile(r'BASS_StreamCreateFile\(0, ".*\\([^\\"]+)", 0, 0, 0\) = (\d+)')
    return {int(m.group(2)): m.group(1) for l in app.trace_lines()[after:] for m in [rx.match(l)] if m}


def test_third_party_kit_plays_its_key_map_and_names_the_missing_file(app, make_progdir, recorder):
    p = make_progdir(kits=False)
    kit = p.snd / "Downloaded Kit"
    kit.mkdir(parents=True)
    write_pcm(kit / "Kick-Hard.wav", 330, 0.25, 24)
    write_pcm(kit / "Snare 1.WAV", 550, 0.25, 8)
    audio_util.write_tone(kit / "Hat Closed.wav", 1210, 0.25)
    audio_util.write_tone(kit / "Extra Ride.wav", 770, 0.25)
    (kit / "键位.ini").write_bytes(("[键位]\r\nK=Kick-Hard.wav,36\r\nS=Snare 1.WAV\r\nD=snare 1.wav\r\n"
                                   "H=Hat Closed.wav\r\nM=missing.wav\r\n").encode("gbk"))
    audio_util.write_tone(p.snd / "Finish.wav", 1500, 0.05)
    a = start_quiet(app, recorder, p)
    a.wait_for(lambda: "键位.ini：找不到 missing.wav" in a.label_text(), "the missing file named in the label")
    assert not a.boxes()
    handles = {name: stream_of(a, "\\" + name) for name in ("Kick-Hard.wav", "Snare 1.WAV", "Hat Closed.wav")}
    expect = {"k": ("Kick-Hard.wav", 330), "s": ("Snare 1.WAV", 550), "d": ("Snare 1.WAV", 550),
              "h": ("Hat Closed.wav", 1210)}
    a.focus()
    for key, (name, freq) in expect.items():
        mark = len(a.trace_lines())
        start = len(audio_util.read_s16le(recorder.path))
        a.keys(key, focus=False)
        a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % handles[name], after=mark)
        recorder.wait_length(0.3)
        heard = audio_util.read_s16le(recorder.path)[start:]
        hits = audio_util.onsets(heard)
        assert hits, (key, "nothing heard")
        piece = heard[hits[0] + 441:hits[0] + 441 + 2205]
        levels = {f: audio_util.tone_level(piece, f) for f in (330, 550, 1210, 770)}
        assert levels[freq] > 0.05, (key, name, levels)
        assert all(v < levels[freq] / 3 for f, v in levels.items() if f != freq), (key, name, levels)
    mark = len(a.trace_lines())
    a.keys("m", "a", focus=False)
    # A, which no map line names and which has no a.wav, still asks, with handle 0.
    a.wait_trace(r"BASS_ChannelPlay\(0, 1\)", after=mark)
    assert played_handles(a, mark) == [0], "M, mapped to a missing file, plays nothing"
    assert a.running()


def test_edit_key_map_writes_a_map_that_plays_what_played_before(app, progdir, probe):
    a = start_quiet(app)
    kit = progdir.snd / "原声鼓"
    letters = "asdhjkl"

    def names_played():
        mark = len(a.trace_lines())
        a.keys(*letters, delay=80)
        a.wait_trace(r"BASS_ChannelPlay\(", count=len(letters), after=mark)
        return [files[h] for h in played_handles(a, mark)]

    files = created(a, 0)
    before = names_played()
    a.post_command(EDIT_KEY_MAP)
    path = kit / "键位.ini"
    for _ in deadline_loop(20, "键位.ini written"):
        if path.exists() and path.stat().st_size > 0:
            break
    text = path.read_bytes().decode("gbk")
    assert "\r\nA=a.WAV\r\n" in text, text
    for _ in deadline_loop(30, "Notepad open on the key map"):
        editors = probe.windows("Notepad")
        if editors:
            break
    for e in editors:
        probe.run("post", e["hwnd"], "WM_CLOSE", 0, 0)
    # Reloaded through the kit's own item, the file as written.
    mark = len(a.trace_lines())
    a.post_command(COMMAND_BASE + 3 + 1)
    finish = stream_of(a, "\\Finish.wav", after=mark)
    # The reload ends with its confirmation sound, which is no key's.
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\)" % finish, after=mark)
    files = created(a, mark)
    assert names_played() == before


def test_hold_once_held_key_sounds_once_and_a_second_key_at_once(app, progdir, session):
    a = start_quiet(app)
    a.post_command(HOLD_ONCE)
    for _ in deadline_loop(10, "按住只响一次=1"):
        if "按住只响一次=1" in progdir.read_config():
            break
    ha, hs, hd = (stream_of(a, "\\原声鼓\\%s.WAV" % k) for k in "asd")
    a.focus()
    mark = len(a.trace_lines())
    # Auto-repeat starts after 660 ms under Xvfb, then every 40 ms.
    subprocess.run(["xdotool", "keydown", "a", "sleep", "1.0", "keydown", "s", "keyup", "s", "sleep", "0.3",
                    "keyup", "a", "key", "d"], env=session.env, check=True, timeout=30)
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\)" % hd, after=mark)
    played = played_handles(a, mark)
    assert played.count(ha) == 1, played
    assert played.count(hs) == 1, played
    timed = [l for l in a.trace_lines(timed=True)[mark:] if l.startswith("BASS_ChannelPlay")]
    at = [float(re.search(r"\[at ([\d.]+) ms\]", l).group(1)) for l in timed]
    assert 900 < at[1] - at[0] < 1500, at


def test_three_takes_of_a_each_heard_never_twice_in_a_row(app, make_progdir, recorder):
    p = make_progdir(kits=False)
    freqs = {"a.WAV": 440, "a-2.WAV": 660, "A-3.wav": 990}
    tone_kit(p, "takes", freqs, {n: 0.08 for n in freqs})
    audio_util.write_tone(p.snd / "Finish.wav", 1500, 0.05)
    a = start_quiet(app, None, p)
    handles = {stream_of(a, "\\" + n): f for n, f in freqs.items()}
    # Kept rendering, so that the gaps between the hits stay in the recording.
    recorder.start(keep_running=True)
    start = recorder.wait_silence(0.3)
    mark = len(a.trace_lines())
    a.keys(*(["a"] * 30), delay=120)
    a.wait_trace(r"BASS_ChannelPlay\(", count=30, after=mark)
    recorder.wait_length(0.3)
    rec = recorder.stop()[start:]
    played = played_handles(a, mark)
    assert len(played) == 30 and set(played) == set(handles), played
    assert all(x != y for x, y in zip(played, played[1:])), played
    # Each hit heard is one take's tone; every take is heard. Hits the
    # loaded machine delivered too close together count as one.
    hits = audio_util.onsets(rec, min_gap=0.02)
    assert len(hits) >= 10, len(hits)
    heard = []
    for i in hits:
        piece = rec[i + 220:i + 220 + 1323]
        levels = {f: audio_util.tone_level(piece, f) for f in freqs.values()}
        heard.append(max(levels, key=levels.get))
    assert set(heard) == set(freqs.values()), heard


def test_kit_choke_group_v_silences_a_ringing_c_and_h_silences_nothing(app, make_progdir, recorder, session):
    p = make_progdir(kits=False)
    kit = tone_kit(p, "cymbals", {"c.WAV": 440, "v.WAV": 2000, "h.WAV": 1210, "j.WAV": 660},
                   {"c.WAV": 2.0, "j.WAV": 2.0, "v.WAV": 0.05, "h.WAV": 0.05})
    (kit / "键位.ini").write_bytes("[闷音组]\r\n镲片=CV\r\n".encode("gbk"))
    audio_util.write_tone(p.snd / "Finish.wav", 1500, 0.05)
    a = start_quiet(app, recorder, p)
    c, v, h = (stream_of(a, "\\%s.WAV" % k) for k in "cvh")
    mark = len(a.trace_lines())
    start = len(audio_util.read_s16le(recorder.path))
    # J rings on: H is in no group of this kit, so it does not choke J.
    a.keys("c", "j")
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % c, after=mark)
    recorder.wait_length(0.4)
    a.keys("h", focus=False)
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % h, after=mark)
    recorder.wait_length(0.3)
    before_v = len(audio_util.read_s16le(recorder.path))
    a.keys("v", focus=False)
    a.wait_trace(r"BASS_ChannelPlay\(%d, 1\) = 1" % v, after=mark)
    recorder.wait_length(0.6)
    rec = recorder.stop()
    # A kit's own groups fade out where the library can, else pause.
    silenced = {int(m.group(1)) for l in a.trace_lines()[mark:]
                for m in [re.match(r"BASS_Channel(?:Pause|FadeOut)\((\d+)", l)] if m}
    assert silenced == {c, v}, "only the group's keys choke each other"
    ringing = audio_util.tone_level(rec[start + 4410:before_v], 440)
    after = audio_util.tone_level(rec[-int(0.3 * 44100):], 440)
    still = audio_util.tone_level(rec[-int(0.3 * 44100):], 660)
    assert ringing > 0.1, ringing
    assert after < 0.01, (ringing, after)
    assert still > 0.05, still
    # The pads frame the kit's group: C and V, left of the label; H J K L,
    # right of it, are no group in this kit.
    w, lab = a.window(), a.label()
    screen = Screen(session.env["DISPLAY"])
    try:
        pic = screen.grab(w["client_x"], w["client_y"], w["client_w"], w["client_h"])
    finally:
        screen.close()
    framed = [x for y in range(pic.height) for x in range(pic.width) if pic.pixel(x, y) == CHOKE_COLOUR]
    assert framed, "no pad is framed as a group"
    assert max(framed) < lab["x"] - w["client_x"], "a pad right of the label is framed as a group"
