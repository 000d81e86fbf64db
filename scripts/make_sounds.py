#!/usr/bin/env python3
"""Synthesises the eight reminder sounds into assets/sound (22050 Hz, mono, 16-bit WAV).

Each sound is made from scratch here (oscillators, noise and envelopes), so the repository owns
every sample it ships. Each one is shorter than the pause the announcement makes after starting
it. Run: python3 scripts/make_sounds.py [OUTDIR]
"""
import math
import os
import random
import struct
import sys
import wave

RATE = 22050
TAU = 2 * math.pi


def silence(seconds):
    return [0.0] * int(seconds * RATE)


def envelope(n, attack, release, total):
    """Linear attack, exponential-ish release, over n samples of a `total`-second sound."""
    a = max(1, int(attack * RATE))
    r = max(1, int(release * RATE))
    out = []
    for i in range(n):
        g = 1.0
        if i < a:
            g = i / a
        if i > n - r:
            g *= max(0.0, (n - i) / r) ** 1.5
        out.append(g)
    return out


def tone(freqs, seconds, attack=0.01, release=0.05, vibrato=0.0, vib_rate=5.0, shape="sine", glide=0.0):
    n = int(seconds * RATE)
    env = envelope(n, attack, release, seconds)
    out = []
    phases = [0.0] * len(freqs)
    for i in range(n):
        t = i / RATE
        s = 0.0
        for k, (f, amp) in enumerate(freqs):
            fi = f * (1 + glide * t / seconds) * (1 + vibrato * math.sin(TAU * vib_rate * t))
            phases[k] += TAU * fi / RATE
            p = phases[k]
            if shape == "sine":
                s += amp * math.sin(p)
            elif shape == "square":
                s += amp * math.tanh(4 * math.sin(p))
            elif shape == "saw":
                s += amp * (2 * ((p / TAU) % 1.0) - 1)
        out.append(s * env[i])
    return out


def mix(*parts):
    n = max(len(p) for p in parts)
    out = [0.0] * n
    for p in parts:
        for i, v in enumerate(p):
            out[i] += v
    return out


def concat(*parts):
    out = []
    for p in parts:
        out.extend(p)
    return out


def lowpass(samples, cutoff):
    rc = 1.0 / (TAU * cutoff)
    alpha = (1.0 / RATE) / (rc + 1.0 / RATE)
    out, y = [], 0.0
    for x in samples:
        y += alpha * (x - y)
        out.append(y)
    return out


def highpass(samples, cutoff):
    low = lowpass(samples, cutoff)
    return [x - l for x, l in zip(samples, low)]


def normalise(samples, peak=0.85):
    m = max(1e-9, max(abs(s) for s in samples))
    return [s * peak / m for s in samples]


def cuckoo(rng):
    call = concat(tone([(740, 1.0), (1480, 0.15)], 0.22, 0.01, 0.08), silence(0.05),
                  tone([(588, 1.0), (1176, 0.15)], 0.32, 0.01, 0.2))
    return concat(call, silence(0.18), call, silence(0.05))


def bell(rng):
    def strike(f):
        n = int(0.65 * RATE)
        partials = [(1.0, 1.0, 2.5), (2.76, 0.6, 4.0), (5.40, 0.35, 6.0), (8.93, 0.2, 9.0), (0.5, 0.3, 1.5)]
        taper = int(0.03 * RATE)  # fade the last moments so the strike ends without a click
        return [sum(a * math.exp(-d * i / RATE) * math.sin(TAU * f * r * i / RATE) for r, a, d in partials)
                * min(1.0, (n - i) / taper) for i in range(n)]
    return concat(strike(880), strike(880), silence(0.05))


def horn(rng):
    honk = lambda s: tone([(415, 0.6), (523, 0.5), (830, 0.15)], s, 0.02, 0.05, shape="square")
    return concat(honk(0.35), silence(0.12), honk(0.9), silence(0.1))


