"""Frame streams, picture headers and the SID gain: the bit layouts the player reads."""

import math
import random
import struct
import unittest

import tool_path  # noqa: F401
from make_message import g723_stream, h263_stream, sid_gain


def picture_header(tr=0, source_format=2, coding_type=0, pquant=8, pei=0, options=0,
                   ptype_bit2=0):
    """A byte-aligned picture header followed by zero padding, built bit by bit."""
    bits = "0" * 16 + "100000" + format(tr, "08b") + "1" + str(ptype_bit2) + "000"
    bits += format(source_format, "03b") + str(coding_type)
    bits += format(options, "04b") + format(pquant, "05b") + "0" + str(pei)
    bits += "0" * (-len(bits) % 8)
    return bytearray(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8)) + bytes(8)


class SpeechFrames(unittest.TestCase):
    def test_sid_frame_layout(self):
        frame = g723_stream.sid_frame(0xABCDEF, 45)
        self.assertEqual(len(frame), 4)
        word = int.from_bytes(frame, "little")
        self.assertEqual(word & 3, 2)
        self.assertEqual((word >> 2) & 0xFFFFFF, 0xABCDEF)
        self.assertEqual(word >> 26, 45)
        self.assertEqual(g723_stream.lsp_word(frame), 0xABCDEF)
        self.assertEqual(g723_stream.sid_gain_index(frame), 45)
        with self.assertRaises(ValueError):
            g723_stream.sid_frame(0, 64)

    def test_lsp_word_of_an_active_frame_is_bits_2_to_25(self):
        active = (0x123456 << 2).to_bytes(4, "little") + bytes(20)
        self.assertEqual(g723_stream.lsp_word(active), 0x123456)

    def test_mixed_frames_split_by_their_first_byte(self):
        frames = [bytes([0]) + bytes(23), bytes([1]) + bytes(19),
                  g723_stream.sid_frame(7, 3), g723_stream.UNTRANSMITTED_FRAME]
        self.assertEqual(g723_stream.split_frames(b"".join(frames)), frames)
        with self.assertRaises(g723_stream.StreamError):
            g723_stream.split_frames(b"".join(frames) + bytes([0]) + bytes(5))

    def test_voice_clip_prefix_reserves_a_frame_per_byte_plus_one(self):
        frames = [bytes(24), g723_stream.sid_frame(1, 1)] + [g723_stream.UNTRANSMITTED_FRAME] * 3
        clip = g723_stream.voice_clip(frames)
        self.assertEqual(struct.unpack_from("<I", clip)[0], 480 * (31 + 1))
        capacity, parsed = g723_stream.parse_voice_clip(clip)
        self.assertEqual(parsed, frames)
        self.assertEqual(g723_stream.kind_counts(parsed),
                         {"active": 1, "sid": 1, "untransmitted": 3})
        self.assertEqual(g723_stream.voice_clip([]), struct.pack("<I", 480))
        with self.assertRaises(g723_stream.StreamError):
            g723_stream.parse_voice_clip(b"\x00\x00")


class SidGain(unittest.TestCase):
    def test_decoded_gains(self):
        self.assertEqual([sid_gain.decode_sid_gain(i) for i in (0, 15, 16, 47, 48, 63)],
                         [0, 30, 32, 216, 224, 344])

    def test_every_level_quantises_to_itself(self):
        for index in range(64):
            gain = sid_gain.decode_sid_gain(index)
            chosen = sid_gain.quantise_sid_gain(120.0 * gain * gain)
            self.assertEqual(sid_gain.decode_sid_gain(chosen), gain, index)

    def test_nearest_level_in_the_squared_domain_and_monotonic(self):
        previous = 0
        for step in range(0, 400):
            level = step * 0.9
            index = sid_gain.quantise_sid_gain(120.0 * level * level)
            self.assertGreaterEqual(index, previous)
            previous = index
            x = (0.008333 * 120.0) * level * level
            best = min(range(64), key=lambda i: abs(sid_gain.decode_sid_gain(i) ** 2 - x))
            self.assertLessEqual(abs(sid_gain.decode_sid_gain(index) ** 2 - x),
                                 abs(sid_gain.decode_sid_gain(best) ** 2 - x) + 1e-6 * x + 1)
        self.assertEqual(sid_gain.quantise_sid_gain(1e12), 63)
        self.assertEqual(sid_gain.quantise_sid_gain(0.0), 0)

    def test_residual_level_of_noise_and_of_a_tone(self):
        rng = random.Random(1)
        noise = [rng.gauss(0, 100) for _ in range(960)]
        # White noise cannot be predicted: the residual keeps nearly all of its energy.
        self.assertAlmostEqual(sid_gain.residual_energy(noise) / 120 / 100 ** 2, 1.0, delta=0.15)
        tone = [1000 * math.sin(0.3 * n) for n in range(960)]
        self.assertLess(sid_gain.residual_energy(tone) / 120, 0.01 * 1000 ** 2 / 2)
        self.assertEqual(sid_gain.residual_energy([0] * 240), 0.0)


class PictureHeaders(unittest.TestCase):
    def test_fields_and_temporal_reference_rewrite(self):
        data = picture_header(tr=0, coding_type=1, pquant=12)
        header = h263_stream.parse_picture_header(data, 0)
        self.assertEqual((header.source_format, header.kind, header.pquant, header.pei),
                         (2, "INTER", 12, 0))
        for tr in (0, 1, 63, 64, 200, 255, 256 + 5):
            h263_stream.set_temporal_reference(data, 0, tr)
            again = h263_stream.parse_picture_header(data, 0)
            self.assertEqual(again.temporal_reference, tr % 256)
            self.assertEqual((again.source_format, again.pquant), (2, 12))
        self.assertEqual(h263_stream.picture_offsets(data), [0])

    def test_what_the_player_cannot_show_is_refused(self):
        refused = {"CIF": picture_header(source_format=3), "PEI": picture_header(pei=1),
                   "PB-frames": picture_header(options=1), "UMV": picture_header(options=8),
                   "not H.263": picture_header(ptype_bit2=1)}
        for name, data in refused.items():
            with self.subTest(name), self.assertRaises(h263_stream.ClipError):
                h263_stream.check_baseline_qcif(h263_stream.parse_picture_header(data, 0), 0)
        h263_stream.check_baseline_qcif(h263_stream.parse_picture_header(picture_header(), 0), 0)

    def test_retime_and_end_of_sequence(self):
        stream = bytes(picture_header(coding_type=0)) + bytes(picture_header(coding_type=1))
        eos = b"\x00\x00\xfc\x00"
        out = h263_stream.retime(stream + eos, [0, 8])
        self.assertNotIn(b"\x00\x00\xfc", out)
        self.assertEqual([h.temporal_reference for h in h263_stream.picture_headers(out)], [0, 8])
        with self.assertRaises(h263_stream.ClipError):
            h263_stream.retime(stream, [0, 2, 4])          # a picture count mismatch
        with self.assertRaises(h263_stream.ClipError):
            h263_stream.retime(bytes(picture_header(coding_type=1)), [0])  # not intra first
        with self.assertRaises(h263_stream.ClipError):
            h263_stream.strip_end_of_sequence(stream[:12] + eos + stream[12:] + stream)

    def test_gaps_wrap_at_256(self):
        self.assertEqual(h263_stream.tick_gaps([250, 2, 4, 12]), [8, 2, 8])


if __name__ == "__main__":
    unittest.main()
