"""Reading, writing and comparing sound for the end-to-end tests.

Standard library only. A recording is a list of mono floats in -1..1 at
44,100 Hz (the null sink's monitor, channels averaged). Comparisons take a
reference excerpt a little after its onset, so a few milliseconds lost at
the start of a recording do not matter.
"""
import array
import cmath
import math
import operator
import struct
import sys
import wave

RATE = 44100


def read_s16le(path, channels=2):
    """Raw little-endian 16-bit PCM as mono floats (channels averaged)."""
    data = array.array("h")
    with open(path, "rb") as f:
        raw = f.read()
    raw = raw[: len(raw) - len(raw) % (2 * channels)]
    data.frombytes(raw)
    if sys.byteorder == "big":
        data.byteswap()
    scale = 1.0 / (32768.0 * channels)
    if channels == 1:
        return [s / 32768.0 for s in data]
    return [sum(data[i:i + channels]) * scale for i in range(0, len(data), channels)]


def read_wav(path):
    """A PCM WAV file (8 or 16 bit) as (rate, mono floats)."""
    with wave.open(str(path), "rb") as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        raw = w.readframes(w.getnframes())
    if width == 2:
        data = array.array("h")
        data.frombytes(raw)
        if sys.byteorder == "big":
            data.byteswap()
        scale = 1.0 / (32768.0 * channels)
    elif width == 1:
        data = [b - 128 for b in raw]
        scale = 1.0 / (128.0 * channels)
    else:
        raise ValueError("unsupported sample width %d" % width)
    if channels == 1:
        return rate, [s * scale for s in data]
    return rate, [sum(data[i:i + channels]) * scale for i in range(0, len(data), channels)]


def tone(freq, seconds, rate=RATE, amplitude=0.5, fade=0.005):
    """A sine tone with short linear fades, so that it starts and ends without a click."""
    n = int(round(seconds * rate))
    ramp = max(1, int(fade * rate))
    out = []
    step = 2.0 * math.pi * freq / rate
    for i in range(n):
        g = min(1.0, i / ramp, (n - 1 - i) / ramp)
        out.append(amplitude * g * math.sin(step * i))
    return out


def write_wav(path, samples, rate=RATE, channels=1):
    """Mono floats as a 16-bit PCM WAV; with channels=2 the same signal on both sides."""
    pcm = array.array("h", (max(-32768, min(32767, int(round(s * 32767)))) for s in samples for _ in range(channels)))
    if sys.byteorder == "big":
        pcm.byteswap()
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())


def write_tone(path, freq, seconds=0.3, rate=RATE, channels=1, amplitude=0.5):
    """Writes a short sine tone WAV; returns its samples (mono)."""
    samples = tone(freq, seconds, rate, amplitude)
    write_wav(path, samples, rate, channels)
    return samples


def tone_level(samples, freq, rate=RATE):
    """Amplitude of one frequency in a mono signal (a single DFT bin)."""
    if not samples:
        return 0.0
    re_ = im = 0.0
    w = 2 * math.pi * freq / rate
    for i, s in enumerate(samples):
        re_ += s * math.cos(w * i)
        im += s * math.sin(w * i)
    return 2 * math.hypot(re_, im) / len(samples)


def envelope(samples, window=64):
    """Peak of |x| per block of `window` samples."""
    return [max(abs(s) for s in samples[i:i + window]) for i in range(0, len(samples) - window + 1, window)]


def onsets(samples, threshold=0.05, window=64, min_gap=0.05, rate=RATE):
    """Sample positions where the level rises to threshold after at least
    min_gap seconds below half of it (hysteresis, so fades do not count twice)."""
    env = envelope(samples, window)
    quiet_blocks = max(1, int(min_gap * rate / window))
    found, sounding, quiet = [], False, 0
    for i, level in enumerate(env):
        if not sounding:
            if level >= threshold:
                # Refine to the first sample of the block at the threshold.
                start = i * window
                start = next((j for j in range(start, start + window) if abs(samples[j]) >= threshold), start)
                found.append(start)
                sounding, quiet = True, 0
        elif level < threshold / 2:
            quiet += 1
            sounding = quiet < quiet_blocks
        else:
            quiet = 0
    return found


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0.0


