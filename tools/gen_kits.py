#!/usr/bin/env python3
"""Synthesises the two demo drum kits and the shared confirmation sample.

Usage: gen_kits.py <SND folder>
Creates <SND>/原声鼓/a.WAV .. z.WAV, <SND>/电子鼓/a.WAV .. z.WAV and
<SND>/Finish.wav: mono, 44,100 Hz, 16-bit PCM, each normalised to 0.89 of
full scale (about -1 dBFS), with a short fade in and out so no hit clicks.
H, J, K and L hold the hi-hat family (closed, pedal, half-open, open)
because the program chokes those four keys together.

Standard library only; noise comes from seeded generators, so every run
writes the same bytes.
"""
import cmath
import math
import os
import random
import struct
import sys

RATE = 44100
PEAK = 0.89
FADE_IN_S = 0.0015
FADE_OUT_S = 0.02
TWO_PI = 2.0 * math.pi


# ---- building blocks: every signal is a list of floats at RATE ----

def Frames(seconds):
    return int(round(seconds * RATE))


def Noise(n, seed):
    rnd = random.Random(seed).random
    return [2.0 * rnd() - 1.0 for _ in range(n)]


def Decay(n, tau, hold=0.0):
    """Exponential decay with time constant tau (s), flat for the first hold seconds."""
    h = min(n, Frames(hold))
    out = [1.0] * h
    k = math.exp(-1.0 / (tau * RATE))
    g = 1.0
    for _ in range(n - h):
        out.append(g)
        g *= k
    return out


def Sweep(n, f_end, f_start, tau, phase=0.0):
    """Sine whose frequency glides exponentially from f_start to f_end (kick and tom bodies)."""
    out = [0.0] * n
    k = math.exp(-1.0 / (tau * RATE))
    d = f_start - f_end
    g = 1.0
    ph = phase
    c = TWO_PI / RATE
    sin = math.sin
    for i in range(n):
        out[i] = sin(ph)
        ph += c * (f_end + d * g)
        g *= k
    return out


def Modes(n, modes):
    """Sum of damped sines: modes are (frequency, amplitude, decay tau in s)."""
    out = [0.0] * n
    for f, a, tau in modes:
        if f >= RATE * 0.45:
            continue
        m = min(n, int(tau * 11.5 * RATE))  # down to -100 dB
        step = cmath.exp(complex(-1.0 / (tau * RATE), TWO_PI * f / RATE))
        z = complex(a, 0.0)
        for i in range(m):
            out[i] += z.imag
            z *= step
    return out


def Squares(n, freqs):
    """Sum of square waves: the metallic source of electronic hats and cymbals."""
    out = [0.0] * n
    for f in freqs:
        inc = f / RATE
        ph = 0.0
        for i in range(n):
            out[i] += 1.0 if ph < 0.5 else -1.0
            ph += inc
            if ph >= 1.0:
                ph -= 1.0
    return out


def Biquad(x, kind, f0, q):
    """RBJ cookbook biquad: 'lp', 'hp' or 'bp' (constant peak gain)."""
    w = TWO_PI * f0 / RATE
    cw, sw = math.cos(w), math.sin(w)
    alpha = sw / (2.0 * q)
    if kind == "lp":
        b0, b1, b2 = (1 - cw) / 2, 1 - cw, (1 - cw) / 2
    elif kind == "hp":
        b0, b1, b2 = (1 + cw) / 2, -(1 + cw), (1 + cw) / 2
    else:
        b0, b1, b2 = alpha, 0.0, -alpha
    a0, a1, a2 = 1 + alpha, -2 * cw, 1 - alpha
    b0, b1, b2, a1, a2 = b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0
    out = [0.0] * len(x)
    x1 = x2 = y1 = y2 = 0.0
    for i, v in enumerate(x):
        y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1 = x1, v
        y2, y1 = y1, y
        out[i] = y
    return out


def Mul(a, b):
    return [p * q for p, q in zip(a, b)]


def Mix(n, *parts):
    """Adds (gain, signal) pairs of any length into n frames."""
    out = [0.0] * n
    for gain, sig in parts:
        for i, v in enumerate(sig[:n]):
            out[i] += gain * v
    return out


def Drive(x, amount):
    """Soft saturation for grit (tanh)."""
    t = math.tanh
    return [t(amount * v) for v in x]


