"""Finding the flashes and beeps: in what a player was meant to show and play (the decoded
clips, or the source file), and in what the recorder saw and heard.

Times are milliseconds. The same detectors read both sides, so whatever a detector adds (the
beep's rise, the marker's threshold) cancels out of every comparison.
"""

import array
import bisect
import math
import re
import subprocess
import sys
import wave

# A beep starts where the sound first reaches this share of its loudest sample after a
# moment (GAP_MS) below it, provided what follows is the beep's 1 kHz tone (so that, say,
# the start-up chime that a player cuts at once is not taken for one) and the last beep is
# at least QUIET_MS back.
BEEP_LEVEL = 0.3
BEEP_HZ = 1000
GAP_MS = 20
TONE_MS = 30
QUIET_MS = 300


def _tone_share(samples, start, rate):
    """The share of the energy of the TONE_MS after start that is the beep's tone."""
    count = min(int(TONE_MS * rate / 1000), len(samples) - start)
    if count <= 0:
        return 0.0
    w = 2 * math.pi * BEEP_HZ / rate
    re = im = energy = 0.0
    for n in range(count):
        x = samples[start + n]
        re += x * math.cos(w * n)
        im -= x * math.sin(w * n)
        energy += x * x
    return 0.0 if energy == 0 else (re * re + im * im) * 2 / count / energy


def beep_onsets(samples, rate):
    """Times (ms from the first sample) at which the beeps start."""
    if not samples:
        return []
    threshold = BEEP_LEVEL * max(abs(min(samples)), max(samples))
    gap, quiet = int(GAP_MS * rate / 1000), int(QUIET_MS * rate / 1000)
    onsets, last_loud, last_beep = [], -gap - 1, -quiet - 1
    for index, sample in enumerate(samples):
        if sample > threshold or -sample > threshold:
            if (index - last_loud > gap and index - last_beep > quiet
                    and _tone_share(samples, index, rate) > 0.5):
                onsets.append(index * 1000.0 / rate)
                last_beep = index
            last_loud = index
    return onsets


def marker_changes(times, counts):
    """(onsets, offsets): the times at which the marker appears and disappears, each the
    midpoint between the last sample before and the first after the change."""
    if not counts:
        return [], []
    threshold = max(counts) / 2
    onsets, offsets = [], []
    # Before the first sample there was nothing to see: a marker lit from the start is an
    # onset at the first sample.
    lit = False
    for previous, time, count in zip(times[:1] + times, times, counts):
        now = count > threshold
        if now != lit:
            (onsets if now else offsets).append((previous + time) / 2)
            lit = now
    return onsets, offsets


def _read_wav(path):
    with wave.open(str(path), "rb") as sound:
        samples = array.array("h", sound.readframes(sound.getnframes()))
        if sys.byteorder != "little":
            samples.byteswap()
        return samples, sound.getframerate()


def _marker_counts_yuv420(data, width, height):
    """Marker pixels per picture of raw 4:2:0 pictures: the saturated green has both chroma
    components well below grey."""
    luma = width * height
    chroma = luma // 4
    size = luma + 2 * chroma
    counts = []
    for start in range(0, len(data) - size + 1, size):
        u = data[start + luma:start + luma + chroma]
        v = data[start + luma + chroma:start + size]
        counts.append(sum(1 for a, b in zip(u, v) if a < 100 and b < 100))
    return counts