def peak(samples):
    return max((abs(s) for s in samples), default=0.0)


def _ncc_at(recording, excerpt, pos, excerpt_energy):
    seg = recording[pos:pos + len(excerpt)]
    if len(seg) < len(excerpt):
        return 0.0
    dot = sum(a * b for a, b in zip(seg, excerpt))
    energy = sum(a * a for a in seg)
    if energy <= 0.0 or excerpt_energy <= 0.0:
        return 0.0
    return dot / math.sqrt(energy * excerpt_energy)


def excerpt_after_onset(reference, skip=0.01, length=0.05, rate=RATE, threshold=0.02):
    """The part of a reference that the recording must contain: `length`
    seconds starting `skip` seconds after the reference's own onset.
    Returns (offset from the onset in samples, excerpt)."""
    start = next((i for i, s in enumerate(reference) if abs(s) >= threshold), 0)
    a = start + int(skip * rate)
    return a - start, reference[a:a + int(length * rate)]


def match(recording, reference, near=None, search=0.05, skip=0.01, length=0.05, rate=RATE):
    """Best normalised cross-correlation of the reference excerpt against the
    recording, searched within `search` seconds around the expected place.

    near: where the reference's onset is expected in the recording (a sample
    index); by default every onset of the recording is tried.
    Returns (score, position of the reference's onset in the recording).
    """
    offset, excerpt = excerpt_after_onset(reference, skip, length, rate)
    if not excerpt:
        raise ValueError("reference too short for the excerpt")
    excerpt_energy = sum(s * s for s in excerpt)
    candidates = [near] if near is not None else onsets(recording, rate=rate)
    radius = int(search * rate)
    results = []
    for c in candidates:
        # A periodic sound matches equally well one period later: among equal
        # scores the lag nearest to the expected place wins.
        expected = c + offset

        def key(sp):
            return round(sp[0], 3), -abs(sp[1] - expected)

        lo, hi = max(0, expected - radius), expected + radius
        # Coarse pass every 4 samples, then refine around the best lag.
        coarse = max(((_ncc_at(recording, excerpt, p, excerpt_energy), p) for p in range(lo, hi, 4)),
                     key=key, default=(0.0, lo))
        fine = max(((_ncc_at(recording, excerpt, p, excerpt_energy), p)
                    for p in range(max(0, coarse[1] - 4), coarse[1] + 5)), key=key)
        results.append((key(fine), fine[0], fine[1] - offset))
    if not results:
        return 0.0, None
    _, score, at = max(results)
    return score, at


def highpass(samples, cutoff, rate=RATE):
    """Second-order Butterworth high-pass (an RBJ biquad): keeps a click's
    band and takes out background music well below `cutoff`."""
    w0 = 2 * math.pi * cutoff / rate
    cos_w0, alpha = math.cos(w0), math.sin(w0) / math.sqrt(2)
    a0 = 1 + alpha
    b0 = b2 = (1 + cos_w0) / 2 / a0
    b1 = -(1 + cos_w0) / a0
    a1, a2 = -2 * cos_w0 / a0, (1 - alpha) / a0
    out = []
    x1 = x2 = y1 = y2 = 0.0
    for x in samples:
        y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        out.append(y)
        x1, x2, y1, y2 = x, x1, y, y1
    return out