def Bursts(n, times, tau):
    """Envelope of several quick re-attacks, the flam of a hand clap."""
    env = [0.0] * n
    k = math.exp(-1.0 / (tau * RATE))
    for t0 in times:
        g = 1.0
        for i in range(Frames(t0), n):
            env[i] = max(env[i], g)
            g *= k
            if g < 1e-4:
                break
    return env


def Finish(x):
    """Fades in and out, removes DC, normalises to PEAK and returns 16-bit integers."""
    n = len(x)
    mean = sum(x) / n
    x = [v - mean for v in x]
    fi, fo = Frames(FADE_IN_S), Frames(FADE_OUT_S)
    for i in range(fi):
        x[i] *= 0.5 - 0.5 * math.cos(math.pi * i / fi)
    for i in range(fo):
        x[n - 1 - i] *= 0.5 - 0.5 * math.cos(math.pi * i / fo)
    peak = max(abs(v) for v in x)
    scale = PEAK * 32767.0 / peak
    return [int(round(v * scale)) for v in x]


def WriteWave(path, samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE",
                         b"fmt ", 16, 1, 1, RATE, RATE * 2, 2, 16, b"data", len(data))
    with open(path, "wb") as f:
        f.write(header + data)


# ---- acoustic-like kit ----

def KickAcoustic():
    n = Frames(0.55)
    body = Mul(Sweep(n, 52.0, 140.0, 0.03), Decay(n, 0.16))
    beater = Mul(Biquad(Noise(n, 11), "bp", 2500.0, 0.8), Decay(n, 0.006))
    return Mix(n, (1.0, body), (0.5, beater))


def SnareAcoustic(seed=21, dur=0.42, wires=0.13, tone=1.0):
    n = Frames(dur)
    shell = Modes(n, [(185.0, 1.0, 0.06), (330.0, 0.5, 0.05), (487.0, 0.25, 0.03)])
    snares = Mul(Biquad(Biquad(Noise(n, seed), "hp", 1500.0, 0.7), "lp", 9000.0, 0.7),
                 Decay(n, wires))
    return Mix(n, (0.9 * tone, shell), (0.8, snares))


def RimShot():
    n = Frames(0.35)
    crack = Modes(n, [(460.0, 1.0, 0.02), (1220.0, 0.7, 0.015), (2850.0, 0.5, 0.01)])
    body = SnareAcoustic(seed=23, dur=0.35, wires=0.09, tone=0.8)
    return Mix(n, (1.2, crack), (0.8, body))


def CrossStick():
    n = Frames(0.22)
    click = Modes(n, [(1650.0, 1.0, 0.012), (2450.0, 0.6, 0.008), (720.0, 0.5, 0.02)])
    tick = Mul(Biquad(Noise(n, 31), "bp", 4000.0, 2.0), Decay(n, 0.003))
    return Mix(n, (1.0, click), (0.4, tick))


def Tom(f, dur, seed):
    n = Frames(dur)
    body = Mul(Sweep(n, f, f * 1.35, 0.04), Decay(n, dur * 0.3))
    over = Modes(n, [(f * 1.58, 0.3, dur * 0.12), (f * 2.14, 0.15, dur * 0.08)])
    stick = Mul(Biquad(Noise(n, seed), "bp", 1800.0, 1.0), Decay(n, 0.008))
    return Mix(n, (1.0, body), (1.0, over), (0.3, stick))


def HatAcoustic(dur, tau, seed, hold=0.0, pedal=False):
    n = Frames(dur)
    # Two thin discs: dense inharmonic partials above 3 kHz plus filtered noise.
    modes = Modes(n, [(3150.0 * r, 0.2, tau * 1.2) for r in (1.0, 1.37, 1.73, 2.11, 2.56, 3.03)])
    hiss = Biquad(Biquad(Noise(n, seed), "hp", 6500.0, 0.7), "bp", 10000.0, 0.9)
    env = Decay(n, tau, hold)
    parts = [(0.8, Mul(hiss, env)), (0.4, Mul(modes, env))]
    if pedal:
        # The foot closing the cymbals: a soft low chick before the shimmer.
        chick = Mul(Biquad(Noise(n, seed + 1), "bp", 900.0, 1.5), Decay(n, 0.015))
        parts.append((0.9, chick))
    return Mix(n, *parts)


