"""Checks of the shipped sound assets, the demo-kit generator and the help file.

WAV files are read with a chunk walker written here and cross-checked with
Python's wave module and with sox, so a fault in the generators' own writer
cannot hide behind itself.
"""
import cmath
import hashlib
import math
import struct
import subprocess
import sys
import wave
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
GEN_CHIME = ROOT / "tools" / "gen_chime.py"
GEN_KITS = ROOT / "tools" / "gen_kits.py"
STARTUP = ROOT / "assets" / "startup.wav"
README = ROOT / "assets" / "ReadMe.txt"
LETTERS = [chr(c) for c in range(ord("a"), ord("z") + 1)]
KIT_NAMES = ["原声鼓", "电子鼓"]
MS = 44  # samples in one millisecond at 44.1 kHz


# ---- reading and measuring ----

def Chunks(blob):
    """Walks a RIFF WAVE file; returns [(id, offset of payload, size)] and fails on any inconsistency."""
    assert blob[:4] == b"RIFF" and blob[8:12] == b"WAVE"
    riff_size = struct.unpack_from("<I", blob, 4)[0]
    assert riff_size == len(blob) - 8, "RIFF size does not match the file length"
    chunks, pos = [], 12
    while pos < len(blob):
        assert pos + 8 <= len(blob), "truncated chunk header"
        cid, size = struct.unpack_from("<4sI", blob, pos)
        assert pos + 8 + size <= len(blob), "chunk %r runs past the end" % cid
        chunks.append((cid, pos + 8, size))
        pos += 8 + size + (size & 1)
    assert pos == len(blob), "bytes left after the last chunk"
    return chunks


