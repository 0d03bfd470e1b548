"""make-message's readers of clip bytes fed hostile data: the carried message's
clips cut short, with bits flipped, with start codes planted, and random bytes.
Each reader must either give a consistent answer or raise its own error type
(ClipError for video, StreamError for speech), never anything else.

A bounded, seeded mutation run (the same inputs every time): the Python side's
counterpart of the fuzz targets, which cover the decoding that make-message
asks clipnote-decode to do.
"""

import os
import random
import sys
import unittest

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "make-message"))

from make_message import g723_stream, h263_stream, summary  # noqa: E402

ROUNDS = 2000


def resource(name):
    with open(os.path.join(SOURCE_DIR, "resources", name), "rb") as f:
        return f.read()


def mutations(rng, clip, planted):
    """Yields damaged versions of clip, ROUNDS of them."""
    for _ in range(ROUNDS):
        kind = rng.randrange(6)
        start = rng.randrange(len(clip))
        piece = bytearray(clip[start:start + rng.randrange(1, 3000)])
        if kind == 0:  # cut short
            piece = piece[:rng.randrange(len(piece) + 1)]
        elif kind == 1:  # single bits flipped
            for _ in range(rng.randrange(1, 4)):
                bit = rng.randrange(8 * len(piece))
                piece[bit // 8] ^= 1 << (bit % 8)
        elif kind == 2:  # a code planted, possibly at the very end
            at = rng.randrange(len(piece) + 1)
            piece[at:at] = rng.choice(planted)
        elif kind == 3:  # bytes overwritten with random ones
            for _ in range(rng.randrange(1, 16)):
                piece[rng.randrange(len(piece))] = rng.randrange(256)
        elif kind == 4:  # random bytes
            piece = bytearray(rng.randbytes(rng.randrange(64)))
        else:  # the clip's start, cut anywhere
            piece = bytearray(clip[:rng.randrange(len(clip))][:4000])
        yield bytes(piece)


class VideoReaders(unittest.TestCase):
    PLANTED = [b"\x00\x00\x80", b"\x00\x00\x82\x02", b"\x00\x00\xfc", b"\x00\x00\x85",
               b"\x00\x00", b"\x00\x00\x80\x00\x00\x00"]

    def check(self, data):
        offsets = h263_stream.picture_offsets(data)
        self.assertEqual(offsets, sorted(set(offsets)))
        self.assertTrue(all(0 <= o < len(data) for o in offsets))
        self.assertTrue(all(0 <= o < len(data) for o in h263_stream.gob_header_offsets(data)))
        headers = h263_stream.picture_headers(data)
        for index, header in enumerate(headers):
            self.assertTrue(0 <= header.temporal_reference <= 255)
            try:
                h263_stream.check_baseline_qcif(header, index)
            except h263_stream.ClipError:
                pass
        try:
            stripped = h263_stream.strip_end_of_sequence(data)
            self.assertTrue(data.startswith(stripped))
        except h263_stream.ClipError:
            pass
        try:
            ticks = [2 * i for i in range(len(headers))]
            retimed = h263_stream.retime(data, ticks)
            retimed_trs = [h.temporal_reference for h in h263_stream.picture_headers(retimed)]
            self.assertEqual(retimed_trs, [t % 256 for t in ticks])
        except h263_stream.ClipError:
            pass
        summary.video_summary(data)

    def test_damaged_and_random_clips(self):
        rng = random.Random(263)
        for data in mutations(rng, resource("message.263"), self.PLANTED):
            with self.subTest(data=data[:32].hex(), size=len(data)):
                self.check(data)


class SpeechReaders(unittest.TestCase):
    PLANTED = [b"\x00", b"\x01", b"\x02", b"\x03", b"\xff\xff\xff\xff", b"\x00\x00\x00\x00"]

    def check(self, data):
        try:
            frames = g723_stream.split_frames(data)
            self.assertEqual(b"".join(frames), data)
            for frame in frames:
                self.assertEqual(len(frame), g723_stream.FRAME_BYTES[frame[0] & 3])
                if g723_stream.frame_kind(frame) != g723_stream.UNTRANSMITTED:
                    self.assertTrue(0 <= g723_stream.lsp_word(frame) <= 0xFFFFFF)
                if g723_stream.frame_kind(frame) == g723_stream.SID:
                    self.assertTrue(0 <= g723_stream.sid_gain_index(frame) <= 63)
        except g723_stream.StreamError:
            pass
        try:
            capacity, frames = g723_stream.parse_voice_clip(data)
            self.assertTrue(0 <= capacity <= 0xFFFFFFFF)
            self.assertGreaterEqual(capacity, g723_stream.PCM_BYTES_PER_FRAME * len(frames))
            summary.speech_summary(data)
        except g723_stream.StreamError:
            pass

    def test_damaged_and_random_clips(self):
        rng = random.Random(723)
        voice = resource("message.723")
        for data in mutations(rng, voice, self.PLANTED):
            with self.subTest(data=data[:32].hex(), size=len(data)):
                self.check(data)
                # And as a whole VOICE clip: the carried prefix, then the damage.
                self.check(voice[:4] + data)


if __name__ == "__main__":
    unittest.main()
