"""make-message end to end: short inputs made here, clips checked by decoding them."""

import base64
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import wave

import tool_path
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from clipnote_test_support import scratch_dir  # noqa: E402
from make_message import g723_stream, h263_stream, verify

TOOL = os.path.join(tool_path.TOOL_DIR, "make-message")
DECODER = os.environ.get("CLIPNOTE_DECODE")
HAVE_TOOLS = all(shutil.which(p) for p in ("ffmpeg", "ffprobe", "sox"))


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-y", *args], check=True)


def make_message(*args, env=None):
    return subprocess.run([sys.executable, TOOL, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=False, env=env)


def page_site(work):
    """The browser player's page as web/ builds it, with a stand-in for the module."""
    site = os.path.join(work, "site")
    shutil.copytree(os.path.join(tool_path.TOOL_DIR, "..", "..", "web", "page"), site)
    with open(os.path.join(site, "clipnote_wasm.js"), "w") as f:
        f.write("// the module\n")
    with open(os.path.join(site, "default_message.js"), "w") as f:
        f.write("export const builtInFiles = [];\nexport const logoBase64 = \"\";\n")
    return site


def page_files(path):
    """(name, bytes) of each message file a self-contained page carries."""
    with open(path, encoding="utf-8") as f:
        page = f.read()
    statement = page[page.index("/*clipnote-message-begin*/"):page.index("/*clipnote-message-end*/")]
    return [(name, base64.b64decode(data))
            for name, data in re.findall(r'name: "([^"]*)", base64: "([^"]*)"', statement)]


def decoder():
    """This build's clipnote-decode (CTest names it); else the one make-message would use."""
    return DECODER or verify.find_decoder()


def decode_pictures(path, work):
    """Pictures decoded by clipnote-decode and its per-picture lines."""
    out = os.path.join(work, "decoded.yuv")
    result = subprocess.run([decoder(), "video", path, out, "--verbose", "--force"], capture_output=True,
                            text=True, check=True)
    lines = [line for line in result.stdout.splitlines() if line.startswith("picture ")]
    return os.path.getsize(out) // 38016, lines


def decoded_speech_bytes(path, work):
    out = os.path.join(work, "speech.wav")
    subprocess.run([decoder(), "audio", path, out, "--voice", "--force"], capture_output=True, check=True)
    with wave.open(out, "rb") as w:
        return w.getnframes() * 2


@unittest.skipUnless(HAVE_TOOLS, "needs ffmpeg and sox")
class ShortMessage(unittest.TestCase):
    """Three seconds: a still second, a second of fast motion, a still second; a tone with a
    quiet gap in the middle."""

    @classmethod
    def setUpClass(cls):
        cls.work = scratch_dir(cls)
        cls.video = os.path.join(cls.work, "input.y4m")
        ffmpeg("-f", "lavfi", "-i", "color=c=0x204080:s=352x288:r=30:d=3", "-f", "lavfi",
               "-i", "color=c=orange:s=60x60:r=30:d=3", "-filter_complex",
               "[0:v][1:v]overlay=x='20+if(between(t,1,2),(t-1)*240,if(gt(t,2),240,0))':y=110,"
               "format=yuv420p", "-frames:v", "90", cls.video)
        cls.audio = os.path.join(cls.work, "input.wav")
        ffmpeg("-f", "lavfi", "-i",
               "aevalsrc='if(lt(t,0.9)+gt(t,2.1),0.4*sin(2*PI*220*t)*(1+0.6*sin(2*PI*4*t)),0)"
               "+0.003*(random(0)-0.5)':s=16000:d=3", cls.audio)
        cls.out = os.path.join(cls.work, "out")
        cls.page = os.path.join(cls.work, "message.html")
        cls.players = os.path.join(cls.work, "players")
        cls.result = make_message(cls.video, "--audio", cls.audio, "-o", cls.out, "--html", cls.page,
                                  "--build-player", cls.players,
                                  env=dict(os.environ, CLIPNOTE_WEB_SITE=page_site(cls.work)))
        with open(os.path.join(cls.out, "message.263"), "rb") as f:
            cls.movie = f.read()
        with open(os.path.join(cls.out, "message.723"), "rb") as f:
            cls.speech = f.read()

    def test_succeeds_and_reports_the_clips(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertIn("SID", self.result.stderr)

    def test_web_page_carries_both_clips(self):
        self.assertEqual(page_files(self.page), [("message.263", self.movie), ("message.723", self.speech)])

    def test_the_written_player_carries_both_clips(self):
        exe = os.path.join(self.players, "clipnote.exe")
        self.assertIn(f"wrote {exe}", self.result.stderr)
        extracted = os.path.join(self.work, "extracted")
        subprocess.run([verify.find_decoder(), "extract", exe, extracted], check=True,
                       stdout=subprocess.DEVNULL)
        for name, clip in (("message.263", self.movie), ("message.723", self.speech)):
            with open(os.path.join(extracted, name), "rb") as f:
                self.assertEqual(f.read(), clip, name)

    def test_every_picture_decodes_with_the_planned_references(self):
        headers = h263_stream.picture_headers(self.movie)
        trs = [h.temporal_reference for h in headers]
        count, lines = decode_pictures(os.path.join(self.out, "message.263"), self.work)
        self.assertEqual((count, len(lines)), (len(headers), len(headers)))
        for line, h in zip(lines, headers):
            self.assertIn(f"tr {h.temporal_reference} {h.kind} result 0", line)
        self.assertEqual((trs[0], headers[0].kind), (0, "INTRA"))
        for i, h in enumerate(headers):
            h263_stream.check_baseline_qcif(h, i)
        self.assertEqual(h263_stream.end_of_sequence_offsets(self.movie), [])

    def test_spacing_follows_the_motion(self):
        trs = [h.temporal_reference for h in h263_stream.picture_headers(self.movie)]
        gaps = h263_stream.tick_gaps(trs)
        self.assertTrue(set(gaps) <= {2, 3, 4, 8}, gaps)
        ticks = [sum(gaps[:i]) for i in range(len(trs))]
        moving = [g for t, g in zip(ticks, gaps) if 32 <= t + g <= 60]
        self.assertEqual(set(moving), {2})
        self.assertIn(8, [g for t, g in zip(ticks, gaps) if t + g <= 28])
        self.assertIn(8, [g for t, g in zip(ticks, gaps) if t >= 64])

    def test_speech_has_all_frame_kinds_and_ends_with_the_pictures(self):
        capacity, frames = g723_stream.parse_voice_clip(self.speech)
        self.assertEqual(len(frames), 100)
        self.assertEqual(capacity, 480 * (len(self.speech) - 4 + 1))
        kinds = [g723_stream.frame_kind(f) for f in frames]
        self.assertTrue({0, 2, 3} <= set(kinds), kinds)
        self.assertEqual(kinds[:25], [0] * 25)       # the tone is speech
        self.assertEqual(kinds[-25:], [0] * 25)
        self.assertIn(2, kinds[30:40])               # the gap is silence, opened by a SID
        for before, kind in zip(kinds, kinds[1:]):
            if kind == 3:
                self.assertIn(before, (2, 3))        # no untransmitted frame straight after speech
        last_tick = sum(h263_stream.tick_gaps(
            [h.temporal_reference for h in h263_stream.picture_headers(self.movie)]))
        self.assertTrue(0 <= last_tick / 30 - len(frames) * 0.03 < 1 / 30, last_tick)

    def test_speech_decodes_to_its_full_length(self):
        self.assertEqual(decoded_speech_bytes(os.path.join(self.out, "message.723"), self.work),
                         100 * 480)


@unittest.skipUnless(HAVE_TOOLS, "needs ffmpeg and sox")
class OtherInputs(unittest.TestCase):
    def setUp(self):
        self.work = scratch_dir(self)
        self.clip = os.path.join(self.work, "clip.mkv")
        ffmpeg("-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=1", "-c:v", "ffv1", self.clip)

    def out(self, name):
        return os.path.join(self.work, name)

    @unittest.skipUnless(shutil.which("espeak-ng"), "needs espeak-ng")
    def test_still_picture_held_for_spoken_text(self):
        image = self.out("still.png")
        ffmpeg("-f", "lavfi", "-i", "testsrc=s=176x144", "-frames:v", "1", image)
        result = make_message(image, "--say", "Hello there.", "-o", self.out("said"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.out("said/message.263"), "rb") as f:
            movie = f.read()
        with open(self.out("said/message.723"), "rb") as f:
            _, frames = g723_stream.parse_voice_clip(f.read())
        gaps = h263_stream.tick_gaps([h.temporal_reference
                                      for h in h263_stream.picture_headers(movie)])
        self.assertGreater(len(frames), 20)
        self.assertEqual(set(gaps[:-3]), {8})        # nothing moves; the end may need shorter
        self.assertGreaterEqual(sum(gaps) / 30, len(frames) * 0.03)

    def test_no_audio_makes_an_empty_speech_clip(self):
        result = make_message(self.clip, "--no-audio", "-o", self.out("silent"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.out("silent/message.723"), "rb") as f:
            self.assertEqual(f.read(), (480).to_bytes(4, "little"))

    def test_refusals_are_clear_and_write_nothing(self):
        garbage = self.out("garbage.mp4")
        with open(garbage, "wb") as f:
            f.write(b"this is not a video" * 10)
        sound = self.out("sound.wav")
        ffmpeg("-f", "lavfi", "-i", "sine=d=1", sound)
        too_long = self.out("long.mkv")
        ffmpeg("-f", "lavfi", "-i", "color=s=16x16:r=5:d=400", "-c:v", "ffv1", too_long)
        cases = [
            ([self.out("missing.mp4"), "--no-audio"], "cannot read"),
            ([garbage, "--no-audio"], "not a media file"),
            ([sound, "--no-audio"], "has no video stream"),
            ([self.clip], "has no sound"),
            ([self.clip, "--audio", self.clip], "has no audio stream"),
            ([self.clip, "--say", "   "], "empty"),
            ([too_long, "--no-audio"], "up to 300 s"),
            ([self.clip, "--no-audio", "--decoder", garbage], "is not an executable"),
            ([self.clip, "--no-audio", "--html", self.out("no-site.html")], "browser player's page"),
        ]
        for args, words in cases:
            with self.subTest(words):
                result = make_message(*args, "-o", self.out("refused"),
                                      env=dict(os.environ, CLIPNOTE_WEB_SITE=self.out("no-site")))
                self.assertEqual(result.returncode, 2)
                self.assertIn("make-message: error:", result.stderr)
                self.assertIn(words, result.stderr)
                self.assertFalse(os.path.exists(self.out("refused/message.263")))


def can_mount():
    """A small tmpfs and chattr +i need root, which CI has; elsewhere these tests say so."""
    if os.geteuid() == 0:
        return True
    if os.environ.get("CI", "") not in ("", "0", "false"):
        raise AssertionError("CI runs as root: mounting a small tmpfs and chattr need it")
    return False


@unittest.skipUnless(HAVE_TOOLS, "needs ffmpeg and sox")
class OutputSafety(unittest.TestCase):
    """The pair of clips is written whole or not at all, and what was there stays."""

    def setUp(self):
        self.work = scratch_dir(self)
        self.clip = os.path.join(self.work, "clip.mkv")
        ffmpeg("-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=1", "-c:v", "ffv1", self.clip)
        self.out = os.path.join(self.work, "out")
        os.makedirs(self.out)

    def test_failures_leave_nothing_of_the_run(self):
        if not can_mount():
            self.skipTest("needs root (mount a small tmpfs, chattr +i); CI runs it")
        # A filesystem too small for the video clip.
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4k", "clipnote-test", self.out], check=True)
        try:
            result = make_message(self.clip, "--no-audio", "-o", self.out)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn("No space left on device", result.stderr)
            self.assertEqual(os.listdir(self.out), [])
        finally:
            subprocess.run(["umount", self.out], check=True)
        # A speech clip that cannot be replaced: the new video clip is taken back too, and the
        # video clip it had replaced comes back.
        kept = os.path.join(self.out, "message.723")
        with open(kept, "wb") as f:
            f.write(b"old")
        older = os.path.join(self.out, "message.263")
        with open(older, "wb") as f:
            f.write(b"older")
        subprocess.run(["chattr", "+i", kept], check=True)
        try:
            result = make_message(self.clip, "--no-audio", "-o", self.out)
        finally:
            subprocess.run(["chattr", "-i", kept], check=True)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("cannot replace", result.stderr)
        self.assertEqual(sorted(os.listdir(self.out)), ["message.263", "message.723"])
        for path, content in ((kept, b"old"), (older, b"older")):
            with open(path, "rb") as f:
                self.assertEqual(f.read(), content)

    def test_a_signal_leaves_nothing_of_the_run(self):
        # Long enough that the run is still making its clips when the signal comes.
        clip = os.path.join(self.work, "long.mkv")
        ffmpeg("-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=20", "-c:v", "ffv1", clip)
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signum.name):
                work_dir = tempfile.mkdtemp(dir=self.work)
                run = subprocess.Popen([sys.executable, TOOL, clip, "--no-audio", "-o", self.out,
                                        "--work-dir", work_dir],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                deadline = time.monotonic() + 30
                while not os.listdir(work_dir) and time.monotonic() < deadline:
                    time.sleep(0.01)  # waits until the run is busy making the clips
                run.send_signal(signum)
                _, stderr = run.communicate(timeout=60)
                self.assertEqual(run.returncode, 130, stderr)
                self.assertIn("interrupted", stderr)
                self.assertEqual(os.listdir(self.out), [])


if __name__ == "__main__":
    unittest.main()
