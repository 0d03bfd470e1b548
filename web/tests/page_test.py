"""The browser player in headless chromium: its pictures and speech against the
native tools', its pacing against an injected audio clock and latency, its buttons,
"Click to play", messages chosen through the file input and a file that is no message.

Run with Debian's python (/usr/bin/python3), which sees python3-selenium:
  CLIPNOTE_WEB_SITE=build/web/site CLIPNOTE_DECODE=... CLIPNOTE_WEB_FIXTURES=... /usr/bin/python3 web/tests/page_test.py
"""
import os
import subprocess
import sys
import unittest

from browser import (DECODE, ROOT, SITE, PLAYBACK_STATE, NativeReference, Server, canvas_rgb, chromium, element_rgb,
                     page_pcm, require, scratch_dir, wait_for, wait_for_playback)

LATENCY = 0.2  # the injected output latency, seconds


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return f"first difference at pixel {i // 3} ({(i // 3) % 176}, {(i // 3) // 176}): {x} != {y}"
    return "lengths differ" if len(a) != len(b) else "equal"


class PageTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        require(os.path.join(SITE, "index.html"), "the built page")
        cls.reference = NativeReference(cls)
        cls.server = Server(SITE)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def open_page(self, **options):
        driver = chromium(**options)
        self.addCleanup(driver.quit)
        driver.get(self.server.url)
        wait_for(driver, "return document.body.dataset.ready === 'true'")
        return driver

    @staticmethod
    def state(driver):
        """The playback's state as the page has it: "starting", "playing" or "idle"."""
        return driver.execute_script(PLAYBACK_STATE)

    def assertPicture(self, driver, index, doubled):
        width, height, rgb = canvas_rgb(driver)
        self.assertEqual((width, height), (352, 288) if doubled else (176, 144))
        expected = self.reference.display(index, doubled)
        self.assertTrue(rgb == expected, f"picture {index}: {first_difference(rgb, expected)}")


class FakeClockPlayback(PageTestCase):
    """The page's clock is a stand-in: the test sets the context time and pumps."""

    def set_time(self, driver, seconds):
        driver.execute_script(f"clipnoteFakeAudio.currentTime = {seconds}; clipnotePage.playback.pump();")

    def started(self, driver):
        return wait_for(driver, "const r = clipnotePage.playback.run; return r && [r.start];")[0]

    def log(self, driver):
        return driver.execute_script("return clipnotePage.playback.drawLog")

    def test_pictures_follow_heard_time_and_match_the_player(self):
        driver = self.open_page(fake_latency=LATENCY)
        start = self.started(driver)
        # Picture 0 appears when the speech start is heard: handed over at `start`, heard LATENCY later.
        self.set_time(driver, start + LATENCY - 0.001)
        self.assertEqual(self.log(driver), [])
        self.set_time(driver, start + LATENCY)
        self.assertPicture(driver, 0, doubled=False)
        self.assertEqual(self.state(driver), "playing")
        self.assertFrameDrawnAsThePlayerDraws(driver)

        # In 5 ms steps every picture is drawn at its target plus the latency, none late.
        t = start + LATENCY
        for _ in range(200):
            t += 0.005
            self.set_time(driver, t)
        log = self.log(driver)
        self.assertGreater(len(log), 5)
        for entry in log:
            self.assertTrue(entry["drawn"], entry)
            self.assertGreaterEqual(entry["heard"], entry["target"] - 1e-9, entry)
            self.assertLess(entry["heard"] - entry["target"], 0.005 + 1e-9, entry)
        self.assertPicture(driver, log[-1]["picture"], doubled=False)

        # A jump of a second: the pictures it passes are decoded but not drawn; the next is on time.
        drawn_before = len(log)
        self.set_time(driver, t + 1.0)
        self.set_time(driver, t + 1.1)
        log = self.log(driver)[drawn_before:]
        skipped = [e for e in log if not e["drawn"]]
        self.assertGreater(len(skipped), 5)
        drawn = [e for e in log if e["drawn"]]
        self.assertGreater(drawn[-1]["picture"], skipped[-1]["picture"])
        self.assertLess(drawn[-1]["heard"] - drawn[-1]["target"], 0.1 + 1e-9)
        self.assertPicture(driver, drawn[-1]["picture"], doubled=False)

    def assertFrameDrawnAsThePlayerDraws(self, driver):
        """The frame's rings from its edge inwards, as the player's window draws the frame's
        styles: the raised dialog frame, the sunken client edge, the black frame line."""
        face, light, highlight, shadow, dark, black = "d4d0c8", "d4d0c8", "ffffff", "808080", "404040", "000000"
        upper_left = [light, highlight, face, shadow, dark, black]
        lower_right = [dark, shadow, face, highlight, light, black]
        width, height, rgb = element_rgb(driver, "video-frame")
        self.assertEqual((width, height), (190, 158))

        def colour(x, y):
            return rgb[3 * (y * width + x):3 * (y * width + x) + 3].hex()
        middle_x, middle_y = width // 2, height // 2
        self.assertEqual([colour(i, middle_y) for i in range(6)], upper_left, "left")
        self.assertEqual([colour(middle_x, i) for i in range(6)], upper_left, "top")
        self.assertEqual([colour(middle_x, height - 1 - i) for i in range(6)], lower_right, "bottom")
        # The picture covers the black line on the right.
        self.assertEqual([colour(width - 1 - i, middle_y) for i in range(5)], lower_right[:5], "right")
        # The lower and right edges own the corners top right and bottom left.
        self.assertEqual([colour(width - 1, 0), colour(0, height - 1)], [dark, dark])

    def test_stop_size_switch_and_replay(self):
        driver = self.open_page(fake_latency=LATENCY)
        play = driver.find_element("id", "play-button")
        size = driver.find_element("id", "size-button")
        start = self.started(driver)
        self.assertFalse(play.is_enabled())
        self.assertFalse(size.is_enabled())
        self.assertEqual(self.state(driver), "starting")
        self.set_time(driver, start + LATENCY)
        self.assertFalse(size.is_enabled())
        self.assertEqual(self.state(driver), "playing")
        play.click()
        self.assertEqual(self.state(driver), "idle")
        self.assertTrue(size.is_enabled())
        self.assertFalse(driver.execute_script("return clipnotePage.playback.playing"))

        size.click()
        self.assertEqual(size.text, "QCIF")
        wait = driver.find_element("id", "wait-text")
        self.assertEqual((wait.location["x"] - driver.find_element("id", "client").location["x"]), 98)
        self.assertTrue(wait.is_displayed())
        start = wait_for(driver, "const r = clipnotePage.playback.run; return r && r.start > 0 && [r.start];")[0]
        self.set_time(driver, start + LATENCY)
        self.assertPicture(driver, 0, doubled=True)
        for step in range(1, 101):
            self.set_time(driver, start + LATENCY + step * 0.005)
        self.assertPicture(driver, [e for e in self.log(driver) if e["drawn"]][-1]["picture"], doubled=True)

        # Stop and Play again: the message replays from its first picture.
        self.assertEqual(self.state(driver), "playing")
        play.click()
        self.assertEqual(self.state(driver), "idle")
        play.click()
        start = self.started(driver)
        self.set_time(driver, start + LATENCY)
        self.assertEqual([e["picture"] for e in self.log(driver)], [0])
        self.assertPicture(driver, 0, doubled=True)