def clip_events(decoder, movie, speech, work_dir):
    """What our players are meant to show and play: flash and beep times of the decoded
    clips, picture times from the temporal references (a tick is 1000/30 ms, counted from
    picture 0, the reference wrapping at 256) as the player paces them."""
    yuv = work_dir / "reference.yuv"
    result = subprocess.run([str(decoder), "video", str(movie), str(yuv), "--verbose", "--force"],
                            stdout=subprocess.PIPE, text=True, check=True)
    references = [int(m.group(1)) for m in re.finditer(r"^picture \d+ tr (\d+)", result.stdout,
                                                       re.M)]
    times, ticks, previous = [], 0, None
    for reference in references:
        if previous is not None:
            ticks += (reference - previous) % 256
        previous = reference
        times.append(ticks * 1000.0 / 30)
    counts = _marker_counts_yuv420(yuv.read_bytes(), 176, 144)[:len(times)]
    # A picture's marker is on screen from its own time to the next picture's.
    onsets, offsets = marker_changes(times, counts)
    onsets, offsets = _snap(onsets, times), _snap(offsets, times)
    wav = work_dir / "reference.wav"
    subprocess.run([str(decoder), "audio", str(speech), str(wav), "--voice", "--force"], check=True,
                   stdout=subprocess.DEVNULL)
    samples, rate = _read_wav(wav)
    return {"flashes": onsets, "flash_ends": offsets, "beeps": beep_onsets(samples, rate),
            "pictures": len(times), "duration": len(samples) * 1000.0 / rate}


def _snap(midpoints, times):
    """marker_changes gives midpoints; in a picture sequence the change is at the later
    picture's time."""
    snapped = []
    for midpoint in midpoints:
        snapped.append(min((t for t in times if t >= midpoint), default=midpoint))
    return snapped


def source_events(source, work_dir):
    """What mpv and ffplay are meant to show and play: the source file's own frames and
    sound (30 frames a second, 8000 Hz)."""
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", str(source), "-f", "rawvideo",
                          "-pix_fmt", "yuv420p", "-"], stdout=subprocess.PIPE, check=True).stdout
    counts = _marker_counts_yuv420(raw, 176, 144)
    times = [i * 1000.0 / 30 for i in range(len(counts))]
    onsets, offsets = marker_changes(times, counts)
    pcm = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", str(source), "-f", "s16le",
                          "-ac", "1", "-ar", "8000", "-"], stdout=subprocess.PIPE,
                         check=True).stdout
    samples = array.array("h", pcm[:len(pcm) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return {"flashes": _snap(onsets, times), "flash_ends": _snap(offsets, times),
            "beeps": beep_onsets(samples, 8000), "pictures": len(times),
            "duration": len(samples) / 8.0}


def recorded_events(events_path, sound_path, rate):
    """What the recorder saw and heard, on the monotonic clock (ms)."""
    times, counts, mapped_at = [], [], None
    for line in open(events_path):
        parts = line.split()
        if len(parts) != 4 or parts[0] != "v":
            continue
        time = int(parts[1]) / 1e6
        times.append(time)
        counts.append(int(parts[2]))
        if mapped_at is None and parts[3] == "1":
            mapped_at = time
    onsets, offsets = marker_changes(times, counts)
    # Each fragment read says when its last sample was played, hence when sample 0 would
    # have been if the monitor had run without a break. A break (the sink skipping time
    # when its thread woke late) moves that estimate; a late read or a stale latency report
    # only adds noise to it. So each beep takes the median estimate of the fragments around it.
    counts, estimates = [], []
    for line in open(str(sound_path) + ".times"):
        parts = line.split()
        if len(parts) == 3:
            counts.append(int(parts[1]))
            estimates.append(int(parts[2]) / 1e6 - int(parts[1]) * 1000.0 / rate)
    samples = array.array("h")
    data = open(sound_path, "rb").read()
    samples.frombytes(data[:len(data) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    beeps = []
    for onset in beep_onsets(samples, rate):
        index = bisect.bisect_left(counts, onset * rate / 1000)
        around = sorted(estimates[max(0, index - 10):index + 11])
        if around:
            beeps.append(around[len(around) // 2] + onset)
    return {"flashes": onsets, "flash_ends": offsets, "beeps": beeps, "window": mapped_at,
            "grabs": len(times),
            "grab_interval": (times[-1] - times[0]) / max(1, len(times) - 1) if times else 0}