def tone_blocks(samples, freq, block=None, rate=RATE):
    """The tone `freq` in each block of `block` samples (default one period),
    as a complex amplitude: abs() its level, phase() its phase. The block must
    hold a whole number of periods, so that any sound at a whole multiple of
    the block's frequency does not leak into the figure."""
    block = block or int(round(rate / freq))
    periods = block * freq / rate
    if abs(periods - round(periods)) > 1e-9 or round(periods) < 1:
        raise ValueError("%d samples are not a whole number of periods of %g Hz" % (block, freq))
    w = 2 * math.pi * freq / rate
    cos_t = [math.cos(w * i) for i in range(block)]
    sin_t = [math.sin(w * i) for i in range(block)]
    out = []
    for start in range(0, len(samples) - block + 1, block):
        seg = samples[start:start + block]
        re_ = sum(map(operator.mul, seg, cos_t))
        im = sum(map(operator.mul, seg, sin_t))
        out.append(complex(re_, -im) * (2.0 / block))
    return block, out


def dropouts(samples, freq, block=None, rate=RATE, level_tolerance=0.25, phase_tolerance=15.0, merge=0.02):
    """Where a steady tone in `samples` breaks: blocks whose level strays from
    the median level by more than `level_tolerance` (a gap, an overlap) and
    blocks whose phase moved by more than `phase_tolerance` degrees since the
    last block at a good level (frames skipped or repeated). Sounds at whole
    multiples of the block's frequency do not count. Breaks closer than
    `merge` seconds are one. Returns [(first sample, end sample, kinds)],
    kinds a sorted tuple of "level" and "phase"."""
    block, tones = tone_blocks(samples, freq, block, rate)
    if not tones:
        return []
    levels = sorted(abs(t) for t in tones)
    typical = levels[len(levels) // 2]
    if typical == 0:
        # The tone is missing from most of it: one break throughout.
        return [(0, len(tones) * block, ("level",))]
    bad = []
    reference = None
    for i, t in enumerate(tones):
        kinds = set()
        if abs(abs(t) - typical) > level_tolerance * typical:
            kinds.add("level")
        else:
            if reference is not None:
                turn = math.degrees(abs(cmath.phase(t / reference)))
                if turn > phase_tolerance:
                    kinds.add("phase")
            reference = t
        if kinds:
            bad.append((i * block, (i + 1) * block, kinds))
    events = []
    gap = int(merge * rate)
    for start, end, kinds in bad:
        if events and start - events[-1][1] <= gap:
            events[-1][1] = end
            events[-1][2] |= kinds
        else:
            events.append([start, end, set(kinds)])
    return [(s, e, tuple(sorted(k))) for s, e, k in events]


def wav_layout(path):
    """The chunks of a RIFF WAV file as written, without trusting its sizes:
    {"file": bytes on disk, "riff": RIFF size, "rate", "channels", "bits",
    "format", "data_at": offset of the data, "data": data chunk size}.
    Raises ValueError when the file is no RIFF WAVE file."""
    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) < 12 or raw[:4] != b"RIFF" or raw[8:12] != b"WAVE":
        raise ValueError("%s: no RIFF WAVE header" % path)
    out = {"file": len(raw), "riff": struct.unpack_from("<I", raw, 4)[0]}
    at = 12
    while at + 8 <= len(raw):
        cid, size = raw[at:at + 4], struct.unpack_from("<I", raw, at + 4)[0]
        if cid == b"fmt ":
            fmt, ch, rate, _, _, bits = struct.unpack_from("<HHIIHH", raw, at + 8)
            out.update(format=fmt, channels=ch, rate=rate, bits=bits)
        elif cid == b"data":
            out.update(data_at=at + 8, data=size)
            return out
        at += 8 + size + (size & 1)
    raise ValueError("%s: no data chunk" % path)


def ncc(a, b):
    """Normalised correlation of two equally long signals (1.0: the same shape)."""
    dot = sum(map(operator.mul, a, b))
    ea = sum(map(operator.mul, a, a))
    eb = sum(map(operator.mul, b, b))
    return dot / math.sqrt(ea * eb) if ea > 0 and eb > 0 else 0.0
