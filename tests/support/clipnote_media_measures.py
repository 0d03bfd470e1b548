"""Measures of decoded pictures and speech for the Python tests: Y4M luma planes, PSNR,
the ticks of an H.263 clip's pictures, decoded pictures against the fed ones at their ticks,
the frame kinds of a VOICE clip and a segmental SNR that aligns each stretch of speech on its
own."""
import re
import subprocess

import numpy as np


def read_y4m(path, width, height):
    """The luma planes of a 4:2:0 .y4m file, as an array of pictures."""
    with open(path, "rb") as f:
        data = f.read()
    frames, at = [], data.index(b"\n") + 1
    size = width * height * 3 // 2
    while at < len(data):
        at = data.index(b"\n", at) + 1  # FRAME header
        frames.append(np.frombuffer(data, np.uint8, width * height, at).reshape(height, width))
        at += size
    return np.array(frames)


def letterboxed_pictures(video, geometry, out):
    """The luma planes of `video` (any file ffmpeg reads) letterboxed into QCIF as the recorder
    and make-message place it (x, y, width, height of the picture, bars black), through
    ffmpeg's area scaler; `out` keeps them as .y4m."""
    x, y, w, h = geometry
    subprocess.run(["nice", "-n", "19", "ffmpeg", "-v", "error", "-y", "-i", video, "-vf",
                    f"scale={w}:{h}:flags=area,pad=176:144:{x}:{y}:black", "-pix_fmt", "yuv420p", out],
                   check=True, capture_output=True)
    return read_y4m(out, 176, 144)


def picture_psnrs(decoded, ticks, fed, jitter=1):
    """PSNR of each decoded picture against the fed picture at its tick (both at 30 a second).
    The fed pictures loop, as a fake camera replays its file, and a recording starts somewhere
    in the loop: the offset that fits best is taken, then each picture may come up to `jitter`
    pictures early or late (the capture's timing)."""
    if len(ticks) != len(decoded):
        raise ValueError(f"{len(decoded)} decoded pictures for {len(ticks)} picture headers")
    loop = len(fed)
    sample = list(range(0, len(ticks), max(1, len(ticks) // 20)))
    offset = max(range(loop), key=lambda o: np.mean([psnr(decoded[i], fed[(o + ticks[i]) % loop]) for i in sample]))
    return [max(psnr(decoded[i], fed[(offset + ticks[i] + d) % loop]) for d in range(-jitter, jitter + 1))
            for i in range(len(ticks))]


def picture_ticks(clip):
    """Each picture's tick, from the temporal references of its picture start codes."""
    ticks, previous, total = [], None, 0
    for match in re.finditer(rb"\x00\x00[\x80-\x83]", clip):
        at = match.start()
        reference = ((clip[at + 2] & 3) << 6) | (clip[at + 3] >> 2)
        if previous is not None:
            total += (reference - previous) % 256
        previous = reference
        ticks.append(total)
    return ticks


def frame_kinds(voice):
    """Counts of (speech, SID, untransmitted) frames of a VOICE clip."""
    counts, at, lengths = [0, 0, 0], 4, [24, 20, 4, 1]
    while at < len(voice):
        kind = voice[at] & 3
        counts[0 if kind < 2 else kind - 1] += 1
        at += lengths[kind]
    return counts


def wav_samples(path):
    with open(path, "rb") as f:
        return np.frombuffer(f.read()[44:], np.int16)


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return 99.0 if mse == 0 else 10 * np.log10(255 ** 2 / mse)


def frame_snrs(reference, decoded, frame=240):
    """SNR in dB of each frame where the reference is speech (well above its floor)."""
    n = min(len(reference), len(decoded)) // frame * frame
    r = reference[:n].reshape(-1, frame)
    d = decoded[:n].reshape(-1, frame)
    energy = np.sum(r ** 2, axis=1)
    active = energy > 0.02 * np.max(energy)
    noise = np.sum((r - d) ** 2, axis=1) + 1e-9
    return list(np.clip(10 * np.log10(energy[active] / noise[active] + 1e-12), -10, 35))


def aligned_segsnr(reference, decoded, chunk=4000):
    """Segmental SNR of decoded speech against the looped reference (both 8 kHz): each half
    second aligned on its own (capture may skip a buffer), to a sixth of a sample (the page
    resamples from the capture's rate), at the least-squares gain (the level is set anew)."""
    decoded = decoded.astype(np.float64)
    looped = np.tile(reference, 3).astype(np.float64)
    snrs = []
    for at in range(0, len(decoded) - chunk + 1, chunk):
        probe = decoded[at:at + chunk]
        if np.max(np.abs(probe)) < 300:
            continue
        lag = int(np.argmax(np.correlate(looped[:len(reference) + chunk], probe, mode="valid")[:len(reference)]))
        segment = looped[lag + len(reference) - 8:lag + len(reference) + chunk + 8]
        spectrum, frequencies = np.fft.rfft(segment), np.fft.rfftfreq(len(segment))
        best = None
        for sixth in range(-6, 7):
            shifted = np.fft.irfft(spectrum * np.exp(-2j * np.pi * frequencies * sixth / 6), len(segment))[8:8 + chunk]
            gain = np.dot(shifted, probe) / max(np.dot(probe, probe), 1e-9)
            values = frame_snrs(shifted, probe * gain)
            if values and (best is None or np.mean(values) > np.mean(best)):
                best = values
        snrs += best or []
    return float(np.mean(snrs))
