"""Which pictures to send: spacing of 2, 3, 4 or 8 ticks of 1/30 s, as the motion needs.

Motion is measured on small grey copies of the 30 Hz frames (each pixel the average of a
4x4 block) as normal flow: the temporal change of a pixel divided by its spatial gradient is
the speed of the edge through it. The spacing chosen is the longest that keeps every edge
within MAX_STEP_PIXELS (half a macroblock) of where the previous picture showed it.
"""

import math

GAPS = (8, 4, 3, 2)
ANALYSIS_WIDTH = 44
ANALYSIS_HEIGHT = 36
ANALYSIS_SCALE = 176 / ANALYSIS_WIDTH
MAX_STEP_PIXELS = 8.0
_MIN_GRADIENT = 6.0   # weaker gradients say nothing reliable about motion
_MIN_CHANGE = 1.5     # changes below this are noise


def frame_speed(previous, current, width=ANALYSIS_WIDTH, height=ANALYSIS_HEIGHT):
    """Speed in full-size pixels per tick of the fastest-moving edges between two frames."""
    speeds = []
    for y in range(1, height - 1):
        row = y * width
        for x in range(1, width - 1):
            i = row + x
            change = current[i] - previous[i]
            if -_MIN_CHANGE < change < _MIN_CHANGE:
                continue
            gx = (current[i + 1] - current[i - 1] + previous[i + 1] - previous[i - 1]) * 0.25
            gy = (current[i + width] - current[i - width]
                  + previous[i + width] - previous[i - width]) * 0.25
            gradient = math.hypot(gx, gy)
            if gradient >= _MIN_GRADIENT:
                speeds.append(abs(change) / gradient)
    if not speeds:
        return 0.0
    speeds.sort()
    # The k-th fastest, so a few noisy pixels cannot decide on their own.
    k = max(3, len(speeds) // 100)
    return speeds[max(0, len(speeds) - k)] * ANALYSIS_SCALE


def frame_speeds(frames):
    """speeds[i] is the motion from frame i - 1 to frame i (0 for the first frame)."""
    return [0.0] + [frame_speed(a, b) for a, b in zip(frames, frames[1:])]


def _preferred_gap(speeds, tick):
    for gap in GAPS:
        window = speeds[tick + 1:tick + gap + 1]
        fastest = max(window) if window else 0.0
        if fastest * gap <= MAX_STEP_PIXELS:
            return gap
    return GAPS[-1]


def schedule(speeds, last_tick):
    """Ticks of the pictures to send: 0 first, last_tick last, every gap in GAPS.

    speeds may be shorter than last_tick + 1 (a held last frame does not move).
    """
    if last_tick < 2:
        raise ValueError("a message needs at least two ticks")
    ticks = [0]
    tick = 0
    while tick < last_tick:
        remaining = last_tick - tick
        # Never leave a remainder of 1 tick: it could not be reached.
        allowed = [g for g in GAPS if g <= remaining and remaining - g != 1]
        wanted = _preferred_gap(speeds, tick)
        gap = next((g for g in allowed if g <= wanted), allowed[-1])
        tick += gap
        ticks.append(tick)
    return ticks
