"""Noise level of a silent stretch and its SID gain index.

The decoder's comfort noise drives the SID spectral envelope with a random excitation whose
level per sample is the decoded SID gain; so the gain to send is the level of the stretch's
prediction residual, quantised the way the decoder expects it.
"""

import math
import struct

_SEGMENT_BASE = (0, 32, 96)
_LPC_ORDER = 10


def _single(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def decode_sid_gain(index):
    segment = min(index // 16, 2)
    return (index - 16 * segment) * (1 << (segment + 1)) + _SEGMENT_BASE[segment]


def quantise_sid_gain(energy):
    """Index 0..63 of the gain nearest (in the squared domain) to a 120-sample energy."""
    x = _single(_single(0.008333) * energy)
    if x >= 115617:
        return 63
    if x >= 9216:
        segment, steps = 2, 4
    elif x >= 1024:
        segment, steps = 1, 3
    else:
        segment, steps = 0, 3

    def level(j):
        return j * (1 << (segment + 1)) + _SEGMENT_BASE[segment]

    j = 1 << steps
    h = j // 2
    for _ in range(steps):
        j = j + h if x >= level(j) ** 2 else j - h
        h //= 2
    d = level(j) ** 2 - x
    if d > 0:
        if d >= x - level(j - 1) ** 2:
            j -= 1
    elif d <= x - level(j + 1) ** 2:
        j += 1
    return 16 * segment + j


def autocorrelation(samples):
    """Lags 0..10 of the samples' autocorrelation, DC removed first (as the coder's input
    filter removes it)."""
    n = len(samples)
    if n == 0:
        return [0.0] * (_LPC_ORDER + 1)
    mean = sum(samples) / n
    x = [s - mean for s in samples]
    return [sum(a * b for a, b in zip(x, x[lag:])) for lag in range(_LPC_ORDER + 1)]


def residual_energy_from(r, n):
    """Energy per 120 samples of the order-10 linear-prediction residual of n samples with
    autocorrelation r, from the Levinson-Durbin recursion's prediction error."""
    if n <= 0 or r[0] <= 0.0:
        return 0.0
    error = r[0] * 1.0001  # a touch of white noise keeps the recursion stable on pure tones
    a = [0.0] * (_LPC_ORDER + 1)
    for i in range(1, _LPC_ORDER + 1):
        k = (r[i] - sum(a[j] * r[i - j] for j in range(1, i))) / error
        new_a = a[:]
        new_a[i] = k
        for j in range(1, i):
            new_a[j] = a[j] - k * a[i - j]
        a = new_a
        error *= 1.0 - k * k
        if error <= 0.0:
            return 0.0
    return 120.0 * error / n


def residual_energy(samples):
    return residual_energy_from(autocorrelation(samples), len(samples))


def rms_dbfs(samples):
    if not samples:
        return -math.inf
    power = sum(s * s for s in samples) / len(samples)
    return 10.0 * math.log10(power / 32768.0 ** 2) if power > 0 else -math.inf
