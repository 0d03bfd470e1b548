#!/usr/bin/env python3
"""Writes the player's start-up sound: a two-note chime as a RIFF WAVE file,
PCM, mono, 8000 Hz, 16 bits, with exactly 10000 bytes (5000 samples) of sound.

  startup_chime.py <out.wav>
"""
import math
import struct
import sys

RATE = 8000
SAMPLES = 5000  # 10000 bytes of 16-bit samples, 0.625 s

# (start in seconds, frequency in Hz, peak amplitude): a rising fifth, A5 then E6.
NOTES = [(0.000, 880.0, 0.35), (0.110, 1318.5, 0.30)]
DECAY_PER_SECOND = 7.0
ATTACK_SECONDS = 0.004
FADE_SECONDS = 0.040  # the end fades to silence so the sound stops without a click


def sample(n):
    t = n / RATE
    value = 0.0
    for start, frequency, peak in NOTES:
        if t < start:
            continue
        local = t - start
        envelope = peak * math.exp(-DECAY_PER_SECOND * local) * min(1.0, local / ATTACK_SECONDS)
        # A quiet second harmonic gives the tone a bell-like colour.
        value += envelope * (math.sin(2 * math.pi * frequency * local)
                             + 0.25 * math.sin(4 * math.pi * frequency * local))
    remaining = (SAMPLES - 1 - n) / RATE
    value *= min(1.0, remaining / FADE_SECONDS)
    return max(-32768, min(32767, int(round(value * 32767))))


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    pcm = b"".join(struct.pack("<h", sample(n)) for n in range(SAMPLES))
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(pcm), b"WAVE", b"fmt ", 16,
                         1, 1, RATE, RATE * 2, 2, 16, b"data", len(pcm))
    with open(argv[1], "wb") as f:
        f.write(header + pcm)


if __name__ == "__main__":
    main(sys.argv)