class RealAudio(PageTestCase):
    def test_speech_equals_the_native_decoders(self):
        driver = self.open_page()
        wait_for(driver, "return clipnotePage.playback.lastPcm !== null")
        self.assertTrue(page_pcm(driver) == self.reference.pcm(), "the page's speech differs from clipnote-decode audio")

    def test_click_to_play_when_sound_needs_a_gesture(self):
        driver = self.open_page(autoplay=False)
        button = driver.find_element("id", "click-to-play")
        wait_for(driver, "return !document.getElementById('click-to-play').hidden")
        # The first picture waits under the prompt; nothing is paced before the sound starts.
        self.assertPicture(driver, 0, doubled=False)
        self.assertEqual(driver.execute_script("return clipnotePage.playback.drawLog.length"), 0)
        button.click()
        wait_for(driver, "return clipnotePage.playback.drawLog.length > 3")
        self.assertEqual(driver.execute_script("return clipnotePage.playback.audioContext.state"), "running")

    def test_chosen_message_and_a_file_that_is_no_message(self):
        driver = self.open_page()
        chooser = driver.find_element("id", "file-input")
        damaged = os.path.join(scratch_dir(self), "damaged.exe")
        with open(self.reference.path("message.exe"), "rb") as f:
            data = f.read()
        with open(damaged, "wb") as f:
            f.write(data[:200])
        chooser.send_keys(damaged)
        notice = wait_for(driver, "const t = document.getElementById('notice').textContent;"
                                  "return t.startsWith('damaged.exe') && t")
        self.assertTrue(notice.startswith("damaged.exe: "), notice)
        self.assertGreater(len(notice), len("damaged.exe: ") + 10)

        # The page still works: the whole message plays, with the speech the native decoder gives.
        driver.execute_script("document.getElementById('file-input').value = ''")
        chooser.send_keys(self.reference.path("message.exe"))
        wait_for_playback(driver, "playing", notice="Playing message.exe")
        wait_for(driver, "return clipnotePage.playback.drawLog.length > 3")
        self.assertTrue(page_pcm(driver) == self.reference.pcm())

    def test_video_only_and_speech_only_messages(self):
        driver = self.open_page()
        chooser = driver.find_element("id", "file-input")
        play = driver.find_element("id", "play-button")
        # Pictures alone run on the page's clock, with no sound to wait for.
        # The built-in message is playing already: each wait names the message it is for.
        chooser.send_keys(os.path.join(ROOT, "resources", "message.263"))
        wait_for_playback(driver, "playing", notice="Playing message.263")
        wait_for(driver, "return clipnotePage.playback.drawLog.length > 3")
        self.assertIsNone(driver.execute_script("return clipnotePage.playback.lastPcm"))
        # Speech alone: no picture, Stop offered while it plays, the size switch never.
        driver.execute_script("document.getElementById('file-input').value = ''")
        chooser.send_keys(os.path.join(ROOT, "resources", "message.723"))
        wait_for_playback(driver, "playing", notice="Playing message.723")
        self.assertFalse(driver.find_element("id", "picture").is_displayed())
        self.assertFalse(driver.find_element("id", "size-button").is_enabled())
        self.assertTrue(page_pcm(driver) == self.reference.pcm())
        play.click()
        self.assertEqual(self.state(driver), "idle")
        self.assertFalse(driver.find_element("id", "size-button").is_enabled())
        if os.environ.get("CLIPNOTE_WEB_SCREENSHOT"):
            driver.execute_script("document.getElementById('file-input').value = ''")
            chooser.send_keys(self.reference.path("message.exe"))
            wait_for_playback(driver, "playing", notice="Playing message.exe")
            wait_for(driver, "return clipnotePage.playback.drawLog.length > 30")
            driver.find_element("id", "player-window").screenshot(os.environ["CLIPNOTE_WEB_SCREENSHOT"])