def train(rng):
    n = int(1.8 * RATE)
    chord = tone([(440, 0.5), (554, 0.4), (659, 0.35), (880, 0.1)], 1.8, 0.25, 0.5, vibrato=0.004, vib_rate=6)
    breath = highpass([rng.uniform(-1, 1) for _ in range(n)], 1500)
    env = envelope(n, 0.3, 0.5, 1.8)
    return concat(mix(chord, [0.12 * b * e for b, e in zip(breath, env)]), silence(0.05))


def foghorn(rng):
    body = tone([(98, 1.0), (196, 0.6), (294, 0.35), (392, 0.2), (490, 0.1)], 2.7, 0.5, 0.9,
                vibrato=0.003, vib_rate=3, shape="saw")
    return concat(lowpass(body, 900), silence(0.1))


def ahoh(rng):
    def vowel(f0, seconds, formants, glide):
        n = int(seconds * RATE)
        env = envelope(n, 0.03, 0.12, seconds)
        out, phase = [], 0.0
        for i in range(n):
            f = f0 * (1 + glide * i / n)
            phase += TAU * f / RATE
            s = 0.0
            for h in range(1, 25):
                fh = h * f
                # weight each harmonic by its closeness to the vowel's formants
                w = sum(a / (1 + ((fh - fc) / bw) ** 2) for fc, bw, a in formants)
                s += w * math.sin(h * phase) / h ** 0.5
            out.append(s * env[i])
        return out
    uh = vowel(300, 0.32, [(640, 90, 1.0), (1190, 110, 0.5)], -0.05)
    oh = vowel(225, 0.55, [(450, 80, 1.0), (800, 100, 0.5)], -0.12)
    return concat(uh, silence(0.08), oh, silence(0.1))


def clap(rng):
    total = 3.3
    out = [0.0] * int(total * RATE)
    for _ in range(260):
        start = rng.uniform(0.0, total - 0.15)
        # the crowd swells in and dies away
        crowd = math.sin(math.pi * start / total) ** 0.6
        amp = rng.uniform(0.3, 1.0) * crowd
        length = int(rng.uniform(0.02, 0.06) * RATE)
        s0 = int(start * RATE)
        for i in range(length):
            if s0 + i < len(out):
                out[s0 + i] += amp * rng.uniform(-1, 1) * math.exp(-i / (0.008 * RATE))
    return highpass(out, 700)


def explode(rng):
    total = 2.9
    n = int(total * RATE)
    noise = [rng.uniform(-1, 1) for _ in range(n)]
    rumble = lowpass(lowpass(noise, 180), 180)
    crack = highpass(noise, 2000)
    out = []
    for i in range(n):
        t = i / RATE
        body = math.exp(-t * 1.6) * (1 - math.exp(-t * 200))
        snap = math.exp(-t * 25)
        out.append(6.0 * rumble[i] * body + 0.6 * crack[i] * snap + 0.3 * math.sin(TAU * 45 * t) * body)
    return out


SOUNDS = [("koko.wav", cuckoo, 1.5), ("ring.wav", bell, 1.5), ("horn.wav", horn, 2.0), ("train.wav", train, 2.0),
          ("foghorn.wav", foghorn, 3.0), ("ahoh.wav", ahoh, 1.5), ("clap.wav", clap, 3.5),
          ("explode.wav", explode, 3.0)]


def write(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(max(-1.0, min(1.0, s)) * 32767)) for s in samples))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "assets", "sound")
    os.makedirs(outdir, exist_ok=True)
    for i, (name, make, pause) in enumerate(SOUNDS):
        samples = normalise(make(random.Random(1000 + i)))
        assert len(samples) / RATE < pause, name
        write(os.path.join(outdir, name), samples)
        print(f"{name}: {len(samples) / RATE:.2f} s (pause {pause} s)")


if __name__ == "__main__":
    main()
