"""The VOICE clip: speech to 6.3 kbit/s G.723.1 with silences coded as SID frames and gaps."""

import array
import math
import os
import sys

from . import external, g723_stream, sid_gain

SAMPLE_RATE = 8000
FRAME = g723_stream.SAMPLES_PER_FRAME
FRAME_SECONDS = FRAME / SAMPLE_RATE

# A silent stretch keeps its first frames as speech (decaying sounds) and the frame before
# the next speech (the coder looks ahead); what remains becomes silence only if long enough.
HANGOVER_AFTER_SPEECH = 2
HANGOVER_BEFORE_SPEECH = 1
MIN_SILENT_FRAMES = 3
# A new SID frame is sent inside a stretch when the noise level moves this many gain steps.
SID_UPDATE_STEPS = 3
SID_LEVEL_WINDOW = 4


def speak(text, work_dir, voice="en-us", speed=None):
    """Speaks a text with espeak-ng into a WAV file."""
    if not text.strip():
        raise external.ToolError("the text to speak is empty")
    text_path = os.path.join(work_dir, "speech.txt")
    with open(text_path, "w", encoding="utf-8") as f:
        f.write(text)
    wav = os.path.join(work_dir, "spoken.wav")
    args = ["espeak-ng", "-v", voice, "-w", wav, "-f", text_path]
    if speed:
        args[1:1] = ["-s", str(speed)]
    external.run(args, "speaking the text with espeak-ng")
    return wav


def read_pcm(source, work_dir, normalise=True):
    """The source's first audio stream as 8000 Hz mono 16-bit samples.

    ffmpeg extracts and mixes down; sox resamples and, unless asked not to, brings the peak to
    -3 dBFS so that quiet recordings use the coder's range.
    """
    extracted = os.path.join(work_dir, "extracted.wav")
    external.ffmpeg(["-i", str(source), "-map", "0:a:0", "-ac", "1", "-c:a", "pcm_s16le",
                     extracted], f"decoding the audio of '{source}'")
    raw = os.path.join(work_dir, "speech8k.raw")
    effects = ["rate", "-v", str(SAMPLE_RATE)]
    external.run(["sox", "-R", "-D", "-V1", extracted, "-r", str(SAMPLE_RATE), "-c", "1",
                  "-b", "16", "-e", "signed-integer", "-t", "raw", raw] + effects,
                 f"resampling the audio of '{source}'")
    samples = _load_raw(raw)
    if normalise:
        peak = max((abs(s) for s in samples), default=0)
        if peak > 0:
            scaled = os.path.join(work_dir, "speech8k-level.raw")
            external.run(["sox", "-R", "-D", "-V1", "-t", "raw", "-r", str(SAMPLE_RATE),
                          "-c", "1", "-b", "16", "-e", "signed-integer", raw, "-t", "raw", scaled,
                          "gain", "-n", "-3"], "setting the speech level")
            samples = _load_raw(scaled)
    return samples


def _load_raw(path):
    samples = array.array("h")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def encode_active(samples, frame_count, work_dir):
    """ffmpeg's G.723.1 encoder over the samples padded to frame_count frames: 24-byte frames."""
    pcm = array.array("h", samples[:frame_count * FRAME])
    pcm.extend([0] * (frame_count * FRAME - len(pcm)))
    if sys.byteorder != "little":
        pcm.byteswap()
    raw = os.path.join(work_dir, "speech-padded.raw")
    with open(raw, "wb") as f:
        f.write(pcm.tobytes())
    coded = os.path.join(work_dir, "speech-active.bit")
    external.ffmpeg(["-f", "s16le", "-ar", str(SAMPLE_RATE), "-ac", "1", "-i", raw,
                     "-c:a", "g723_1", "-b:a", "6300", "-f", "g723_1", coded],
                    "encoding the speech")
    with open(coded, "rb") as f:
        frames = g723_stream.split_frames(f.read())
    if len(frames) != frame_count or any(len(fr) != 24 for fr in frames):
        raise external.ToolError(f"the speech encoder wrote {len(frames)} frames, expected "
                                 f"{frame_count} of 6.3 kbit/s")
    return pcm, frames


def frame_levels(pcm, frame_count):
    levels = []
    for i in range(frame_count):
        chunk = pcm[i * FRAME:(i + 1) * FRAME]
        levels.append(math.sqrt(sum(s * s for s in chunk) / FRAME))
    return levels


def silence_threshold(levels):
    """RMS at or below which a frame counts as silence: well under the speech, above the floor."""
    ordered = sorted(levels)
    speech = ordered[int(0.9 * (len(ordered) - 1))]
    floor = ordered[int(0.1 * (len(ordered) - 1))]
    return max(2.0 * floor, speech / 31.6, 8.0)


def silent_stretches(levels, threshold):
    """[start, end) frame ranges to code as silence."""
    stretches = []
    n = len(levels)
    i = 0
    while i < n:
        if levels[i] > threshold:
            i += 1
            continue
        j = i
        while j < n and levels[j] <= threshold:
            j += 1
        start = i if i == 0 else i + HANGOVER_AFTER_SPEECH
        end = j if j == n else j - HANGOVER_BEFORE_SPEECH
        if end - start >= MIN_SILENT_FRAMES:
            stretches.append((start, end))
        i = j
    return stretches


def _gain_index(correlations, first, last):
    """SID gain index of frames first..last-1 from their summed per-frame autocorrelations."""
    total = [sum(correlations[i][lag] for i in range(first, last))
             for lag in range(len(correlations[first]))]
    return sid_gain.quantise_sid_gain(sid_gain.residual_energy_from(total, (last - first) * FRAME))


def discontinuous(pcm, active_frames, stretches):
    """Replaces each silent stretch by a SID frame and untransmitted frames.

    The SID's LSP word is the one the encoder chose for the stretch's first frame: the encoder
    predicted it from the speech frame before, which the decoder has just decoded, so the
    envelope arrives exactly as coded. The gain is the stretch's residual level. A fresh SID
    follows when the level drifts by SID_UPDATE_STEPS gain steps.
    """
    frames = list(active_frames)
    for start, end in stretches:
        correlations = {i: sid_gain.autocorrelation(pcm[i * FRAME:(i + 1) * FRAME])
                        for i in range(start, end)}
        sent = _gain_index(correlations, start, min(end, start + SID_LEVEL_WINDOW))
        frames[start] = g723_stream.sid_frame(g723_stream.lsp_word(active_frames[start]), sent)
        for i in range(start + 1, end):
            level = _gain_index(correlations, max(start, i - SID_LEVEL_WINDOW + 1), i + 1)
            if abs(level - sent) >= SID_UPDATE_STEPS:
                sent = level
                frames[i] = g723_stream.sid_frame(g723_stream.lsp_word(active_frames[i]), sent)
            else:
                frames[i] = g723_stream.UNTRANSMITTED_FRAME
    return frames


def make_speech_frames(samples, frame_count, work_dir):
    """Frames of the speech clip, exactly frame_count of them."""
    pcm, active = encode_active(samples, frame_count, work_dir)
    levels = frame_levels(pcm, frame_count)
    stretches = silent_stretches(levels, silence_threshold(levels))
    return discontinuous(pcm, active, stretches), stretches


def frames_for(duration_seconds):
    return max(1, math.ceil(duration_seconds / FRAME_SECONDS - 1e-6))
