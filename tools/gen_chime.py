#!/usr/bin/env python3
"""Synthesises the built-in start-up chime: assets/startup.wav.

A rising C major arpeggio of bell-like notes, a soft closing chord and a
small feedback-delay reverb, fading to silence. The program plays the file
straight from its resource with the system's wave output, so the layout is
fixed: PCM, 2 channels, 44,100 Hz, 16 bits, 897,408 data bytes and
897,486 bytes in all. The 78-byte header is RIFF (12) + fmt (24) +
LIST/INFO (34) + data header (8).

Standard library only and deterministic: the same bytes on every run.
Usage: gen_chime.py [output path]   (default: assets/startup.wav)
"""
import cmath
import math
import os
import struct
import sys

RATE = 44100
CHANNELS = 2
BITS = 16
DATA_BYTES = 897408
FILE_BYTES = 897486
FRAMES = DATA_BYTES // (CHANNELS * BITS // 8)  # 224,352 frames, about 5.09 s
PEAK = 0.70                                      # about -3 dBFS: a greeting, not an alarm
INFO_NAME = b"Startup chime\x00"                 # 14 bytes, so the LIST chunk is 34

# (onset in seconds, frequency in Hz, pan -1 left .. 1 right, level)
NOTES = [
    (0.00, 523.25, -0.45, 1.00),   # C5
    (0.13, 659.26, -0.15, 0.90),   # E5
    (0.26, 783.99, 0.15, 0.85),    # G5
    (0.39, 1046.50, 0.45, 0.80),   # C6
    (0.56, 1174.66, 0.25, 0.55),   # D6, the add9 colour
    (0.92, 261.63, 0.00, 0.60),    # closing chord: C4
    (0.92, 392.00, -0.20, 0.45),   # G4
    (0.93, 659.26, 0.20, 0.40),    # E5
    (0.94, 1318.51, 0.35, 0.25),   # E6
]

# Bell partials: (frequency ratio, relative amplitude, decay time in s at 523 Hz).
# The slightly stretched upper ratios give the glassy shimmer.
PARTIALS = [
    (1.0, 1.00, 1.40),
    (2.0, 0.45, 0.80),
    (3.0, 0.20, 0.45),
    (4.07, 0.10, 0.28),
    (5.43, 0.05, 0.18),
]
ATTACK_S = 0.004


def RenderDry():
    """Sums every partial of every note into two channels, as damped complex rotations."""
    left = [0.0] * FRAMES
    right = [0.0] * FRAMES
    attack_n = int(ATTACK_S * RATE)
    for onset, freq, pan, level in NOTES:
        start = int(round(onset * RATE))
        # Equal-power pan.
        angle = (pan + 1.0) * math.pi / 4.0
        gain_l, gain_r = math.cos(angle), math.sin(angle)
        for ratio, amp, decay in PARTIALS:
            f = freq * ratio
            if f > 16000.0:
                continue
            # Higher notes ring shorter, as on a real bell.
            tau = decay * (523.25 / freq) ** 0.5
            n = min(FRAMES - start, int(tau * math.log(1e5) * RATE))
            step = cmath.exp(complex(-1.0 / (tau * RATE), 2.0 * math.pi * f / RATE))
            z = complex(0.0, 0.0) + level * amp
            al, ar = gain_l, gain_r
            for i in range(n):
                v = z.imag
                if i < attack_n:
                    v *= i / attack_n
                left[start + i] += al * v
                right[start + i] += ar * v
                z *= step
    return left, right


def Reverb(left, right):
    """Four-line feedback delay network with a Householder mix and gentle damping."""
    lengths = [1601, 1867, 2053, 2251]
    feedback = 0.80
    damp = 0.35
    lines = [[0.0] * n for n in lengths]
    pos = [0, 0, 0, 0]
    lp = [0.0, 0.0, 0.0, 0.0]
    wet_l = [0.0] * FRAMES
    wet_r = [0.0] * FRAMES
    for i in range(FRAMES):
        x = 0.5 * (left[i] + right[i])
        d0 = lines[0][pos[0]]
        d1 = lines[1][pos[1]]
        d2 = lines[2][pos[2]]
        d3 = lines[3][pos[3]]
        wet_l[i] = d0 - d2
        wet_r[i] = d1 - d3
        half = 0.5 * (d0 + d1 + d2 + d3)
        outs = (d0 - half, d1 - half, d2 - half, d3 - half)
        for k in range(4):
            lp[k] += (1.0 - damp) * (outs[k] - lp[k])
            lines[k][pos[k]] = x + feedback * lp[k]
            pos[k] += 1
            if pos[k] == lengths[k]:
                pos[k] = 0
    return wet_l, wet_r


def Render():
    """Returns the interleaved 16-bit samples of the finished chime."""
    dry_l, dry_r = RenderDry()
    wet_l, wet_r = Reverb(dry_l, dry_r)
    mix_l = [d + 0.22 * w for d, w in zip(dry_l, wet_l)]
    mix_r = [d + 0.22 * w for d, w in zip(dry_r, wet_r)]

    # The tail fades to exact silence over the last 0.9 s.
    fade_n = int(0.9 * RATE)
    for i in range(fade_n):
        g = 0.5 - 0.5 * math.cos(math.pi * i / fade_n)
        mix_l[FRAMES - 1 - i] *= g
        mix_r[FRAMES - 1 - i] *= g

    peak = max(max(abs(v) for v in mix_l), max(abs(v) for v in mix_r))
    scale = PEAK * 32767.0 / peak
    out = [0] * (2 * FRAMES)
    out[0::2] = [int(round(v * scale)) for v in mix_l]
    out[1::2] = [int(round(v * scale)) for v in mix_r]
    return out


def BuildWave(samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    assert len(data) == DATA_BYTES
    block_align = CHANNELS * BITS // 8
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, CHANNELS, RATE,
                      RATE * block_align, block_align, BITS)
    info = b"INFO" + struct.pack("<4sI", b"INAM", len(INFO_NAME)) + INFO_NAME
    assert len(INFO_NAME) % 2 == 0
    listchunk = struct.pack("<4sI", b"LIST", len(info)) + info
    body = b"WAVE" + fmt + listchunk + struct.pack("<4sI", b"data", len(data)) + data
    wave = struct.pack("<4sI", b"RIFF", len(body)) + body
    assert len(wave) - DATA_BYTES == 78
    assert len(wave) == FILE_BYTES
    return wave


def main(argv):
    if len(argv) > 2:
        sys.stderr.write("usage: gen_chime.py [output path]\n")
        return 2
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = argv[1] if len(argv) == 2 else os.path.join(root, "assets", "startup.wav")
    wave = BuildWave(Render())
    with open(path, "wb") as f:
        f.write(wave)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