def ReadWave(path):
    """Returns (fmt fields dict, list of int samples of channel 1, chunks, blob)."""
    blob = Path(path).read_bytes()
    chunks = Chunks(blob)
    ids = [c[0] for c in chunks]
    assert ids.count(b"fmt ") == 1 and ids.count(b"data") == 1
    assert ids.index(b"fmt ") < ids.index(b"data")
    _, off, size = chunks[ids.index(b"fmt ")]
    assert size >= 16
    tag, ch, rate, byte_rate, align, bits = struct.unpack_from("<HHIIHH", blob, off)
    fmt = dict(tag=tag, channels=ch, rate=rate, byte_rate=byte_rate, align=align, bits=bits)
    _, off, size = chunks[ids.index(b"data")]
    assert bits == 16 and size % align == 0
    every = struct.unpack_from("<%dh" % (size // 2), blob, off)
    return fmt, list(every[::ch]), chunks, blob


def Sox(*args):
    return subprocess.run(["sox", *map(str, args)], capture_output=True, text=True, check=True)


def SoxStat(path):
    """sox's 'stat' effect, as a dict of its name: value lines (it writes them to stderr)."""
    out = Sox(path, "-n", "stat").stderr
    stats = {}
    for line in out.splitlines():
        if ":" in line:
            key, _, value = line.partition(":")
            try:
                stats[key.strip()] = float(value.split()[0])
            except (ValueError, IndexError):
                pass
    return stats


def SoxInfo(path, flag):
    return Sox("--i", flag, path).stdout.strip()


def Db(x):
    return 20.0 * math.log10(max(x, 1e-12))


def Rms(xs):
    return math.sqrt(sum(v * v for v in xs) / len(xs)) if xs else 0.0


def Fft(a):
    """Iterative radix-2 FFT of a complex list whose length is a power of two."""
    n = len(a)
    a = list(a)
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            a[i], a[j] = a[j], a[i]
    size = 2
    while size <= n:
        w = cmath.exp(-2j * math.pi / size)
        for start in range(0, n, size):
            wk = 1.0
            for k in range(size // 2):
                u, v = a[start + k], a[start + k + size // 2] * wk
                a[start + k], a[start + k + size // 2] = u + v, u - v
                wk *= w
        size *= 2
    return a


def Centroid(samples, rate=44100, n=4096):
    """Spectral centroid (Hz) of the first n samples, Hann-windowed."""
    x = (samples + [0] * n)[:n]
    win = [0.5 - 0.5 * math.cos(2 * math.pi * i / n) for i in range(n)]
    spectrum = Fft([complex(v * w) for v, w in zip(x, win)])
    mags = [abs(c) for c in spectrum[: n // 2]]
    total = sum(mags)
    return sum(i * rate / n * m for i, m in enumerate(mags)) / total


def BandLevels(samples, rate=44100, n=8192, bands=20):
    """Spectral shape: energy in log-spaced bands from 40 Hz to 16 kHz, in dB of the total."""
    x = (samples + [0] * n)[:n]
    win = [0.5 - 0.5 * math.cos(2 * math.pi * i / n) for i in range(n)]
    power = [abs(c) ** 2 for c in Fft([complex(v * w) for v, w in zip(x, win)])[: n // 2]]
    edges = [40.0 * (16000.0 / 40.0) ** (k / bands) for k in range(bands + 1)]
    energy = []
    for lo_hz, hi_hz in zip(edges, edges[1:]):
        lo = int(lo_hz * n / rate)
        energy.append(sum(power[lo:max(int(hi_hz * n / rate), lo + 1)]))
    total = sum(energy)
    return [max(-60.0, 10 * math.log10(e / total + 1e-30)) for e in energy]


def DecayTime(samples, drop_db=30.0):
    """Seconds from the loudest 5-ms frame until the level stays drop_db below it."""
    frame = 5 * MS
    levels = [Rms(samples[i:i + frame]) for i in range(0, len(samples) - frame + 1, frame)]
    top = max(range(len(levels)), key=levels.__getitem__)
    limit = levels[top] * 10 ** (-drop_db / 20)
    last = top
    for i in range(top, len(levels)):
        if levels[i] >= limit:
            last = i
    return (last - top + 1) * frame / 44100.0


def Goertzel(samples, freq, rate=44100):
    """Power of one frequency in a block of samples."""
    k = 2 * math.cos(2 * math.pi * freq / rate)
    s1 = s2 = 0.0
    for v in samples:
        s1, s2 = v + k * s1 - s2, s1
    return s1 * s1 + s2 * s2 - k * s1 * s2


def RunKitGenerator(folder):
    subprocess.run([sys.executable, str(GEN_KITS), str(folder)], check=True)


def KitFiles(snd):
    files = [snd / "Finish.wav"]
    for kit in KIT_NAMES:
        files += [snd / kit / (l + ".WAV") for l in LETTERS]
    return files


@pytest.fixture(scope="module")
def snd(tmp_path_factory):
    folder = tmp_path_factory.mktemp("kits") / "SND"
    RunKitGenerator(folder)
    return folder


@pytest.fixture(scope="module")
def decoded(snd):
    """Every kit file parsed once: path -> (fmt, samples)."""
    result = {}
    for path in KitFiles(snd):
        fmt, samples, _, _ = ReadWave(path)
        result[path] = (fmt, samples)
    return result


# ---- start-up chime ----

def test_chime_generator_reproduces_committed_file(tmp_path):
    out = tmp_path / "startup.wav"
    subprocess.run([sys.executable, str(GEN_CHIME), str(out)], check=True)
    fresh, committed = out.read_bytes(), STARTUP.read_bytes()
    assert len(fresh) == len(committed)
    assert hashlib.sha256(fresh).hexdigest() == hashlib.sha256(committed).hexdigest()


def test_chime_layout_is_the_fixed_one():
    fmt, _, chunks, blob = ReadWave(STARTUP)
    assert len(blob) == 897486
    assert fmt == dict(tag=1, channels=2, rate=44100, byte_rate=176400, align=4, bits=16)
    ids = [c[0] for c in chunks]
    assert ids == [b"fmt ", b"LIST", b"data"]
    data_offset, data_size = chunks[2][1], chunks[2][2]
    assert data_size == 897408
    assert data_offset == 78, "header must be 78 bytes"
    # The LIST chunk holds a well-formed INFO list.
    _, off, size = chunks[1]
    assert blob[off:off + 4] == b"INFO"
    pos = off + 4
    while pos < off + size:
        sub_id, sub_size = struct.unpack_from("<4sI", blob, pos)
        assert sub_id.isalnum()
        pos += 8 + sub_size + (sub_size & 1)
    assert pos == off + size


def test_chime_sox_and_wave_module_agree():
    assert SoxInfo(STARTUP, "-c") == "2"
    assert SoxInfo(STARTUP, "-r") == "44100"
    assert SoxInfo(STARTUP, "-b") == "16"
    assert SoxInfo(STARTUP, "-s") == "224352"
    assert abs(float(SoxInfo(STARTUP, "-D")) - 224352 / 44100) < 1e-5
    with wave.open(str(STARTUP)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == \
            (2, 2, 44100, 224352)
        assert w.getcomptype() == "NONE"


def test_chime_level_and_silent_ends():
    _, left, _, blob = ReadWave(STARTUP)
    both = struct.unpack_from("<448704h", blob, 78)
    peak = max(abs(v) for v in both) / 32768.0
    stat = SoxStat(STARTUP)
    assert abs(max(stat["Maximum amplitude"], -stat["Minimum amplitude"]) - peak) < 1e-4
    assert -6.0 < Db(peak) < -1.0, "chime should be clearly audible but never clip"
    assert max(abs(v) for v in both[: 2 * MS // 4]) < 0.02 * 32768, "starts with a click"
    tail = both[-2 * 50 * MS:]
    assert Db(Rms(tail) / 32768) < -60.0, "does not fade to silence"
    assert both[-2:] == (0, 0)


def test_chime_opens_on_c5_and_closes_on_a_c_chord():
    _, left, _, _ = ReadWave(STARTUP)
    first = left[20 * MS:120 * MS]           # before the second note at 130 ms
    assert Goertzel(first, 523.25) > 20 * Goertzel(first, 587.33)
    assert Goertzel(first, 523.25) > 20 * Goertzel(first, 466.16)
    chord = left[1100 * MS:1600 * MS]
    assert Goertzel(chord, 261.63) > 20 * Goertzel(chord, 293.66)


# ---- demo kits ----

def test_gen_kits_needs_the_snd_folder():
    run = subprocess.run([sys.executable, str(GEN_KITS)], capture_output=True, text=True)
    assert run.returncode == 2 and "usage" in run.stderr


def test_every_kit_is_complete(snd):
    assert sorted(p.name for p in snd.iterdir()) == sorted(KIT_NAMES + ["Finish.wav"])
    for kit in KIT_NAMES:
        names = sorted(p.name for p in (snd / kit).iterdir())
        assert names == [l + ".WAV" for l in LETTERS]


def test_kit_generator_is_deterministic(snd, tmp_path):
    again = tmp_path / "SND"
    RunKitGenerator(again)
    for path in KitFiles(snd):
        other = again / path.relative_to(snd)
        assert path.read_bytes() == other.read_bytes(), "%s differs between runs" % path


def test_format_fields(decoded):
    for path, (fmt, samples) in decoded.items():
        assert fmt["tag"] == 1 and fmt["rate"] == 44100 and fmt["bits"] == 16, path
        assert fmt["channels"] in (1, 2), path
        assert fmt["align"] == 2 * fmt["channels"], path
        assert fmt["byte_rate"] == 44100 * fmt["align"], path
        with wave.open(str(path)) as w:
            assert w.getnframes() == len(samples), path
        seconds = len(samples) / 44100
        assert 0.15 <= seconds <= 2.05, (path, seconds)
    long_enough = [p for p, (_, s) in decoded.items() if len(s) >= 0.2 * 44100]
    assert len(long_enough) >= 0.9 * len(decoded)


def test_peaks_near_minus_one_dbfs_and_sox_agrees(decoded):
    for path, (_, samples) in decoded.items():
        peak = max(abs(v) for v in samples) / 32768.0
        assert -1.5 <= Db(peak) <= -0.5, (path, Db(peak))
        stat = SoxStat(path)
        sox_peak = max(stat["Maximum amplitude"], -stat["Minimum amplitude"])
        assert abs(sox_peak - peak) < 1e-4, path
        assert abs(stat["Length (seconds)"] - len(samples) / 44100) < 1e-4, path
        assert abs(float(SoxInfo(path, "-D")) - len(samples) / 44100) < 1e-4, path


def test_no_clicks_at_start_or_end(decoded):
    for path, (_, samples) in decoded.items():
        assert abs(samples[0]) <= 0.01 * 32768, path
        # The first quarter millisecond is still inside the fade-in.
        assert max(abs(v) for v in samples[: MS // 4]) <= 0.1 * 32768, path
        assert Db(Rms(samples[-MS:]) / 32768) < -40.0, path
        assert max(abs(v) for v in samples[-MS // 4:]) <= 0.01 * 32768, path


def test_sounds_of_a_kit_are_distinct(decoded, snd):
    for kit in KIT_NAMES:
        paths = [snd / kit / (l + ".WAV") for l in LETTERS]
        digests = {hashlib.sha256(p.read_bytes()).hexdigest() for p in paths}
        assert len(digests) == 26, "%s has identical files" % kit
        feats = {}
        for p in paths:
            s = decoded[p][1]
            feats[p.name] = (BandLevels(s), DecayTime(s))
        names = sorted(feats)
        for i, a in enumerate(names):
            for b in names[i + 1:]:
                (ba, da), (bb, db) = feats[a], feats[b]
                # Two hits are alike when both their spectral shape (within 2 dB RMS
                # over the bands) and their ring time (within a factor 1.5) match.
                shape = math.sqrt(sum((x - y) ** 2 for x, y in zip(ba, bb)) / len(ba))
                ring = abs(math.log(da / db))
                assert shape > 2.0 or ring > math.log(1.5), \
                    "%s: %s and %s sound alike (%.2f dB, %.2f s, %.2f s)" % (kit, a, b, shape, da, db)


def test_hi_hat_family_sits_on_h_j_k_l(decoded, snd):
    for kit in KIT_NAMES:
        s = {l: decoded[snd / kit / (l + ".WAV")][1] for l in "ahjkl"}
        for l in "hjkl":
            assert Centroid(s[l]) > 4000, (kit, l)
        assert Centroid(s["a"]) < 500, (kit, "kick on A")
        decay = {l: DecayTime(s[l]) for l in "hjkl"}
        # Closed and pedal are short, half-open rings longer, open longest.
        assert decay["h"] < decay["k"] < decay["l"], (kit, decay)
        assert decay["j"] < decay["k"], (kit, decay)


def test_finish_is_a_short_bright_blip(decoded, snd):
    samples = decoded[snd / "Finish.wav"][1]
    assert len(samples) / 44100 <= 0.5
    assert Centroid(samples) > 1000


# ---- help file ----

MENU_ITEMS = [
    "鼓源设定(&g)", "删除当前选中鼓源(&D)", "退出(&E)",
    "声效设定(&s)", "声卡选择(&c)", "增加鼓源音量(&U)", "减小鼓源音量(&D)",
    "打开背景音乐(&O)", "设置背景音乐循环(&R)", "暂停背景音乐(&S)", "播放背景音乐(&P)",
    "增加背景音量(&M)", "减小背景音量(&W)", "背景音乐快进(&F)", "背景音乐快退(&B)",
    "重复敲击(&P)", "独占输出(&X)", "独占输出(未生效)(&X)", "开始录音(&T)", "停止录音(&T)",
    "帮助(&H)", "访问官方主页(&V)", "阅读帮助文件(&R)", "关于(&A)",
    "编辑键位(&M)", "余音叠加(&Y)", "按住只响一次(&E)",
]
KEYS = ["Home", "End", "Page Up", "Page Down", "Insert", "空格", "小键盘 +", "小键盘 -",
        "F3", "F4", "F5", "F6", "F7", "1～9、0", "H J K L"]
CONFIG = ["Config.ini", "[鼓源]", "鼓源音量", "鼓源索引", "[选项]", "重复敲击", "背景音量",
          "bgm1", "bgm10", "关闭提示=0", "关闭提示=1", "独占输出=0", "余音叠加=0", "按住只响一次=0"]
TOPICS = ["SND", "a.WAV", "z.WAV", "Finish.wav", "_已排除", "bass.dll", "0.05", "0.01", "2.8", "录音中",
          "键位.ini", "[键位]", "[闷音组]", "a-2.WAV", "0.316", "找不到"]


def test_readme_is_utf8_with_lf_and_fits_gbk():
    raw = README.read_bytes()
    assert not raw.startswith(b"\xef\xbb\xbf"), "no byte-order mark"
    assert b"\r" not in raw
    text = raw.decode("utf-8")
    text.encode("gbk")  # the package converts it to GBK; every character must exist there
    assert text.endswith("\n")


def test_readme_covers_every_menu_item_key_and_setting():
    text = README.read_text(encoding="utf-8")
    missing = [w for w in MENU_ITEMS + KEYS + CONFIG + TOPICS if w not in text]
    assert not missing, missing
    for answer in ("是", "否", "取消"):
        assert text.count(answer) >= 2


def test_readme_says_nothing_about_how_it_was_made():
    text = README.read_text(encoding="utf-8").lower()
    for word in ("python", "gen_kits", "gen_chime", "tools/", "生成器"):
        assert word not in text
