"""The MOVIE clip: any video to baseline QCIF H.263 with real temporal references."""

import math
import os

from . import external, h263_stream, picture_schedule

WIDTH, HEIGHT = 176, 144
FRAME_BYTES = WIDTH * HEIGHT * 3 // 2
TICKS_PER_SECOND = 30

# Encoder settings that keep ffmpeg's H.263 within what the player decodes: baseline syntax
# (no option flags), vectors well inside the +-16 range, GOB headers once a picture grows
# past the payload size, an intra picture now and then.
DEFAULT_QUANTISER = 8
PAYLOAD_SIZE = 600
INTRA_INTERVAL = 120


def decode_to_qcif(source, work_dir):
    """Decodes the source's first video stream to 30 Hz QCIF 4:2:0 frames (letterboxed)."""
    raw = os.path.join(work_dir, "source.yuv")
    fit = (f"fps={TICKS_PER_SECOND},"
           f"scale={WIDTH}:{HEIGHT}:force_original_aspect_ratio=decrease,"
           f"pad={WIDTH}:{HEIGHT}:-1:-1:color=black,setsar=1,format=yuv420p")
    external.ffmpeg(["-i", str(source), "-map", "0:v:0", "-vf", fit, "-f", "rawvideo",
                     "-pix_fmt", "yuv420p", raw], f"decoding the video of '{source}'")
    size = os.path.getsize(raw)
    if size < FRAME_BYTES:
        raise external.ToolError(f"'{source}' has no picture that ffmpeg can decode")
    return raw, size // FRAME_BYTES


def analysis_frames(raw, work_dir):
    """Small grey copies of the frames for motion analysis, as lists of ints."""
    small = os.path.join(work_dir, "analysis.gray")
    w, h = picture_schedule.ANALYSIS_WIDTH, picture_schedule.ANALYSIS_HEIGHT
    external.ffmpeg(["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{WIDTH}x{HEIGHT}",
                     "-r", str(TICKS_PER_SECOND), "-i", raw,
                     "-vf", f"scale={w}:{h}:flags=area", "-f", "rawvideo", "-pix_fmt", "gray",
                     small], "measuring motion")
    with open(small, "rb") as f:
        data = f.read()
    n = w * h
    return [list(data[i:i + n]) for i in range(0, len(data) - n + 1, n)]


def last_tick_for(duration_seconds):
    """The tick of the last picture: playback ends there, so no earlier than the duration."""
    return max(2, math.ceil(duration_seconds * TICKS_PER_SECOND - 1e-6))


def encode(raw, frame_count, ticks, work_dir, quantiser=DEFAULT_QUANTISER):
    """Encodes the frames at the given ticks (held past the end) and sets their TRs."""
    chosen = os.path.join(work_dir, "chosen.yuv")
    with open(raw, "rb") as src, open(chosen, "wb") as dst:
        for tick in ticks:
            src.seek(min(tick, frame_count - 1) * FRAME_BYTES)
            dst.write(src.read(FRAME_BYTES))
    coded = os.path.join(work_dir, "coded.263")
    external.ffmpeg(["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{WIDTH}x{HEIGHT}",
                     "-r", str(TICKS_PER_SECOND), "-i", chosen,
                     "-c:v", "h263", "-q:v", str(quantiser), "-me_range", "15",
                     "-ps", str(PAYLOAD_SIZE), "-g", str(INTRA_INTERVAL), "-bf", "0",
                     "-f", "h263", coded], "encoding the pictures")
    with open(coded, "rb") as f:
        return h263_stream.retime(f.read(), ticks)


def make_video_clip(raw, frame_count, last_tick, work_dir, quantiser=DEFAULT_QUANTISER):
    """Returns (clip bytes, ticks): pictures from tick 0 to last_tick, spaced by motion."""
    speeds = picture_schedule.frame_speeds(analysis_frames(raw, work_dir))
    ticks = picture_schedule.schedule(speeds, last_tick)
    return encode(raw, frame_count, ticks, work_dir, quantiser), ticks
