#!/usr/bin/env python3
"""Writes 16-colour Windows bitmaps and icons from RGBA pictures.

The pictures are drawn by ImageMagick (see make_assets.sh) and read here as raw
RGBA bytes; every pixel is mapped to the nearest colour of the standard 16-colour
Windows palette, so the results are 4 bits per pixel exactly as the player's
resources require, independent of how ImageMagick would choose a bit depth.

  paletted_images.py bitmap <width> <height> <rgba-file> <out.bmp>
  paletted_images.py icon <out.ico> <size>:<rgba-file> [<size>:<rgba-file> ...]
"""
import struct
import sys

# The standard VGA/Windows 16-colour palette, index order as Windows defines it.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def nearest_index(r, g, b):
    best, best_distance = 0, None
    for index, (pr, pg, pb) in enumerate(PALETTE):
        distance = (r - pr) ** 2 + (g - pg) ** 2 + (b - pb) ** 2
        if best_distance is None or distance < best_distance:
            best, best_distance = index, distance
    return best


def read_rgba(path, width, height):
    data = open(path, "rb").read()
    if len(data) != width * height * 4:
        sys.exit(f"{path}: expected {width * height * 4} bytes of RGBA, got {len(data)}")
    return [data[i:i + 4] for i in range(0, len(data), 4)]


def palette_bytes():
    return b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)


def pack_4bpp_rows(indices, width, height):
    """Bottom-up rows, two pixels per byte (high nibble first), padded to 4 bytes."""
    stride = ((width + 1) // 2 + 3) & ~3
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            value = indices[y * width + x]
            row[x // 2] |= value << 4 if x % 2 == 0 else value
        out += row
    return bytes(out)


def pack_mask_rows(transparent, width, height):
    """Bottom-up 1-bit AND mask rows (1 = transparent), padded to 4 bytes."""
    stride = ((width + 7) // 8 + 3) & ~3
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if transparent[y * width + x]:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def info_header(width, height, image_size):
    # BITMAPINFOHEADER: 4 bits per pixel, BI_RGB, 16 palette entries used.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 16)


def write_bitmap(width, height, rgba_path, out_path):
    pixels = read_rgba(rgba_path, width, height)
    bits = pack_4bpp_rows([nearest_index(*p[:3]) for p in pixels], width, height)
    offset = 14 + 40 + 64
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(out_path, "wb") as f:
        f.write(file_header + info_header(width, height, len(bits)) + palette_bytes() + bits)


def icon_image(size, rgba_path):
    pixels = read_rgba(rgba_path, size, size)
    transparent = [p[3] < 128 for p in pixels]
    indices = [0 if t else nearest_index(*p[:3]) for p, t in zip(pixels, transparent)]
    xor_bits = pack_4bpp_rows(indices, size, size)
    and_bits = pack_mask_rows(transparent, size, size)
    # An icon's header states twice the height: the colour rows and the mask rows.
    return info_header(size, size * 2, len(xor_bits) + len(and_bits)) + palette_bytes() + xor_bits + and_bits


def write_icon(out_path, images_wanted):
    images = []
    for wanted in images_wanted:
        size, path = wanted.split(":", 1)
        images.append((int(size), icon_image(int(size), path)))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(out_path, "wb") as f:
        f.write(directory + b"".join(image for _, image in images))


def main(argv):
    if len(argv) == 6 and argv[1] == "bitmap":
        write_bitmap(int(argv[2]), int(argv[3]), argv[4], argv[5])
    elif len(argv) >= 4 and argv[1] == "icon":
        write_icon(argv[2], argv[3:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