def Cymbal(dur, tau, seed, base, spread, bright, attack_tau=0.0):
    n = Frames(dur)
    r = random.Random(seed)
    ratios = [1.0 + spread * r.random() * i for i in range(14)]
    metal = Modes(n, [(base * q, 0.3 / (1 + 0.1 * i), tau * (0.6 + 0.4 * r.random()))
                      for i, q in enumerate(ratios)])
    wash = Biquad(Biquad(Noise(n, seed + 1), "hp", bright, 0.7), "lp", 14000.0, 0.7)
    env = Decay(n, tau)
    parts = [(1.0, Mul(wash, env)), (0.5, metal)]
    if attack_tau:
        parts.append((0.8, Mul(Biquad(Noise(n, seed + 2), "bp", 5000.0, 0.8), Decay(n, attack_tau))))
    return Mix(n, *parts)


def China():
    return Drive(Cymbal(1.5, 0.35, 71, 420.0, 0.55, 2500.0, 0.03), 2.2)


def Ride():
    n = Frames(1.8)
    ping = Modes(n, [(3720.0, 0.5, 0.5), (5270.0, 0.3, 0.4), (2410.0, 0.25, 0.6)])
    return Mix(n, (1.0, Cymbal(1.8, 0.55, 81, 610.0, 0.35, 5000.0)), (1.0, ping))


def RideBell():
    n = Frames(1.2)
    return Modes(n, [(723.0, 1.0, 0.5), (1088.0, 0.7, 0.4), (1513.0, 0.5, 0.35),
                     (2261.0, 0.35, 0.3), (3017.0, 0.2, 0.25)])


def Cowbell():
    n = Frames(0.4)
    tone = Modes(n, [(562.0, 1.0, 0.09), (845.0, 0.8, 0.07), (1340.0, 0.3, 0.05)])
    return Mix(n, (1.0, Biquad(tone, "bp", 800.0, 1.2)), (0.3, tone))


def WoodBlock(f=1050.0, seed=91):
    n = Frames(0.2)
    tone = Modes(n, [(f, 1.0, 0.03), (f * 2.7, 0.4, 0.015)])
    knock = Mul(Biquad(Noise(n, seed), "bp", f * 2.0, 3.0), Decay(n, 0.004))
    return Mix(n, (1.0, tone), (0.3, knock))


def Shaker(seed=101, dur=0.24, centre=6500.0):
    n = Frames(dur)
    env = [math.sin(math.pi * min(1.0, i / n * 1.6)) ** 2 * math.exp(-i / (0.5 * n))
           for i in range(n)]
    return Mul(Biquad(Noise(n, seed), "bp", centre, 1.1), env)


def Tambourine():
    n = Frames(0.45)
    jingles = Modes(n, [(f, 0.3, 0.12) for f in (5300.0, 6150.0, 7020.0, 8240.0, 9370.0)])
    hiss = Mul(Biquad(Noise(n, 111), "hp", 6000.0, 0.7), Decay(n, 0.11))
    slap = Mul(Biquad(Noise(n, 112), "bp", 400.0, 1.0), Decay(n, 0.01))
    return Mix(n, (1.0, hiss), (0.6, jingles), (0.6, slap))


def Conga(f, dur, seed):
    n = Frames(dur)
    body = Modes(n, [(f, 1.0, dur * 0.3), (f * 1.5, 0.25, dur * 0.15), (f * 2.03, 0.1, dur * 0.08)])
    slap = Mul(Biquad(Noise(n, seed), "bp", 2200.0, 1.4), Decay(n, 0.006))
    return Mix(n, (1.0, body), (0.4, slap))


def Clave(f=2500.0):
    n = Frames(0.2)
    return Modes(n, [(f, 1.0, 0.03), (f * 3.1, 0.12, 0.01)])


def Triangle():
    n = Frames(1.6)
    return Modes(n, [(1270.0 * k, 0.9 / k, 1.5 / (1 + 0.25 * k)) for k in (1, 2.76, 5.40, 8.93)]
                 + [(1270.0 * 3.0, 0.3, 0.9)])


def Clap(seed, times, tail, centre):
    n = Frames(0.45)
    noise = Biquad(Noise(n, seed), "bp", centre, 1.4)
    return Mul(noise, [a + 0.6 * b for a, b in
                       zip(Bursts(n, times, 0.008), Bursts(n, [times[-1]], tail))])


