"""Picture spacing: 2, 3, 4 or 8 ticks as the motion needs, ending exactly where asked."""

import random
import unittest

import tool_path  # noqa: F401
from make_message import picture_schedule as ps

W, H = ps.ANALYSIS_WIDTH, ps.ANALYSIS_HEIGHT


def ramp_frame(shift):
    """A horizontal sawtooth of period 16, moved right by shift pixels."""
    return [int(128 + 100 * (((x - shift) % 16) / 8 - 1)) for _ in range(H) for x in range(W)]


def gaps(ticks):
    return [b - a for a, b in zip(ticks, ticks[1:])]


class Speeds(unittest.TestCase):
    def test_still_frames_have_no_motion(self):
        frame = ramp_frame(0)
        self.assertEqual(ps.frame_speed(frame, list(frame)), 0.0)

    def test_faster_motion_measures_faster(self):
        # Small-image shifts of 0.25 px are 1 full-size pixel; in these frames a shift of one
        # small pixel is 4 full-size pixels.
        slow = ps.frame_speed(ramp_frame(0), ramp_frame(1))
        fast = ps.frame_speed(ramp_frame(0), ramp_frame(3))
        self.assertGreater(slow, 1.0)
        self.assertGreater(fast, slow)


class Schedule(unittest.TestCase):
    def test_still_content_is_sent_every_8_ticks(self):
        ticks = ps.schedule([0.0] * 100, 96)
        self.assertEqual(ticks, list(range(0, 97, 8)))

    def test_fast_content_every_2_ticks_and_moderate_in_between(self):
        self.assertEqual(set(gaps(ps.schedule([10.0] * 60, 40))), {2})
        for speed, gap in ((1.5, 4), (2.5, 3), (0.8, 8)):
            self.assertEqual(set(gaps(ps.schedule([speed] * 200, 192))), {gap}, speed)

    def test_motion_ahead_shortens_the_gap_before_it(self):
        speeds = [0.0] * 20 + [10.0] * 20 + [0.0] * 40
        ticks = ps.schedule(speeds, 72)
        moving = [g for t, g in zip(ticks, gaps(ticks)) if 20 <= t + g <= 40]
        self.assertTrue(moving and set(moving) == {2})
        self.assertIn(8, gaps(ticks))

    def test_any_length_ends_exactly_with_allowed_gaps(self):
        rng = random.Random(7)
        for last in range(2, 200):
            speeds = [rng.choice((0.0, 0.5, 1.5, 2.5, 9.0)) for _ in range(rng.randrange(1, 250))]
            ticks = ps.schedule(speeds, last)
            self.assertEqual((ticks[0], ticks[-1]), (0, last))
            self.assertTrue(all(g in ps.GAPS for g in gaps(ticks)), last)
        with self.assertRaises(ValueError):
            ps.schedule([0.0], 1)


if __name__ == "__main__":
    unittest.main()