class SelfContainedPage(PageTestCase):
    """The one-file page of a message, opened from disk with no server."""

    def make_page(self, message, out):
        # clipnote-decode html where it has the command, else the page maker it uses.
        page = os.path.join(os.path.dirname(SITE.rstrip("/")), "clipnote_message.html")
        usage = subprocess.run([DECODE, "html", "--help"], capture_output=True, text=True).stdout
        if "usage: clipnote-decode html" in usage:
            subprocess.run([DECODE, "html", message, out, "--force"], check=True,
                           env=dict(os.environ, CLIPNOTE_WEB_PAGE=page))
            return True
        subprocess.run([sys.executable, os.path.join(ROOT, "web", "tools", "make_single_html.py"), SITE, out, message],
                       check=True)
        return False

    def test_message_page_plays_from_file(self):
        folder = scratch_dir(self)
        out = os.path.join(folder, "message.html")
        if self.make_page(self.reference.path("message.exe"), out):
            # The page carries the clips and the logo, not the executable: it is the page
            # made from the two clips, byte for byte.
            clips = os.path.join(folder, "clips.html")
            subprocess.run([sys.executable, os.path.join(ROOT, "web", "tools", "make_single_html.py"), SITE, clips,
                            os.path.join(ROOT, "resources", "message.263"), os.path.join(ROOT, "resources", "message.723")],
                           check=True)
            with open(out, "rb") as a, open(clips, "rb") as b:
                self.assertTrue(a.read() == b.read(), "clipnote-decode html differs from the page of the clips")
        self.assertPlaysFromFile(out)

    def test_make_message_page_of_the_two_clips_plays_from_file(self):
        # make-message --html: the writer puts the two clips into the player, and the page is
        # made from that message as clipnote-decode html makes it.
        folder = scratch_dir(self)
        message = os.path.join(folder, "message.exe")
        subprocess.run([DECODE, "pack", os.path.join(ROOT, "resources", "message.263"),
                        os.path.join(ROOT, "resources", "message.723"), message, "--force"], check=True,
                       stdout=subprocess.DEVNULL)
        out = os.path.join(folder, "clips.html")
        self.make_page(message, out)
        self.assertPlaysFromFile(out)

    def assertPlaysFromFile(self, out):
        driver = chromium(fake_latency=LATENCY)
        self.addCleanup(driver.quit)
        driver.get("file://" + out)
        wait_for(driver, "return document.body.dataset.ready === 'true'")
        start = wait_for(driver, "const r = clipnotePage.playback.run; return r && [r.start];")[0]
        driver.execute_script(f"clipnoteFakeAudio.currentTime = {start + LATENCY}; clipnotePage.playback.pump();")
        self.assertPicture(driver, 0, doubled=False)
        self.assertTrue(page_pcm(driver) == self.reference.pcm(), "the speech decoded in the page's worker differs")
        self.assertEqual(driver.find_element("id", "notice").text, "")
        # The logo is shown: its bitmap came through whole.
        self.assertEqual(wait_for(driver, "const l = document.getElementById('logo');"
                                          "return l.complete && [l.naturalWidth, l.naturalHeight];"), self.logo_size())

    @staticmethod
    def logo_size():
        with open(os.path.join(ROOT, "resources", "logo.bmp"), "rb") as f:
            header = f.read(26)
        return [int.from_bytes(header[18:22], "little", signed=True), abs(int.from_bytes(header[22:26], "little", signed=True))]


if __name__ == "__main__":
    unittest.main()