def AcousticKit():
    return {
        "a": KickAcoustic(),
        "b": Shaker(),
        "c": Cowbell(),
        "d": RimShot(),
        "e": RideBell(),
        "f": Tom(82.0, 0.9, 41),
        "g": Tom(110.0, 0.8, 42),
        "h": HatAcoustic(0.20, 0.035, 51),
        "i": CrossStick(),
        "j": HatAcoustic(0.30, 0.05, 53, pedal=True),
        "k": HatAcoustic(0.55, 0.13, 55, hold=0.02),
        "l": HatAcoustic(1.20, 0.40, 57, hold=0.03),
        "m": Conga(395.0, 0.30, 121),
        "n": Conga(218.0, 0.45, 122),
        "o": Clap(131, [0.0, 0.011, 0.022, 0.031], 0.06, 1200.0),
        "p": Tambourine(),
        "q": Cymbal(2.0, 0.6, 61, 380.0, 0.5, 3500.0, 0.02),
        "r": Cymbal(1.0, 0.22, 65, 560.0, 0.4, 5500.0, 0.01),
        "s": SnareAcoustic(),
        "t": China(),
        "u": Tom(165.0, 0.6, 43),
        "v": WoodBlock(),
        "w": Ride(),
        "x": Clave(),
        "y": Tom(132.0, 0.7, 44),
        "z": Triangle(),
    }


# ---- electronic kit: drum-machine style voices ----

METAL = [205.3, 304.4, 369.6, 522.7, 540.0, 800.0]


def Kick808():
    n = Frames(1.3)
    body = Mul(Sweep(n, 48.0, 95.0, 0.05), Decay(n, 0.45))
    click = Mul(Sweep(n, 1000.0, 3000.0, 0.002), Decay(n, 0.002))
    return Mix(n, (1.0, body), (0.25, click))


def Kick909():
    n = Frames(0.38)
    body = Drive(Mul(Sweep(n, 58.0, 230.0, 0.015), Decay(n, 0.11)), 1.8)
    click = Mul(Biquad(Noise(n, 201), "hp", 3000.0, 0.7), Decay(n, 0.003))
    return Mix(n, (1.0, body), (0.4, click))


def Snare808():
    n = Frames(0.3)
    tones = Modes(n, [(238.0, 1.0, 0.05), (476.0, 0.6, 0.03)])
    snap = Mul(Biquad(Noise(n, 211), "hp", 1800.0, 0.7), Decay(n, 0.06))
    return Mix(n, (0.9, tones), (0.7, snap))


def Snare909():
    n = Frames(0.4)
    tones = Mul(Sweep(n, 190.0, 260.0, 0.01), Decay(n, 0.05))
    tones2 = Modes(n, [(330.0, 0.5, 0.04)])
    noise = Mul(Biquad(Biquad(Noise(n, 221), "hp", 700.0, 0.7), "lp", 12000.0, 0.7), Decay(n, 0.12))
    return Mix(n, (0.8, tones), (0.8, tones2), (1.0, noise))


def Tom808(f, dur):
    n = Frames(dur)
    return Mix(n, (1.0, Mul(Sweep(n, f, f * 1.15, 0.08), Decay(n, dur * 0.28))))


def Rim808():
    n = Frames(0.2)
    tone = Modes(n, [(1667.0, 1.0, 0.012), (455.0, 0.6, 0.015)])
    return Biquad(Drive(tone, 2.0), "hp", 300.0, 0.7)


def HatElectronic(dur, tau, seed, hold=0.0, pedal=False):
    n = Frames(dur)
    metal = Biquad(Biquad(Squares(n, METAL), "bp", 10000.0, 1.0), "hp", 7000.0, 0.7)
    hiss = Biquad(Noise(n, seed), "hp", 8000.0, 0.7)
    env = Decay(n, tau, hold)
    parts = [(1.0, Mul(metal, env)), (0.25, Mul(hiss, env))]
    if pedal:
        parts.append((0.6, Mul(Biquad(Squares(n, METAL), "bp", 3000.0, 2.0), Decay(n, 0.012))))
    return Mix(n, *parts)


def CymbalElectronic(dur, tau, seed, low, ring_to=None, grit=0.0):
    n = Frames(dur)
    metal = Biquad(Squares(n, [f * (ring_to or 1.0) for f in METAL]), "hp", low, 0.7)
    hiss = Biquad(Noise(n, seed), "hp", low * 1.3, 0.7)
    src = Mix(n, (1.0, metal), (0.5, hiss))
    if grit:
        src = Drive(src, grit)
    return Mul(src, Decay(n, tau))


