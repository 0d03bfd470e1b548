#!/usr/bin/env python3
"""Turns raw G.723.1 frames into the player's speech clip: a 4-byte little-endian
PCM capacity followed by the frames. The capacity is 480 x (coded bytes + 1),
the most PCM those bytes can yield, since every frame takes at least one byte
and decodes to 240 samples of 2 bytes.

  prefix_voice_clip.py <frames.g723> <out.723>
"""
import struct
import sys


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    frames = open(argv[1], "rb").read()
    with open(argv[2], "wb") as f:
        f.write(struct.pack("<I", 480 * (len(frames) + 1)) + frames)


if __name__ == "__main__":
    main(sys.argv)
