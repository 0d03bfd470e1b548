#!/usr/bin/env python3
"""Writes the source of the sync message: flashes and beeps at the same instants.

The picture (176 x 144, 30 frames a second) is dark, with a green marker square in its
top-left corner that lights for 200 ms at every event, about once a second, and a grey bar
whose speed changes every second, so that make-message spaces the pictures 2, 3, 4 and 8
ticks apart as it would for a real message. The sound (8000 Hz) is quiet noise, which
make-message sends as SID and untransmitted frames, with a 60 ms 1 kHz beep at every event.
The output is one lossless file (FFV1 and PCM) that mpv and ffplay play as they are and
make-message turns into a message.

  sync_source.py OUT.mkv [--seconds N]
"""

import argparse
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
import wave

WIDTH, HEIGHT, FPS, RATE = 176, 144, 30, 8000
BACKGROUND = bytes((40, 40, 40))
MARKER = bytes((0, 220, 0))
BAR = bytes((150, 150, 150))
MARKER_BOX = (8, 8, 56, 56)       # x0, y0, x1, y1
BAR_BAND = (72, 136)              # rows the bar covers
BAR_WIDTH = 16
FLASH_FRAMES = 6                  # 200 ms
BEEP_SECONDS = 0.06
# Bar speeds in pixels per frame, one a second in turn: the picture spacing that keeps the
# bar within half a macroblock of its last place is 2, 3, 4 and 8 ticks for these.
BAR_SPEEDS = (4.0, 2.6, 2.0, 1.0, 0.0)


def event_frames(seconds):
    """Frame of every event: one a second, off the whole second by a varying few ticks, so
    that the events fall on every kind of picture spacing."""
    frames = [0]
    k = 1
    while True:
        frame = FPS * k + (k * 7) % 11
        if frame + FLASH_FRAMES + FPS // 2 > seconds * FPS:
            return frames
        frames.append(frame)
        k += 1


def bar_positions(frame_count):
    """Left edge of the bar in every frame: it moves back and forth across the picture."""
    positions, x, direction = [], 0.0, 1
    for frame in range(frame_count):
        positions.append(int(round(x)))
        speed = BAR_SPEEDS[(frame // FPS) % len(BAR_SPEEDS)]
        x += direction * speed
        if x > WIDTH - BAR_WIDTH:
            x, direction = 2 * (WIDTH - BAR_WIDTH) - x, -1
        elif x < 0:
            x, direction = -x, 1
    return positions


def frame_bytes(bar_x, flash):
    rows = []
    for y in range(HEIGHT):
        row = bytearray(BACKGROUND * WIDTH)
        if BAR_BAND[0] <= y < BAR_BAND[1]:
            row[bar_x * 3:(bar_x + BAR_WIDTH) * 3] = BAR * BAR_WIDTH
        if flash and MARKER_BOX[1] <= y < MARKER_BOX[3]:
            width = MARKER_BOX[2] - MARKER_BOX[0]
            row[MARKER_BOX[0] * 3:MARKER_BOX[2] * 3] = MARKER * width
        rows.append(bytes(row))
    return b"".join(rows)


def sound_samples(seconds, events):
    generator = random.Random(723)
    count = int(seconds * RATE)
    samples = [int(generator.gauss(0, 40)) for _ in range(count)]
    beep = int(BEEP_SECONDS * RATE)
    for frame in events:
        start = round(frame * RATE / FPS)
        for i in range(min(beep, count - start)):
            samples[start + i] = int(16000 * math.sin(2 * math.pi * 1000 * i / RATE))
    return samples


def write(out_path, seconds):
    frame_count = int(seconds * FPS)
    events = event_frames(seconds)
    lit = set()
    for frame in events:
        lit.update(range(frame, frame + FLASH_FRAMES))
    with tempfile.TemporaryDirectory() as work:
        sound_path = os.path.join(work, "sound.wav")
        with wave.open(sound_path, "wb") as sound:
            sound.setnchannels(1)
            sound.setsampwidth(2)
            sound.setframerate(RATE)
            sound.writeframes(struct.pack(f"<{int(seconds * RATE)}h",
                                          *sound_samples(seconds, events)))
        encoder = subprocess.Popen(
            ["ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24",
             "-s", f"{WIDTH}x{HEIGHT}", "-r", str(FPS), "-i", "-", "-i", sound_path,
             "-c:v", "ffv1", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-shortest", out_path],
            stdin=subprocess.PIPE)
        frames = {}
        for frame, x in enumerate(bar_positions(frame_count)):
            key = (x, frame in lit)
            if key not in frames:
                frames[key] = frame_bytes(*key)
            encoder.stdin.write(frames[key])
        encoder.stdin.close()
        if encoder.wait() != 0:
            sys.exit("sync_source: ffmpeg failed")
    return events


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--seconds", type=float, default=32.0)
    args = parser.parse_args()
    write(args.out, args.seconds)


if __name__ == "__main__":
    main()