def Ride909():
    n = Frames(1.6)
    metal = Biquad(Squares(n, [f * 1.9 for f in METAL]), "bp", 7000.0, 1.5)
    bell = Modes(n, [(2950.0, 0.4, 0.35), (4380.0, 0.25, 0.3)])
    return Mix(n, (1.0, Mul(metal, Decay(n, 0.5))), (1.0, bell))


def Cowbell808():
    n = Frames(0.35)
    sq = Squares(n, [540.0, 800.0])
    tone = Biquad(sq, "bp", 2640.0 / 3.0, 1.5)
    env = [a + 0.4 * b for a, b in zip(Decay(n, 0.012), Decay(n, 0.09))]
    return Mul(tone, env)


def Clap808():
    n = Frames(0.45)
    noise = Biquad(Noise(n, 231), "bp", 1000.0, 2.0)
    env = [a + 0.5 * b for a, b in zip(Bursts(n, [0.0, 0.009, 0.018], 0.004),
                                       Bursts(n, [0.027], 0.09))]
    return Mul(noise, env)


def Zap():
    n = Frames(0.3)
    return Mul(Sweep(n, 120.0, 2400.0, 0.025), Decay(n, 0.09))


def Blip(f, dur, fm_ratio, fm_index, tau):
    """Two-operator FM hit: bells, electronic bongos and the like."""
    n = Frames(dur)
    out = [0.0] * n
    env = Decay(n, tau)
    k = math.exp(-1.0 / (tau * 0.5 * RATE))
    idx = fm_index
    c = TWO_PI * f / RATE
    m = c * fm_ratio
    sin = math.sin
    for i in range(n):
        out[i] = sin(c * i + idx * sin(m * i)) * env[i]
        idx *= k
    return out


def ElectronicKit():
    return {
        "a": Kick808(),
        "b": Shaker(seed=241, dur=0.2, centre=9000.0),
        "c": Cowbell808(),
        "d": Kick909(),
        "e": Ride909(),
        "f": Tom808(75.0, 0.8),
        "g": Tom808(105.0, 0.65),
        "h": HatElectronic(0.20, 0.03, 251),
        "i": Rim808(),
        "j": HatElectronic(0.26, 0.045, 253, pedal=True),
        "k": HatElectronic(0.50, 0.12, 255, hold=0.02),
        "l": HatElectronic(1.00, 0.35, 257, hold=0.03),
        "m": Zap(),
        "n": Tom808(360.0, 0.28),
        "o": Clap808(),
        "p": Mix(Frames(0.3), (1.0, Shaker(seed=261, dur=0.3, centre=7000.0)),
                 (0.7, Modes(Frames(0.3), [(7400.0, 0.3, 0.06), (8900.0, 0.3, 0.05)]))),
        "q": CymbalElectronic(2.0, 0.6, 271, 5000.0),
        "r": CymbalElectronic(0.9, 0.2, 273, 7000.0, ring_to=1.4),
        "s": Snare808(),
        "t": CymbalElectronic(1.4, 0.35, 275, 2500.0, ring_to=0.8, grit=3.0),
        "u": Tom808(145.0, 0.5),
        "v": Clave(1850.0),
        "w": Snare909(),
        "x": Blip(620.0, 0.25, 1.5, 2.0, 0.07),
        "y": WoodBlock(f=780.0, seed=281),
        "z": Blip(1480.0, 1.4, 3.5, 3.0, 0.45),
    }


def Confirmation():
    """Finish.wav: two quick rising tones, bright and short."""
    n = Frames(0.26)
    first = Blip(1318.5, 0.26, 2.0, 1.2, 0.05)
    second = [0.0] * Frames(0.075) + Blip(1975.5, 0.26 - 0.075, 2.0, 1.2, 0.07)
    return Mix(n, (0.8, first), (1.0, second))


KITS = [("原声鼓", AcousticKit), ("电子鼓", ElectronicKit)]


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: gen_kits.py <SND folder>\n")
        return 2
    snd = argv[1]
    os.makedirs(snd, exist_ok=True)
    for name, build in KITS:
        folder = os.path.join(snd, name)
        os.makedirs(folder, exist_ok=True)
        sounds = build()
        assert sorted(sounds) == [chr(c) for c in range(ord("a"), ord("z") + 1)]
        for letter, signal in sounds.items():
            WriteWave(os.path.join(folder, letter + ".WAV"), Finish(signal))
    WriteWave(os.path.join(snd, "Finish.wav"), Finish(Confirmation()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
