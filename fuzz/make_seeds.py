#!/usr/bin/env python3
"""Writes the derived seeds of the fuzz corpora: pieces of the carried message
(resources/message.263 and message.723) and of the hand-made seeds, whole, cut
short and with single bits flipped. Deterministic, so running it again changes
nothing; the files it writes are named derived_*, the hand-made ones are left
alone.

    fuzz/make_seeds.py        (from anywhere; writes into fuzz/<area>/corpus/)
"""

import math
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
FUZZ = ROOT / "fuzz"


def picture_starts(movie):
    """Offsets of the byte-aligned picture start codes."""
    return [i for i in range(len(movie) - 2)
            if movie[i] == 0 and movie[i + 1] == 0 and movie[i + 2] & 0xFC == 0x80]


def flipped(data, bit):
    data = bytearray(data)
    data[bit // 8] ^= 1 << (bit % 8)
    return bytes(data)


def with_prefix(voice, reserved):
    return reserved.to_bytes(4, "little") + voice[4:]


def variants(name, data, cuts, flips):
    """The piece itself, cut to each length and flipped at each bit."""
    yield name, data
    for length in cuts:
        if 0 < length < len(data):
            yield f"{name}_cut{length}", data[:length]
    for bit in flips:
        if bit < 8 * len(data):
            yield f"{name}_flip{bit}", flipped(data, bit)


def write(area, target, seeds):
    directory = FUZZ / area / "corpus" / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("derived_*"):
        old.unlink()
    total = 0
    for name, data in seeds:
        (directory / f"derived_{name}").write_bytes(data)
        total += len(data)
    print(f"{target}: {total} bytes of derived seeds")


def tiny_executable(resources):
    """A small 32-bit Windows executable: headers, one section ".rsrc" and a
    resource directory (type, name, language) holding (type, name, data) with
    language 0x409. Types and names are ints (ids) or strings. Returns the bytes
    and the file offsets of the data entries, in the order given."""
    def key_order(key):
        return (0, key, 0) if isinstance(key, str) else (1, "", key)

    tree = {}
    for index, (rtype, name, _) in enumerate(resources):
        tree.setdefault(rtype, {})[name] = index
    types = sorted(tree, key=key_order)
    size = 16 + 8 * len(types)
    for rtype in types:
        size += 16 + 8 * len(tree[rtype]) + len(tree[rtype]) * (16 + 8)
    entries = size
    size += 16 * len(resources)
    strings = {}
    for rtype in types:
        for key in [rtype, *tree[rtype]]:
            if isinstance(key, str) and key not in strings:
                strings[key] = size
                size += 2 + 2 * len(key)
    data_at = []
    for _, _, data in resources:
        size = (size + 3) & ~3
        data_at.append(size)
        size += len(data)

    root, address = 0x200, 0x1000
    out = bytearray(root + size)

    def put(at, fmt, *values):
        struct.pack_into("<" + fmt, out, at, *values)

    def key_field(key):
        return 0x80000000 | strings[key] if isinstance(key, str) else key

    put(0, "2s", b"MZ")
    put(0x3C, "I", 64)
    put(64, "4sHH12xHH", b"PE\0\0", 0x14C, 1, 224, 0x0102)
    optional = 64 + 24
    put(optional, "H", 0x10B)
    put(optional + 92, "I", 16)
    put(optional + 112, "II", address, size)
    put(optional + 224, "8sIIII", b".rsrc", size, address, size, root)
    put(root + 14, "H", len(types))
    cursor = 16 + 8 * len(types)
    for t, rtype in enumerate(types):
        names = sorted(tree[rtype], key=key_order)
        put(root + 16 + 8 * t, "II", key_field(rtype), 0x80000000 | cursor)
        put(root + cursor + 14, "H", len(names))
        table, cursor = cursor, cursor + 16 + 8 * len(names)
        for n, name in enumerate(names):
            index = tree[rtype][name]
            put(root + table + 16 + 8 * n, "II", key_field(name), 0x80000000 | cursor)
            put(root + cursor + 14, "H", 1)
            put(root + cursor + 16, "II", 0x409, entries + 16 * index)
            cursor += 16 + 8
    for index, (_, _, data) in enumerate(resources):
        put(root + entries + 16 * index, "II", address + data_at[index], len(data))
        out[root + data_at[index]:root + data_at[index] + len(data)] = data
    for text, at in strings.items():
        put(root + at, "H", len(text))
        out[root + at + 2:root + at + 2 + 2 * len(text)] = text.encode("utf-16-le")
    return bytes(out), [root + entries + 16 * index for index in range(len(resources))]


def patched(data, at, fmt, *values):
    data = bytearray(data)
    struct.pack_into("<" + fmt, data, at, *values)
    return bytes(data)


def main():
    movie = (ROOT / "resources" / "message.263").read_bytes()
    voice = (ROOT / "resources" / "message.723").read_bytes()
    starts = picture_starts(movie)
    # The first (intra) picture and the two inter pictures after it; a later
    # stretch of three pictures, which predicts from pictures it does not hold.
    opening = movie[:starts[3]]
    middle = movie[starts[200]:starts[203]]
    first_cut = starts[1]

    def video_seeds():
        yield from variants("opening", opening,
                            [3, 5, 40, first_cut // 2, first_cut - 1, first_cut + 9, len(opening) - 2],
                            [18, 30, 45, 300, 4000, 8 * first_cut + 20, 8 * len(opening) - 30])
        yield from variants("middle", middle, [len(middle) // 2], [24, 8 * len(middle) // 3])

    write("video_recon", "video_decoder_fuzz", video_seeds())
    # The parser target takes a leading byte: window size (low 3 bits) and a
    # file source (bit 3).
    write("video_parser", "video_parser_fuzz",
          ((name, bytes([selector]) + data)
           for selector in (0x03, 0x0E)
           for name, data in variants(f"w{selector:02x}_opening", opening,
                                      [first_cut + 9], [45, 8 * first_cut + 20])))

    # Speech: the prefix, then the first 60 frames (of every kind the clip uses).
    opening_voice = voice[:4 + 320]
    write("audio", "voice_clip_fuzz", [
        *variants("opening", opening_voice, [2, 4, 5, 27, 160, len(opening_voice) - 1],
                  [0, 31, 40, 100, 1000, 2000]),
        # Prefixes too small for the frames, down to nothing.
        *((f"prefix{reserved}", with_prefix(opening_voice, reserved))
          for reserved in (0, 479, 480, 4800)),
        ("prefix_too_large", with_prefix(opening_voice, 0xFFFFFFFF)),
    ])

    # The speech encoder takes a control byte (bit 0: 5.3 kbit/s, bit 1: silence
    # compression, bit 2: the rate changing from frame to frame), then 16-bit samples:
    # signals at the edges of what it codes, 20 frames each.
    def pcm(values):
        return b"".join(struct.pack("<h", max(-32768, min(32767, round(v)))) for v in values)

    samples = 20 * 240
    lcg = [12345]

    def noise(amplitude):
        lcg[0] = (lcg[0] * 1103515245 + 12345) & 0x7FFFFFFF
        return (lcg[0] / 0x7FFFFFFF * 2 - 1) * amplitude

    signals = {
        "silence": [0] * samples,
        "dc": [-32768] * samples,
        "tone440": [8000 * math.sin(2 * math.pi * 440 * n / 8000) for n in range(samples)],
        "tone_full": [40000 * math.sin(2 * math.pi * 1000 * n / 8000) for n in range(samples)],
        "square": [32767 if (n // 20) % 2 else -32768 for n in range(samples)],
        "noise_loud": [noise(32767) for _ in range(samples)],
        "noise_quiet": [noise(20) for _ in range(samples)],
        "burst": [(8000 * math.sin(n * 0.3) if 2400 <= n < 3600 else noise(10)) for n in range(samples)],
    }
    write("audio", "speech_encoder_fuzz", [
        (f"{name}_c{control}", bytes([control]) + pcm(values))
        for index, (name, values) in enumerate(signals.items())
        for control in (index % 8, (index + 3) % 8)
    ] + [("tone440_partial", bytes([2]) + pcm(signals["tone440"][:1000])[:1999])])

    # The whole player: two bytes of speech length, the speech clip, the video clip.
    def message(speech, video):
        return len(speech).to_bytes(2, "little") + speech + video

    short_voice = with_prefix(voice[:4 + 120], 480 * 40)
    short_movie = movie[:starts[2]]
    write("app", "player_message_fuzz", [
        ("intact", message(short_voice, short_movie)),
        ("video_cut", message(short_voice, short_movie[:first_cut // 3])),
        ("video_flip", message(short_voice, flipped(short_movie, 700))),
        ("speech_cut", message(short_voice[:57], short_movie)),
        ("speech_small_prefix", message(with_prefix(short_voice, 960), short_movie)),
        ("speech_only", message(short_voice, b"")),
        ("video_only", message(short_voice[:4], short_movie)),
        ("prefix_too_large", message(with_prefix(short_voice, 0xFFFFFFFF), short_movie)),
        ("prefix_unreservable", message(with_prefix(short_voice, 0xFFFFFBFF), short_movie)),
    ])

    # The message reader: a small message executable (two pictures, a few speech
    # frames, a start-up sound and a logo cut short), its bare clips, and damaged
    # variants. The first byte picks the name the file is read under.
    chime = (ROOT / "resources" / "startup_chime.wav").read_bytes()[:64]
    logo = (ROOT / "resources" / "logo.bmp").read_bytes()[14:14 + 120]
    exe, data_entries = tiny_executable([
        (263, "MOVIE", short_movie), (723, "VOICE", short_voice), ("WAVE", 150, chime), (2, 147, logo)])
    rsrc = 0x200
    def damaged(exe):
        return [
            ("intact", exe),
            ("cut_headers", exe[:300]),
            ("cut_directory", exe[:rsrc + 40]),
            ("cut_movie", exe[:len(exe) // 2]),
            ("loop", patched(exe, rsrc + 16 + 4, "I", 0x80000000)),
            ("movie_past_end", patched(exe, data_entries[0], "I", 0x7FFFFF00)),
            ("size_2gib", patched(exe, data_entries[1] + 4, "I", 0x80000000)),
            ("name_long", patched(exe, rsrc + 16, "I", 0x80000000 | (len(exe) - rsrc - 4))),
            ("sections_many", patched(exe, 64 + 6, "H", 0xFFFF)),
            ("pe_past_end", patched(exe, 0x3C, "I", 0xFFFFFF00)),
        ]
    executables = damaged(exe)
    write("message", "message_reader_fuzz", [
        *((name, bytes([0]) + data) for name, data in executables),
        ("voice_clip", bytes([1]) + short_voice),
        ("raw_stream", bytes([2]) + short_voice[4:]),
        ("video_clip", bytes([0]) + short_movie[:600]),
    ])

    # The message writer: resource records (a flags byte, the keys, the language, a
    # 16-bit length and the bytes) into the committed template, and the same small
    # executable as above, made rewritable (a linker's alignments), as the input's own
    # template: whole and with the damage the reader's and the writer's tests give it.
    def key(k):
        if isinstance(k, str):
            return bytes([len(k)]) + k.encode()
        return struct.pack("<H", k)

    def record(rtype, name, data, language=None):
        flags = (1 if isinstance(rtype, str) else 0) | (2 if isinstance(name, str) else 0)
        flags |= 4 if language is None else 0
        tail = b"" if language is None else struct.pack("<H", language)
        return bytes([flags]) + key(rtype) + key(name) + tail + struct.pack("<H", len(data)) + data

    message_records = (record(263, "MOVIE", short_movie[:200]) + record(723, "VOICE", short_voice[:60]) +
                       record("WAVE", 150, chime) + record(2, 147, logo))
    writable = patched(patched(exe, 64 + 24 + 32, "II", 0x1000, 0x200), 64 + 24 + 56, "I", 0x2000)
    optional, table = 64 + 24, 64 + 24 + 224
    second_section = patched(patched(writable, table + 40, "8sIIII", b".reloc", 16, 0x11000, 0, 0), 64 + 6, "H", 2)
    templates = [
        *damaged(writable),
        ("x86_64", patched(writable, 64 + 4, "H", 0x8664)),
        ("pe32_plus", patched(writable, optional, "H", 0x20B)),
        ("no_resource_directory", patched(writable, optional + 96 + 16, "I", 0)),
        ("three_directories", patched(writable, optional + 92, "I", 2)),
        ("signed", patched(writable, optional + 96 + 32, "II", 0x4000, 8)),
        ("bytes_after", writable + bytes(16)),
        ("section_after", second_section),
        # A section ahead of it in the table whose image and file extents reach into it.
        ("section_into_it", patched(patched(patched(writable, table + 40, "40s", writable[table:table + 40]), table,
                                            "8sIIII", b".text", 0x10000, 0xF00, 0x2000, 0x180), 64 + 6, "H", 2)),
        ("directory_inside_section", patched(writable, table + 12, "I", 0x1000 - 0x10)),
        ("no_file_alignment", patched(writable, optional + 36, "I", 0)),
        ("section_off_alignment", patched(writable, optional + 32, "II", 0x400, 0x400)),
    ]
    write("message", "message_writer_fuzz", [
        ("template_records", bytes([0]) + message_records),
        ("template_set_over", bytes([4]) + record(263, "movie", short_movie[:100]) +
         record("Chime", 1, b"x" * 9, 0x407)),
        ("template_message", bytes([8]) + message_records),
        ("template_none", bytes([0])),
        ("template_duplicate", bytes([0]) + record("x", 1, b"") + record("X", 1, b"1")),
        ("template_long_name", bytes([0]) + record("N" * 65, 1, b"")),
        # Resources written directly, set over the template's own or as a message, by turns;
        # the overlapping sections directly, as they do not read back.
        *((f"own_{name}", bytes([3 if name == "section_into_it" else 3 | (4 if i % 2 else 0) | (8 if i % 3 == 0 else 0)]) +
           struct.pack("<H", len(data)) + data + message_records)
          for i, (name, data) in enumerate(templates)),
    ])

    # The resource readers: each hand-made seed cut and flipped (its first byte,
    # which picks the reader, kept).
    readers = FUZZ / "gtk" / "corpus" / "resource_readers_fuzz"
    hand_made = sorted(p for p in readers.iterdir() if not p.name.startswith("derived_"))
    seeds = []
    for path in hand_made:
        data = path.read_bytes()[:1024]  # the headers are at the start; keep seeds small
        size = len(data)
        for name, varied in variants(path.name, data, [1, 7, 23, size // 2, size - 1],
                                     [8 * 3 + 1, 8 * 9, 8 * 19 + 5, 8 * (size // 2)]):
            if name != path.name:
                seeds.append((name, data[:1] + varied[1:] if len(varied) > 1 else varied))
    write("gtk", "resource_readers_fuzz", seeds)


if __name__ == "__main__":
    main()
